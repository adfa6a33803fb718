#pragma once

#include "app/app_settings.h"
#include "script/order_pacer.h"
#include "script/order_script.h"
#include "transport/ocs_client.h"
#include "transport/port_ctl.h"
#include "transport/reply_queue.h"
#include "transport/serial_gather.h"
#include "transport/thread_handoff.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <atomic>

// Received data waiting for the session's thread beyond this holds the receive thread back, and with
// it the OCS.
constexpr qsizetype SESSION_RX_PENDING_LIMIT = 1024 * 1024;

// One script line as it went out (or was only logged).
struct SSentLine {
    QByteArray text;     // as the capture shows it, without time and keyword
    int nKind = 0;       // TXLINE_*
    int nLine = 0;       // the script's line number, from 1
    int nPass = 1;       // the pass it belongs to, from 1
    qint64 nSentNs = 0;  // when its last byte left, on the session's clock
    bool IsData() const; // its bytes went on the wire
};

// The order engine that the window and pos-player both drive: it owns the script, the pacer, the
// serial port and its gathering, the TCP client and its reply hand-off, and plays the script's lines
// to the OCS. It tells what happens through signals and return values; it shows nothing itself.
//
// An order: Open (serial opens at once, TCP connects in the background: Connecting, then Connected
// or ConnectFailed), lines paced on the order timer (or one by one with Step in step mode), Stop
// (the rest of the pass at 10 ms a line), Finished at the end of the script, then Close.
class COrderSession : public QObject, public COcsClientEvents {
    Q_OBJECT
public:
    explicit COrderSession(QObject* parent = nullptr);
    ~COrderSession() override;

    COrderScript& Script() { return m_script; }
    const COrderScript& Script() const { return m_script; }

    // The addresses tried in turn and the port, instead of the settings' one address and 48501.
    void SetTcpTargets(const QStringList& addresses, int port);
    // How many passes continuous play makes before Finished; 0 (the window's way): until Stop.
    void SetPassLimit(int passes) { m_nPassLimit = passes; }
    // Step mode: lines go only on Step; the order timer idles meanwhile.
    void SetStepMode(bool step) { m_bStepMode = step; }

    // Opens the link the settings choose; false with the reason when it cannot be opened (for TCP:
    // when no connect could even be started).
    bool Open(const CAppSettings& settings, QString* why = nullptr);
    // Ends the link and the order at once; what was received before is delivered first.
    void Close();
    // Stop: while connecting, ends the attempt (false); while playing, finishes the pass at 10 ms a
    // line (true: Finished follows); otherwise false.
    bool Stop();
    // Plays the next line at once (wrapping after the last); false when the script has no line.
    bool Step();
    // One tick of the order timer (public so that the window's timer and tests may drive it).
    void OnTick();
    // The serial device came back after LinkLost: reopens it and goes on, the line whose bytes
    // failed first. False (and nothing changes) while it cannot be opened.
    bool Reopen();

    bool IsOpen() const; // serial open, or TCP connected
    bool IsConnecting() const { return m_bConnecting; }
    bool IsRunning() const { return m_bRunning; } // lines are played (or stepped) on an open link
    bool IsStepMode() const { return m_bStepMode; }
    bool IsFinishing() const { return m_bFinishing; }
    bool UsesSerial() const { return m_settings.m_bUseSerial != 0; }
    int PassesDone() const { return m_nPassesDone; }
    int DataLinesSent() const { return m_nDataLinesSent; }
    qint64 ElapsedNs() const { return m_clock.nsecsElapsed(); }
    const CAppSettings& Settings() const { return m_settings; }

    void OnOcsConnect(const QString& address, int port, int error) override;
    void OnOcsReceive(const QString& address, int port, char* data, int length, int flags) override;
    void OnOcsDisconnect(const QString& address, int port, int error) override;

signals:
    void Connecting(const QString& address);
    void Connected();
    void ConnectFailed(const QString& reason);
    // The link failed while open (the OCS closed, a write failed, the device went away). The session
    // is closed already unless it is serial, when Reopen may go on.
    void LinkLost(const QString& reason);
    // Reopen brought the device back; the line that failed goes next.
    void Reconnected();
    void LineSent(const SSentLine& line);
    // One [Rx] line's bytes (a TCP chunk, or one gathering of serial input).
    void ReplyReceived(const QByteArray& text, bool serial);
    // Received bytes as they are read, stamped on the session's clock (for judging replies).
    void BytesReceived(const QByteArray& bytes, qint64 receivedNs);
    // A line played while finishing after Stop (or the end reached): index of the line, line count.
    void FinishProgress(int index, int count);
    // The script's end reached without wrapping: the passes asked for are played, or Stop's finishing
    // is done. The link is still open; the owner closes it.
    void Finished();

private:
    void HandleConnectOutcome(int error);
    bool ConnectNext();
    qint64 PlayLine(const QByteArray& line, int lineNumber);
    bool SendBytes(const QByteArray& bytes);
    void SerialFailed();
    void DrainReplies();
    void CloseClient();
    void Schedule(int delayMs);

    CAppSettings m_settings;
    COrderScript m_script;
    CThreadHandoff m_handoff; // the client's threads reach the session through it
    COcsClient m_client;
    CPortCtl m_port;
    CSerialGather m_gather;
    CReplyQueue m_replies{SESSION_RX_PENDING_LIMIT};
    COrderPacer m_pacer;
    QTimer m_timer;
    QElapsedTimer m_clock; // one clock for lines sent and bytes received, read on any thread
    QStringList m_tcpAddresses;
    int m_nTcpPort = OCS_TCP_PORT;
    int m_nAddress = 0;
    int m_nPassLimit = 0;
    int m_nPassesDone = 0;
    int m_nDataLinesSent = 0;
    bool m_bSerialOpen = false;
    bool m_bConnecting = false;
    bool m_bRunning = false;
    bool m_bStepMode = false;
    bool m_bFinishing = false;
    bool m_bSerialDown = false; // the device went away; Reopen may bring it back
    QByteArray m_lineUnsent;    // the line whose bytes failed as the device went
    int m_nLineUnsent = 0;
    // Work handed over from the client's threads counts only while these still match: the link's
    // events per link, replies per order (those of a closed link still show).
    std::atomic<unsigned> m_nLinkGeneration{0};
    std::atomic<unsigned> m_nCaptureGeneration{0};
};
