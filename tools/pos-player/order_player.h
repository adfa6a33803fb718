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
};

class COcsSearch;

// A COM name given again to another adapter is said, once (what AssignAdapterPorts told since).
void PrintAdapterNotes(FILE* err);

// Reads the command line (without the program name); false with a one-line error when it is wrong.
bool ParsePlayerArgs(const QStringList& args, SPlayerOptions& options, QString& error);
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
    std::unique_ptr<CReplyJudge> m_pJudge;
    QTimer m_judgeTimer;
    bool m_bAwaitingReplies = false; // every pass played; the last lines' replies may still come
    QTimer m_reopenTimer;
    bool m_bWaitingForPort = false;  // --reconnect: the device went away, the order waits for it
    bool m_bWaitingForStart = false; // --reconnect: the device was not there at the start
};
