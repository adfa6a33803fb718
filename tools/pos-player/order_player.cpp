#include "order_player.h"

#include "app/message_box.h"
#include "capture/capture_file.h"
#include "capture/capture_log.h"
#include "res/dialog_templates.h"
#include "script/order_line.h"
#include "script/pos_catalogue.h"

#include <QFileInfo>

const char PLAYER_USAGE_TEXT[] =
    "Usage: pos-player FILE (--tcp ADDRESS | --serial COMn [serial options]) [options]\n"
    "\n"
    "Plays a POS definition file to an OCS byte for byte and line for line as the POS Emulator's\n"
    "window does when Run is pressed, and prints each capture line as it happens.\n"
    "\n"
    "  FILE               a POS definition file (.vlq), or the name of one in the POS folder\n"
    "                     (./POS, then the installed samples)\n"
    "  --tcp ADDRESS      connect to the OCS at this IPv4 address, TCP port 48501\n"
    "  --serial COMn      use serial port COMn (COM1..COM14, as on the Communications page)\n"
    "  --baud RATE        9600 (default) or 19200\n"
    "  --parity NAME      None (default), Odd, Even, Mark or Space\n"
    "  --data-bits N      5, 6, 7 or 8 (default)\n"
    "  --stop-bits N      1 (default), 1.5 or 2\n"
    "  --flow NAME        None (default), Hardware or Software\n"
    "  --checksum, --no-checksum\n"
    "                     send (or not) a checksum byte after each ETX\n"
    "  --include-etx, --no-include-etx\n"
    "                     let the ETX byte enter that checksum (or not)\n"
    "                     Without these, the POS name decides as in the window: a name holding\n"
    "                     \"PC-POS\" sends a checksum without the ETX, every other none.\n"
    "  --passes N         play the script N times (default 1); 0 plays until Ctrl+C\n"
    "  --capture PATH     write the capture file (the window's format) when done\n"
    "  --help             show this text\n"
    "\n"
    "Ctrl+C (or SIGTERM) finishes the pass under way at 10 ms a line, as Stop does; a second one ends\n"
    "at once.\n"
    "Lines sent are listed with their link (\"NETWORK   \"), replies with a colon (\"NETWORK:  \").\n"
    "\n"
    "Exit status: 0 every pass played (with --passes 0: ended by Ctrl+C), 2 bad command line,\n"
    "3 file not found or unreadable, 4 connection not made, 5 connection dropped,\n"
    "6 capture file not written, 130 interrupted before the passes asked for were played.\n";

namespace {
const char CONNECT_FAILED[] = "Unable to connect to OCS";
const char LINK_LOST[] = "Connection Error!";

// The items the Communications page offers in one of its drop-down lists.
QStringList CommPageItems(int controlId) {
    const SDialogTemplate* dialog = FindDialogTemplate(IDD_COMM_SETTINGS);
    for (int i = 0; dialog && i < dialog->nControlCount; ++i) {
        const SControlTemplate& control = dialog->pControls[i];
        if (control.nId == controlId && control.pszItems)
            return QString::fromLatin1(control.pszItems).split(QLatin1Char('\n'));
    }
    return {};
}

struct SChoiceOption {
    const char* pszName;
    int nControlId;
    QString CAppSettings::*pstrField;
};
const SChoiceOption CHOICE_OPTIONS[] = {
    {"--serial", 1031, &CAppSettings::m_strPort},        {"--baud", 1021, &CAppSettings::m_strBaud},
    {"--parity", 1022, &CAppSettings::m_strParity},      {"--data-bits", 1027, &CAppSettings::m_strDataBits},
    {"--stop-bits", 1028, &CAppSettings::m_strStopBits}, {"--flow", 1029, &CAppSettings::m_strFlowControl},
};
} // namespace

bool ParsePlayerArgs(const QStringList& args, SPlayerOptions& options, QString& error) {
    CAppSettings& s = options.settings;
    for (const SSettingEntry& entry : SettingsTable()) {
        if (entry.pstrField)
            s.*entry.pstrField = QString::fromLatin1(entry.pszDefault);
    }
    s.m_bUseNetwork = 0;
    s.m_bUseSerial = 0;
    int checksum = -1;
    int includeEtx = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const auto value = [&](QString& out) {
            if (i + 1 >= args.size()) {
                error = arg + QStringLiteral(" needs a value");
                return false;
            }
            out = args[++i];
            return true;
        };
        const SChoiceOption* choice = nullptr;
        for (const SChoiceOption& option : CHOICE_OPTIONS) {
            if (arg == QLatin1String(option.pszName))
                choice = &option;
        }
        QString text;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.bHelp = true;
            return true;
        } else if (choice) {
            if (!value(text))
                return false;
            const QStringList items = CommPageItems(choice->nControlId);
            int match = -1;
            for (int k = 0; match < 0 && k < items.size(); ++k) {
                if (items[k].compare(text, Qt::CaseInsensitive) == 0)
                    match = k;
            }
            if (match < 0) {
                error = arg + QStringLiteral(" takes one of: ") + items.join(QStringLiteral(", "));
                return false;
            }
            s.*choice->pstrField = items[match];
            if (choice->nControlId == 1031)
                s.m_bUseSerial = 1;
        } else if (arg == QLatin1String("--tcp")) {
            if (!value(s.m_strIpAddress))
                return false;
            s.m_bUseNetwork = 1;
        } else if (arg == QLatin1String("--checksum") || arg == QLatin1String("--no-checksum")) {
            checksum = arg == QLatin1String("--checksum") ? 1 : 0;
        } else if (arg == QLatin1String("--include-etx") || arg == QLatin1String("--no-include-etx")) {
            includeEtx = arg == QLatin1String("--include-etx") ? 1 : 0;
        } else if (arg == QLatin1String("--passes")) {
            if (!value(text))
                return false;
            bool ok = false;
            options.nPasses = text.toInt(&ok);
            if (!ok || options.nPasses < 0) {
                error = QStringLiteral("--passes takes a whole number, 0 or more");
                return false;
            }
        } else if (arg == QLatin1String("--capture")) {
            if (!value(options.strCapture))
                return false;
            if (options.strCapture.isEmpty()) {
                error = QStringLiteral("--capture needs a file name");
                return false;
            }
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            error = QStringLiteral("unknown option ") + arg;
            return false;
        } else if (options.strScript.isEmpty()) {
            options.strScript = arg;
        } else {
            error = QStringLiteral("only one POS definition file can be played");
            return false;
        }
    }
    if (options.strScript.isEmpty()) {
        error = QStringLiteral("no POS definition file given");
        return false;
    }
    if (s.m_bUseNetwork == s.m_bUseSerial) {
        error = QStringLiteral("give one of --tcp ADDRESS and --serial COMn");
        return false;
    }
    s.m_strPosInterface = StripFolderAndExtension(options.strScript);
    s.m_bCalcChecksum = checksum >= 0 ? checksum : PosUsesChecksum(s.m_strPosInterface) ? 1 : 0;
    s.m_bIncludeEtx = includeEtx >= 0 ? includeEtx : 0;
    return true;
}

COrderPlayer::COrderPlayer(const SPlayerOptions& options, FILE* out, FILE* err)
    : m_options(options), m_out(out), m_err(err), m_port(this),
      m_gather(m_port, [this](const QByteArray& text) { AddRx(text, true); }) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &COrderPlayer::OnTick);
    connect(&m_port, &CPortCtl::DataWaiting, &m_gather, &CSerialGather::OnInput);
    connect(&m_port, &CPortCtl::PortLost, this,
            [this] { Fail(PLAYER_LINK_LOST, QString::fromLatin1(LINK_LOST)); });
    m_client.SetHandler(this);
}

COrderPlayer::~COrderPlayer() {
    m_client.SetHandler(nullptr);
    m_replies.CloseSender([this] { m_client.Close(); });
}

void COrderPlayer::Start() {
    // A path is taken as it is; a bare POS name is looked up in the POS folder as the window does,
    // then among the installed samples.
    const QString& name = m_options.strScript;
    QString path = ResolveScriptPath(name);
    if (!FileExists(path) && !name.contains(QLatin1Char('/'))) {
        path = ResolveScriptPath(PosScriptPath(name));
        const QString samples = InstalledPosFolder();
        if (!FileExists(path) && !samples.isEmpty())
            path = ResolveScriptPath(samples + QLatin1Char('/') + name + QStringLiteral(".vlq"));
    }
    if (!FileExists(path)) {
        Fail(PLAYER_NO_SCRIPT, QStringLiteral("Error: Unable to find POS data"));
        return;
    }
    // The loader tells of a file it cannot read in a message box and goes on with no lines; here
    // that is a failure, not an empty order.
    QString unreadable;
    const MessageBoxHandler previous = SetMessageBoxHandler([&unreadable](const SMessageBox& box) {
        unreadable = box.strText.trimmed();
        return QMessageBox::Ok;
    });
    const bool loaded = m_script.LoadOrderFile(path);
    SetMessageBoxHandler(previous);
    if (!loaded || !unreadable.isEmpty()) {
        Fail(PLAYER_NO_SCRIPT, loaded ? unreadable : QStringLiteral("Error: Unable to load POS data"));
        return;
    }
    const CAppSettings& s = m_options.settings;
    if (s.m_bUseSerial) {
        ApplyPortSettings(m_port, s);
        if (m_port.OpenPort() < 1) {
            Fail(PLAYER_NO_LINK, QStringLiteral("Unable to Initiate Comms!"));
            return;
        }
        m_bOpen = m_bLinked = true;
        m_timer.start(m_pacer.Schedule(ORDER_IDLE_DELAY_MS));
        return;
    }
    if (m_client.Connect(s.m_strIpAddress, OCS_TCP_PORT) != 0)
        Fail(PLAYER_NO_LINK, QString::fromLatin1(CONNECT_FAILED));
}

void COrderPlayer::OnOcsConnect(const QString&, int, int error) {
    const unsigned link = m_nLink;
    m_handoff.Post([this, link, error] {
        if (link != m_nLink || m_bEnding)
            return;
        if (error != 0) {
            Fail(PLAYER_NO_LINK, QString::fromLatin1(CONNECT_FAILED));
            return;
        }
        m_bOpen = m_bLinked = true;
        m_timer.start(m_pacer.Schedule(ORDER_IDLE_DELAY_MS));
    });
}

void COrderPlayer::OnOcsReceive(const QString&, int, char* data, int length, int) {
    if (m_replies.Push(0, ReplyChunkText(data, length)))
        m_handoff.Post([this] { DrainReplies(); });
}

void COrderPlayer::DrainReplies() {
    for (const SReplyChunk& chunk : m_replies.Take()) {
        if (!m_bEnded)
            AddRx(chunk.text, false);
    }
}

void COrderPlayer::OnOcsDisconnect(const QString&, int, int) {
    const unsigned link = m_nLink;
    m_handoff.Post([this, link] {
        if (link == m_nLink)
            Fail(PLAYER_LINK_LOST, QString::fromLatin1(LINK_LOST));
    });
}

void COrderPlayer::Interrupt() {
    if (m_bEnding)
        return;
    if (m_bFinishing || !m_bOpen) {
        End(PLAYER_INTERRUPTED);
        return;
    }
    m_bFinishing = true;
    m_timer.start(m_pacer.Schedule(ORDER_FINISH_DELAY_MS));
}

void COrderPlayer::OnTick() {
    const COrderPacer::CTick tick(m_pacer);
    // Past the end of a pass the script wraps, unless it was the last pass or Ctrl+C came.
    const bool passesLeft = m_options.nPasses == 0 || m_nPassesDone < m_options.nPasses;
    QByteArray line;
    if (!m_script.GetNextLine(line, passesLeft && !m_bFinishing)) {
        const bool allPlayed =
            m_options.nPasses == 0 || m_nPassesDone >= m_options.nPasses || m_script.GetLineCount() == 0;
        End(allPlayed ? PLAYER_OK : PLAYER_INTERRUPTED);
        return;
    }
    const qint64 delay = [&] {
        const SLinePlan plan = PlanLine(line);
        const int kind = TxLineKind(plan, m_options.settings.m_bUseSerial ? TXLINE_SERIAL : TXLINE_NETWORK);
        AddTx(plan.text, kind);
        if (kind == TXLINE_SERIAL || kind == TXLINE_NETWORK)
            SendLine(line);
        return plan.nDelayMs;
    }();
    if (m_bEnding)
        return; // the link failed while sending
    if (m_script.GetLineIndex() == m_script.GetLineCount() - 1)
        ++m_nPassesDone;
    m_timer.start(m_pacer.Schedule(m_bFinishing ? ORDER_FINISH_DELAY_MS : ContinuousDelay(delay)));
}

void COrderPlayer::SendLine(const QByteArray& line) {
    const CAppSettings& s = m_options.settings;
    const QByteArray bytes = EncodeLineBytes(line, s.m_bCalcChecksum != 0, s.m_bIncludeEtx != 0);
    if (s.m_bUseSerial) {
        for (const char byte : bytes)
            m_port.WriteByte(static_cast<unsigned char>(byte));
        return;
    }
    // One send per byte, as the window does: an OCS may take a line's bytes as they come.
    for (const char byte : bytes) {
        const int result = m_client.Send(&byte, 1);
        if (result != TCP_OK) {
            Fail(PLAYER_LINK_LOST, QString::fromLatin1(LINK_LOST));
            return;
        }
    }
}

void COrderPlayer::AddTx(const QByteArray& text, int kind) {
    const QByteArray formatted = FormatTxLine(text, kind);
    m_tx.Append(formatted);
    std::fprintf(m_out, "%s\n", formatted.constData());
    std::fflush(m_out);
}

void COrderPlayer::AddRx(const QByteArray& text, bool serial) {
    const QByteArray formatted = FormatRxLine(text, serial);
    m_rx.Append(formatted);
    std::fprintf(m_out, "%s\n", formatted.constData());
    std::fflush(m_out);
}

void COrderPlayer::Fail(int status, const QString& message) {
    if (m_bEnding)
        return;
    std::fprintf(m_err, "pos-player: %s\n", qPrintable(message));
    End(status);
}

void COrderPlayer::CloseLink() {
    ++m_nLink;
    m_timer.stop();
    if (m_options.settings.m_bUseSerial) {
        m_gather.Finish();
        m_port.ClosePort();
    } else {
        m_replies.CloseSender([this] { m_client.Close(); });
    }
    m_bOpen = false;
}

void COrderPlayer::End(int status) {
    if (m_bEnding)
        return;
    m_bEnding = true;
    CloseLink();
    DrainReplies(); // what came in before the close is still on its way
    m_bEnded = true;
    m_nStatus = status;
    // Once the link was made the file is written, also for an empty script or a dropped link.
    if (!m_options.strCapture.isEmpty() && (m_bLinked || m_tx.Count() > 0 || m_rx.Count() > 0)) {
        QString why;
        if (WriteCaptureFile(m_options.strCapture, FormatCaptureFile(m_tx, m_rx), &why) != CAPTURE_WRITTEN) {
            std::fprintf(m_err, "pos-player: Unable to open file. %s\n", qPrintable(why));
            if (m_nStatus == PLAYER_OK)
                m_nStatus = PLAYER_NO_CAPTURE;
        }
    }
    emit Finished(m_nStatus);
}
