#include "script/order_session.h"

#include "capture/capture_log.h"
#include "script/order_line.h"

namespace {
const char LINK_LOST_TEXT[] = "Connection Error!";

QString LinkLostText(const QString& detail) {
    return QString::fromLatin1(LINK_LOST_TEXT) + QLatin1Char(' ') + detail;
}
} // namespace

bool SSentLine::IsData() const {
    return nKind == TXLINE_SERIAL || nKind == TXLINE_NETWORK;
}

COrderSession::COrderSession(QObject* parent)
    : QObject(parent), m_port(this),
      m_gather(m_port, [this](const QByteArray& text) { emit ReplyReceived(text, true); }) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &COrderSession::OnTick);
    connect(&m_port, &CPortCtl::DataWaiting, &m_gather, &CSerialGather::OnInput);
    connect(&m_port, &CPortCtl::PortLost, this, &COrderSession::SerialFailed);
    m_gather.SetByteTap([this](const QByteArray& bytes) { emit BytesReceived(bytes, ElapsedNs()); });
    m_client.SetHandler(this);
    m_clock.start();
}

COrderSession::~COrderSession() {
    // No thread of the client may outlive the session, nor call into it while it goes.
    m_client.SetHandler(nullptr);
    CloseClient();
    m_port.ClosePort();
}

void COrderSession::SetTcpTargets(const QStringList& addresses, int port) {
    m_tcpAddresses = addresses;
    m_nTcpPort = port;
}

bool COrderSession::IsOpen() const {
    return m_bSerialOpen || (m_settings.m_bUseNetwork && m_client.IsConnected());
}

void COrderSession::Schedule(int delayMs) {
    m_timer.start(m_pacer.Schedule(delayMs));
}

bool COrderSession::Open(const CAppSettings& settings, QString* why) {
    if (m_bConnecting || (m_settings.m_bUseNetwork && m_client.IsConnected())) {
        if (why)
            *why = QStringLiteral("a connection is open already");
        return false;
    }
    if (m_bSerialOpen)
        Close();
    m_settings = settings;
    m_bFinishing = false;
    m_bSerialDown = false;
    m_lineUnsent.clear();
    m_nPassesDone = 0;
    m_nDataLinesSent = 0;
    if (m_settings.m_bUseSerial) {
        ApplyPortSettings(m_port, m_settings);
        if (m_port.OpenPort() < 1) {
            if (why)
                *why = m_port.OpenProblem();
            return false;
        }
        ++m_nLinkGeneration;
        ++m_nCaptureGeneration;
        m_bSerialOpen = true;
        m_bRunning = true;
        Schedule(ORDER_IDLE_DELAY_MS);
        emit Connected();
        return true;
    }
    if (!m_settings.m_bUseNetwork) {
        if (why)
            *why = QStringLiteral("Choose Serial or Network on the Communications page.");
        return false;
    }
    ++m_nLinkGeneration;
    // Replies of earlier links are dropped from here on; those of the new one are drained on this
    // thread, after the caller has made ready for them, so a greeting on connect shows too.
    ++m_nCaptureGeneration;
    m_nAddress = 0;
    if (!ConnectNext()) {
        if (why)
            *why = QStringLiteral("the connection cannot be started");
        return false;
    }
    return true;
}

// Each address in turn until a connect starts; the outcome comes to OnOcsConnect.
bool COrderSession::ConnectNext() {
    const QStringList addresses =
        m_tcpAddresses.isEmpty() ? QStringList{m_settings.m_strIpAddress} : m_tcpAddresses;
    for (; m_nAddress < addresses.size(); ++m_nAddress) {
        CloseClient();
        if (m_client.Connect(addresses[m_nAddress], m_nTcpPort) == 0) {
            m_bConnecting = true;
            emit Connecting(addresses[m_nAddress]);
            return true;
        }
    }
    m_bConnecting = false;
    return false;
}

void COrderSession::OnOcsConnect(const QString&, int, int error) {
    const unsigned generation = m_nLinkGeneration;
    m_handoff.Post([this, generation, error] {
        if (generation == m_nLinkGeneration)
            HandleConnectOutcome(error);
    });
}

void COrderSession::HandleConnectOutcome(int error) {
    if (error == 0) {
        m_bConnecting = false;
        m_bRunning = true;
        Schedule(ORDER_IDLE_DELAY_MS);
        emit Connected();
        return;
    }
    ++m_nAddress;
    if (ConnectNext())
        return;
    CloseClient();
    ++m_nLinkGeneration;
    m_bStepMode = false;
    emit ConnectFailed(QStringLiteral("Unable to connect to OCS"));
}

void COrderSession::OnOcsReceive(const QString&, int, char* data, int length, int) {
    // The chunk whole is its [Rx] line: every byte shows, 0x00 as "<00>".
    if (m_replies.Push(m_nCaptureGeneration, QByteArray(data, std::max(0, length)), ElapsedNs()))
        m_handoff.Post([this] { DrainReplies(); });
}

void COrderSession::DrainReplies() {
    for (const SReplyChunk& chunk : m_replies.Take()) {
        if (chunk.nGeneration != m_nCaptureGeneration)
            continue;
        emit ReplyReceived(chunk.text, false);
        emit BytesReceived(chunk.text, chunk.nReceivedNs);
    }
}

void COrderSession::OnOcsDisconnect(const QString&, int, int) {
    const unsigned generation = m_nLinkGeneration;
    m_handoff.Post([this, generation] {
        if (generation != m_nLinkGeneration)
            return;
        Close();
        emit LinkLost(LinkLostText(QStringLiteral("The OCS closed the connection.")));
    });
}

// Every close of the client goes through here: a receive thread waiting for the session must not hold
// up the Close that waits for it.
void COrderSession::CloseClient() {
    m_replies.CloseSender([this] { m_client.Close(); });
}

void COrderSession::Close() {
    ++m_nLinkGeneration;
    m_timer.stop();
    m_pacer.Idle();
    if (m_bSerialOpen || m_bSerialDown) {
        m_gather.Finish();
        m_port.ClosePort();
    }
    if (m_settings.m_bUseNetwork || m_bConnecting)
        CloseClient();
    DrainReplies(); // what came in before the close is still on its way
    m_bSerialOpen = false;
    m_bSerialDown = false;
    m_bConnecting = false;
    m_bRunning = false;
    m_bStepMode = false;
    m_bFinishing = false;
    m_lineUnsent.clear();
}

bool COrderSession::Stop() {
    m_bStepMode = false;
    if (m_bConnecting) {
        // Stop while connecting ends the attempt; its late outcome is dropped.
        Close();
        return false;
    }
    if (!m_bRunning || m_bFinishing)
        return false;
    m_bFinishing = true;
    if (!m_bSerialDown)
        Schedule(ORDER_FINISH_DELAY_MS);
    return true;
}

void COrderSession::OnTick() {
    m_timer.stop();
    const COrderPacer::CTick tick(m_pacer);
    if (m_bSerialDown)
        return; // the next line goes once the device is back
    if (m_bStepMode || !IsOpen()) {
        Schedule(ORDER_IDLE_DELAY_MS);
        return;
    }
    // Past the end of a pass the script wraps, unless the passes asked for are played or Stop came.
    const bool wrap = !m_bFinishing && (m_nPassLimit == 0 || m_nPassesDone < m_nPassLimit);
    const int index = m_script.GetLineIndex();
    QByteArray line;
    if (m_script.GetNextLine(line, wrap)) {
        const qint64 delay = PlayLine(line, m_script.GetLineIndex() + 1);
        if (!IsOpen())
            return; // the link failed while sending
        Schedule(m_bFinishing ? ORDER_FINISH_DELAY_MS : ContinuousDelay(delay));
        if (m_bFinishing)
            emit FinishProgress(index, m_script.GetLineCount());
        return;
    }
    if (m_bFinishing)
        emit FinishProgress(index, m_script.GetLineCount());
    m_script.Rewind();
    emit Finished();
}

bool COrderSession::Step() {
    QByteArray line;
    if (!m_script.GetNextLine(line, true))
        return false;
    PlayLine(line, m_script.GetLineIndex() + 1);
    return true;
}

// Sends a script line's bytes (when the link is open) and tells of it; the delay until the next line.
qint64 COrderSession::PlayLine(const QByteArray& line, int lineNumber) {
    const SLinePlan plan = PlanLine(line);
    int link = TXLINE_PLAIN;
    if (m_bSerialOpen)
        link = TXLINE_SERIAL;
    else if (m_settings.m_bUseNetwork && m_client.IsConnected())
        link = TXLINE_NETWORK;
    SSentLine sent;
    sent.text = plan.text;
    sent.nKind = TxLineKind(plan, link);
    sent.nLine = lineNumber;
    sent.nPass = m_nPassesDone + 1;
    if (sent.IsData()) {
        // A line whose bytes did not all leave is not told as sent: it is, once, if it goes again.
        if (!SendBytes(
                EncodeLineBytes(line, m_settings.m_bCalcChecksum != 0, m_settings.m_bIncludeEtx != 0))) {
            if (m_bSerialDown) {
                m_lineUnsent = line;
                m_nLineUnsent = lineNumber;
            }
            return plan.nDelayMs;
        }
        ++m_nDataLinesSent;
    }
    sent.nSentNs = ElapsedNs();
    if (lineNumber == m_script.GetLineCount())
        ++m_nPassesDone;
    emit LineSent(sent);
    return plan.nDelayMs;
}

// One write per byte: an OCS may take a line's bytes as they come. False when the link failed; it is
// then told as lost.
bool COrderSession::SendBytes(const QByteArray& bytes) {
    const bool serial = m_bSerialOpen;
    for (const char byte : bytes) {
        if (serial) {
            // The port may have been found gone while writing (its error comes as a signal).
            if (!m_bSerialOpen || !m_port.WriteByte(static_cast<unsigned char>(byte))) {
                SerialFailed();
                return false;
            }
            continue;
        }
        // The OCS has stopped taking data, or has gone: waiting on would freeze the caller.
        if (m_client.Send(&byte, 1) != TCP_OK) {
            Close();
            emit LinkLost(LinkLostText(QStringLiteral("The OCS stopped taking data.")));
            return false;
        }
    }
    return !serial || m_bSerialOpen;
}

// The serial device went away or failed: the port closes, what came in before stays, and the order
// waits for Reopen or Close.
void COrderSession::SerialFailed() {
    if (!m_bSerialOpen)
        return;
    m_timer.stop();
    m_gather.Finish();
    m_port.ClosePort();
    m_bSerialOpen = false;
    m_bSerialDown = true;
    emit LinkLost(LinkLostText(QStringLiteral("%1 went away (unplugged?).").arg(m_settings.m_strPort)));
}

bool COrderSession::Reopen() {
    if (!m_bSerialDown)
        return false;
    ApplyPortSettings(m_port, m_settings);
    if (m_port.OpenPort() < 1)
        return false;
    m_bSerialDown = false;
    m_bSerialOpen = true;
    emit Reconnected();
    qint64 delay = ORDER_IDLE_DELAY_MS;
    if (!m_lineUnsent.isEmpty()) {
        const QByteArray line = std::exchange(m_lineUnsent, QByteArray());
        delay = ContinuousDelay(PlayLine(line, m_nLineUnsent));
        if (!m_bSerialOpen)
            return true; // gone again at once
    }
    Schedule(m_bFinishing ? ORDER_FINISH_DELAY_MS : int(delay));
    return true;
}
