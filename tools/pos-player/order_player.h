#pragma once

#include "app/app_settings.h"
#include "capture/capture_journal.h"
#include "capture/capture_list.h"
#include "reply_judge.h"
#include "script/order_session.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

// Exit status of the player.
enum {
    PLAYER_OK = 0,
    PLAYER_USAGE = 2,          // bad command line
    PLAYER_NO_SCRIPT = 3,      // the POS definition file cannot be found or read
    PLAYER_NO_LINK = 4,        // the connection cannot be made
    PLAYER_LINK_LOST = 5,      // the connection dropped while playing
    PLAYER_NO_CAPTURE = 6,     // the capture file (or the report) cannot be written
    PLAYER_REPLIES_FAILED = 7, // a line got a wrong reply or none (with --expect)
    PLAYER_INTERRUPTED = 130,  // Ctrl+C before the passes asked for were played
};

struct SPlayerOptions {
    QString strScript;     // a POS definition file, or the name of one in the POS folder
    CAppSettings settings; // link and checksum, as the window would hold them
    int nTcpPort = OCS_TCP_PORT;
    QString strTcpHost;       // as given: a name or an address
    QStringList tcpAddresses; // what it stands for, tried in turn
    int nPasses = 1;          // 0: until Ctrl+C
    QString strCapture;       // capture file to write at the end, if any
    QByteArray expect;        // the reply every data line must get; empty: nothing is judged
    int nReplyTimeoutMs = 1000;
    QString strJUnit;        // JUnit XML report to write at the end, if any
    bool bReconnect = false; // serial: wait for a device that went away, and go on
    bool bDetect = false;    // search the serial ports for the OCS instead of playing
    bool bListPorts = false; // print the COM names and what they stand for instead of playing
    bool bHelp = false;
    bool bVersion = false;
    int nChecksum = -1;         // --checksum 1, --no-checksum 0; -1: the POS name decides
    int nIncludeEtx = -1;       // --include-etx 1, --no-include-etx 0; -1: not included
    bool bMsTimestamps = false; // --timestamps ms
    qint64 nDurationMs = 0;     // --duration: passes until then, then the pass under way is finished
    qint64 nSummaryEveryMs = 0; // --summary-every
    QString strLanes;           // --lanes FILE: the lanes to play; the other options apply to each
    QString strLane;            // the lane's name, for a lane of a lanes file
};

// What a player's lines are: capture lines, judgements and summaries (standard output), or messages
// (standard error).
enum EPlayerText { PLAYER_TEXT_CAPTURE, PLAYER_TEXT_REPORT, PLAYER_TEXT_MESSAGE };
using PlayerSink = std::function<void(EPlayerText kind, const QByteArray& text)>;

// What a finished player leaves for the lab's report.
struct SPlayerOutcome {
    int nStatus = PLAYER_OK;
    QString strRunError;                       // why the run failed, other than by its judged replies
    double nSeconds = 0;                       // from the start to the end
    int nDataLines = 0;                        // data lines sent
    std::shared_ptr<const CReplyJudge> pJudge; // null: nothing was judged
};

// The worse of two exit statuses: 7 (replies failed) only when no other applies.
int WorseStatus(int a, int b);

class COcsSearch;

// A COM name given again to another adapter is said, once (what AssignAdapterPorts told since).
void PrintAdapterNotes(FILE* err);

// Reads the command line (without the program name); false with a one-line error when it is wrong.
bool ParsePlayerArgs(const QStringList& args, SPlayerOptions& options, QString& error);
// Takes one option, as a lanes file gives it ("--baud" with "19200", "--checksum" with "yes"); false
// with the reason when the option is unknown or the value wrong.
bool TakePlayerOption(const QString& option, const QString& value, SPlayerOptions& options, QString& error);
// Checks what the options say together and lets the POS name decide the checksum when they do not.
bool FinishPlayerOptions(SPlayerOptions& options, QString& error);
// The --help text, with what is true on the platform it runs on.
QByteArray PlayerUsageText();
// --detect: prints the search's tries to err and what it found to out; done gets PLAYER_OK when found,
// PLAYER_NO_LINK when not, PLAYER_INTERRUPTED when cancelled.
void ReportSearch(COcsSearch& search, FILE* out, FILE* err, const std::function<void(int status)>& done);

// Plays a POS definition file to an OCS the way the window's continuous play does, printing each
// capture line as it happens: the command line's face of the order session. Ends the event loop
// with the exit status when done.
class COrderPlayer : public QObject {
    Q_OBJECT
public:
    COrderPlayer(const SPlayerOptions& options, FILE* out, FILE* err);
    ~COrderPlayer() override;
    // Loads the script and opens the link; on failure ends at once with the status.
    void Start();
    // Ctrl+C: finishes the pass at 10 ms a line; a second one ends at once.
    void Interrupt();
    int ExitStatus() const { return m_nStatus; }
    // Where the lines go instead of the streams given (a lane of a lab).
    void SetSink(PlayerSink sink) { m_sink = std::move(sink); }
    const COrderSession& Session() const { return m_session; }
    SPlayerOutcome Outcome() const;
    // "judged 24 lines: ..." or, with nothing judged, the data lines sent.
    QByteArray SummaryLine() const;
    const CCaptureLines& TxLines() const { return m_tx; }
    const CCaptureLines& RxLines() const { return m_rx; }

signals:
    void Finished(int status);

private:
    void OnPassesPlayed();
    void OnLineSent(const SSentLine& line);
    void OnLinkLost(const QString& reason);
    void NoConnection();
    void AddTx(const QByteArray& text, int kind);
    void AddRx(const QByteArray& text, bool serial);
    void Fail(int status, const QString& message);
    void TryReopen();
    void End(int status);
    void ArmJudgeTimer();
    void OnJudgeTimer();
    void ReportJudgement();
    void WriteReport();
    void KeepLine(CCaptureLines& lines, const QByteArray& line);
    void TellJournalFailure(const QString& reason);
    void TellAdapterNotes();
    void Show(EPlayerText kind, const QByteArray& text);
    void Tell(const QString& message);

    SPlayerOptions m_options;
    FILE* m_out;
    FILE* m_err;
    COrderSession m_session;
    CCaptureLines m_tx;
    CCaptureLines m_rx;
    CCaptureJournal m_journal; // where the capture is kept on disk while the player runs
    QTimer m_syncTimer;
    bool m_bJournalFailureTold = false;
    QString m_strRunError;        // why the run failed, other than by its judged replies
    bool m_bKeepJournals = false; // the capture file failed: the journals stay for POS Emulator to offer
    bool m_bLinked = false;       // the link was made at some point
    bool m_bFinishing = false;    // Ctrl+C: the rest of the pass at 10 ms a line
    bool m_bEnding = false;
    bool m_bEnded = false; // the capture is complete
    int m_nStatus = PLAYER_OK;
    std::shared_ptr<CReplyJudge> m_pJudge;
    PlayerSink m_sink;
    QTimer m_durationTimer;
    QTimer m_summaryTimer;
    QTimer m_judgeTimer;
    bool m_bAwaitingReplies = false; // every pass played; the last lines' replies may still come
    QTimer m_reopenTimer;
    bool m_bWaitingForPort = false;  // --reconnect: the device went away, the order waits for it
    bool m_bWaitingForStart = false; // --reconnect: the device was not there at the start
};
