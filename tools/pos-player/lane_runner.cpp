#include "lane_runner.h"

#include "app/console.h"
#include "capture/capture_file.h"
#include "capture/capture_log.h"
#include "transport/port_names.h"
#include "transport/socket_compat.h"

#include <QDir>

namespace {
constexpr int LIVE_REDRAW_MS = 250;
// Lanes start spread over one line's time, and Ctrl+C reaches them spread over one finishing line's:
// lanes ticking at the same instant would queue for the cores, each late by the others' sends.
constexpr int LANE_START_SPREAD_MS = 500;
constexpr int LANE_START_GAP_MAX_MS = 50;
constexpr int LANE_STOP_SPREAD_MS = 10;
constexpr int LIVE_REPLY_SHOWN = 24; // characters of the last reply a live line shows

QString LinkOf(const SPlayerOptions& o) {
    const CAppSettings& s = o.settings;
    if (s.m_bUseSerial)
        return QStringLiteral("serial %1 %2 %3 %4 %5 %6")
            .arg(s.m_strPort, s.m_strBaud, s.m_strParity, s.m_strDataBits, s.m_strStopBits,
                 s.m_strFlowControl);
    return QStringLiteral("tcp ") +
           SocketAddressWithPort(o.strTcpHost.isEmpty() ? s.m_strIpAddress : o.strTcpHost, o.nTcpPort);
}
} // namespace

struct CLaneRunner::SLaneRun {
    SLane lane;
    QThread thread;
    std::unique_ptr<CThreadHandoff> pLane; // lives on the lane's thread; the lane's player is its child
    SPlayerOutcome outcome;
    bool bStarted = false;
    bool bDone = false;
    // What the live view shows.
    int nLine = 0;
    int nLineCount = 0;
    int nPass = 0;
    int nFailed = 0;
    QByteArray lastReply;
    QByteArray state = "connecting";
};

CLaneRunner::CLaneRunner(std::vector<SLane> lanes, const SPlayerOptions& common, FILE* out, FILE* err)
    : m_common(common), m_out(out), m_err(err) {
    for (SLane& lane : lanes) {
        m_lanes.push_back(std::make_unique<SLaneRun>());
        m_lanes.back()->lane = std::move(lane);
    }
    connect(&m_liveTimer, &QTimer::timeout, this, &CLaneRunner::DrawLive);
}

CLaneRunner::~CLaneRunner() {
    for (const auto& run : m_lanes) {
        if (!run->bStarted || run->thread.isFinished())
            continue;
        // A lane still playing ends with its thread: its player goes first, on that thread.
        CThreadHandoff* lane = run->pLane.get();
        lane->Post([lane] {
            qDeleteAll(lane->children());
            QThread::currentThread()->quit();
        });
        run->thread.wait();
    }
}

void CLaneRunner::Start() {
    const QString& folder = m_common.strCapture;
    if (!folder.isEmpty() && !QDir().mkpath(folder)) {
        std::fprintf(m_err, "pos-player: Unable to make the capture folder %s\n",
                     qUtf8Printable(QDir::toNativeSeparators(folder)));
        emit Finished(PLAYER_NO_CAPTURE);
        return;
    }
    for (const auto& run : m_lanes) {
        if (run->lane.options.settings.m_bUseSerial) {
            AssignAdapterPorts(); // once, before any lane opens its port
            PrintAdapterNotes(m_err);
            break;
        }
    }
    m_bLive = LiveConsoleSize(m_out).nColumns > 0;
    const int lanes = int(m_lanes.size());
    m_nRunning = lanes;
    const int gapMs = std::min(LANE_START_GAP_MAX_MS, LANE_START_SPREAD_MS / std::max(1, lanes));
    for (int i = 0; i < lanes; ++i)
        QTimer::singleShot(i * gapMs, this, [this, i] { StartLane(i); });
    if (m_bLive) {
        DrawLive();
        m_liveTimer.start(LIVE_REDRAW_MS);
    }
}

void CLaneRunner::StartLane(int index) {
    SLaneRun& run = *m_lanes[size_t(index)];
    if (m_bInterrupted) { // Ctrl+C came first: the lane plays nothing
        SPlayerOutcome outcome;
        outcome.nStatus = PLAYER_INTERRUPTED;
        outcome.strRunError = QStringLiteral("interrupted before the lane started");
        OnLaneFinished(index, outcome);
        return;
    }
    SPlayerOptions options = run.lane.options;
    options.strJUnit.clear(); // the lab writes one report
    if (!m_common.strCapture.isEmpty())
        options.strCapture = QDir(m_common.strCapture).filePath(run.lane.strName + QStringLiteral(".txt"));
    run.pLane = std::make_unique<CThreadHandoff>();
    run.pLane->moveToThread(&run.thread);
    run.thread.start();
    run.bStarted = true;
    CThreadHandoff* lane = run.pLane.get();
    lane->Post([this, index, options, lane] { PlayLane(index, options, lane); });
}

// On the lane's thread: its player, told what it does through the runner's hand-off.
void CLaneRunner::PlayLane(int index, const SPlayerOptions& options, CThreadHandoff* lane) {
    auto* player = new COrderPlayer(options, m_out, m_err);
    player->setParent(lane);
    const QByteArray name = options.strLane.toUtf8();
    const bool live = m_bLive;
    FILE* out = m_out;
    FILE* err = m_err;
    player->SetSink([this, index, name, live, out, err](EPlayerText kind, const QByteArray& text) {
        if (live) {
            m_handoff.Post([this, index, kind, text] { OnLaneText(index, kind, text); });
        } else if (kind == PLAYER_TEXT_MESSAGE) {
            std::fprintf(err, "pos-player: %s: %s\n", name.constData(), text.constData());
            std::fflush(err);
        } else {
            std::fprintf(out, "[%s] %s\n", name.constData(), text.constData());
            std::fflush(out);
        }
    });
    if (live) {
        const COrderSession& session = player->Session();
        connect(&session, &COrderSession::LineSent, player, [this, index, &session](const SSentLine& line) {
            const int count = session.Script().GetLineCount();
            m_handoff.Post([this, index, line, count] { OnLaneLine(index, line.nLine, count, line.nPass); });
        });
        connect(&session, &COrderSession::ReplyReceived, player, [this, index](const QByteArray& text) {
            m_handoff.Post([this, index, text] { OnLaneReply(index, text); });
        });
    }
    connect(player, &COrderPlayer::Finished, player, [this, index, player, lane] {
        const SPlayerOutcome outcome = player->Outcome();
        // Not from inside its own signal: once the call has returned.
        QTimer::singleShot(0, lane, [this, index, outcome, player] {
            delete player;
            QThread::currentThread()->quit();
            m_handoff.Post([this, index, outcome] { OnLaneFinished(index, outcome); });
        });
    });
    player->Start();
}

void CLaneRunner::Interrupt() {
    m_bInterrupted = true;
    const int lanes = int(m_lanes.size());
    for (int i = 0; i < lanes; ++i) {
        SLaneRun& run = *m_lanes[size_t(i)];
        if (!run.bStarted || run.bDone)
            continue;
        run.state = "finishing";
        CThreadHandoff* lane = run.pLane.get();
        const int delayMs = i * LANE_STOP_SPREAD_MS / lanes;
        lane->Post([lane, delayMs] {
            QTimer::singleShot(delayMs, lane, [lane] {
                if (auto* player = lane->findChild<COrderPlayer*>(QString(), Qt::FindDirectChildrenOnly))
                    player->Interrupt();
            });
        });
    }
}

void CLaneRunner::OnLaneText(int index, EPlayerText kind, const QByteArray& text) {
    SLaneRun& run = *m_lanes[size_t(index)];
    if (kind == PLAYER_TEXT_CAPTURE)
        return; // the live line tells where the lane is
    if (text.startsWith("failed:"))
        ++run.nFailed;
    m_held.append(run.lane.strName.toUtf8() + ": " + text);
}

void CLaneRunner::OnLaneLine(int index, int line, int lineCount, int pass) {
    SLaneRun& run = *m_lanes[size_t(index)];
    run.nLine = line;
    run.nLineCount = lineCount;
    run.nPass = pass;
    if (!m_bInterrupted && !run.bDone)
        run.state = "playing";
}

void CLaneRunner::OnLaneReply(int index, const QByteArray& text) {
    QByteArray shown = text;
    EscapeControlBytes(shown);
    m_lanes[size_t(index)]->lastReply = shown.left(LIVE_REPLY_SHOWN);
}

void CLaneRunner::OnLaneFinished(int index, const SPlayerOutcome& outcome) {
    SLaneRun& run = *m_lanes[size_t(index)];
    run.outcome = outcome;
    run.bDone = true;
    run.state = "ended, status " + QByteArray::number(outcome.nStatus);
    if (--m_nRunning == 0)
        Finish();
}

QByteArray CLaneRunner::LiveLine(const SLaneRun& run) const {
    QByteArray line = run.lane.strName.toUtf8().leftJustified(14) + " ";
    if (run.nPass > 0)
        line += "pass " + QByteArray::number(run.nPass) + "  line " + QByteArray::number(run.nLine) + "/" +
                QByteArray::number(run.nLineCount) + "  ";
    if (!run.lastReply.isEmpty())
        line += "reply " + run.lastReply + "  ";
    if (run.nFailed > 0)
        line += QByteArray::number(run.nFailed) + " failed  ";
    return line + run.state;
}

// The live view: the lines held since, then one line a lane in place of the last drawing.
void CLaneRunner::DrawLive() {
    const SConsoleSize size = LiveConsoleSize(m_out);
    QByteArray text;
    if (m_nDrawnLines > 0)
        text += "\x1b[" + QByteArray::number(m_nDrawnLines) + "A\r";
    text += "\x1b[J";
    for (const QByteArray& line : m_held)
        text += line + "\n";
    m_held.clear();
    const int lanes = int(m_lanes.size());
    const int room = size.nRows > 2 ? size.nRows - 2 : lanes;
    const int shown = std::min(lanes, std::max(1, room));
    const int width = size.nColumns > 1 ? size.nColumns - 1 : 79; // a wrapped line would throw the count off
    for (int i = 0; i < shown; ++i)
        text += LiveLine(*m_lanes[size_t(i)]).left(width) + "\n";
    m_nDrawnLines = shown;
    if (shown < lanes) {
        text += QByteArray("... and " + QByteArray::number(lanes - shown) + " lanes more").left(width) + "\n";
        ++m_nDrawnLines;
    }
    std::fwrite(text.constData(), 1, size_t(text.size()), m_out);
    std::fflush(m_out);
}

void CLaneRunner::Finish() {
    if (m_bLive) {
        m_liveTimer.stop();
        DrawLive();
    }
    for (const auto& run : m_lanes)
        run->thread.wait(); // each told it ended as its last word
    for (const auto& run : m_lanes) {
        const SPlayerOutcome& o = run->outcome;
        QByteArray summary = o.pJudge
                                 ? o.pJudge->Summary(o.pJudge->WaitingCount())
                                 : "sent " + QByteArray::number(o.nDataLines) + " data lines; nothing judged";
        summary += "; status " + QByteArray::number(o.nStatus);
        if (!o.strRunError.isEmpty())
            summary += " (" + o.strRunError.toUtf8() + ")";
        std::fprintf(m_out, "%s: %s\n", qUtf8Printable(run->lane.strName), summary.constData());
        m_nStatus = WorseStatus(m_nStatus, o.nStatus);
    }
    std::fflush(m_out);
    WriteReport();
    emit Finished(m_nStatus);
}

void CLaneRunner::WriteReport() {
    if (m_common.strJUnit.isEmpty())
        return;
    std::vector<SJUnitSuite> suites;
    for (const auto& run : m_lanes) {
        const SPlayerOptions& options = run->lane.options;
        SJUnitSuite suite;
        suite.strName = run->lane.strName;
        suite.strPos = options.settings.m_strPosInterface;
        suite.properties = {{QStringLiteral("pos"), options.strScript},
                            {QStringLiteral("link"), LinkOf(options)}};
        suite.pJudge = run->outcome.pJudge.get();
        suite.nSeconds = run->outcome.nSeconds;
        suite.strRunError = run->outcome.strRunError;
        if (suite.strRunError.isEmpty() && run->outcome.nStatus != PLAYER_OK &&
            run->outcome.nStatus != PLAYER_REPLIES_FAILED)
            suite.strRunError = QStringLiteral("the lane ended with status %1").arg(run->outcome.nStatus);
        suites.push_back(suite);
    }
    QString why;
    if (WriteCaptureFile(m_common.strJUnit, JUnitReport(suites), &why) != CAPTURE_WRITTEN) {
        std::fprintf(m_err, "pos-player: Unable to write the report. %s\n", qUtf8Printable(why));
        m_nStatus = WorseStatus(m_nStatus, PLAYER_NO_CAPTURE);
    }
}
