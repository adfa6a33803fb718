#include "order_player.h"

#include "capture/capture_file.h"
#include "capture/capture_journal.h"
#include "capture/capture_log.h"
#include "script/order_line.h"
#include "script/pos_catalogue.h"
#include "transport/ocs_detector.h"
#include "transport/port_names.h"
#include "transport/socket_compat.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <chrono>
#include <climits>

QByteArray PlayerUsageText() {
    const bool windows = QSysInfo::productType() == QLatin1String("windows");
    QByteArray text =
        "Usage: pos-player FILE (--tcp HOST[:PORT] | --serial COMn [serial options]) [options]\n"
        "       pos-player --detect | --list-ports\n"
        "\n"
        "Plays a POS definition file to an OCS byte for byte and line for line as the POS Emulator's\n"
        "window does when Run is pressed, and prints each capture line as it happens.\n"
        "\n"
        "  FILE               a POS definition file (.vlq), or the name of one in the POS folder\n"
        "                     (./POS, then the installed samples)\n"
        "  --tcp HOST[:PORT]\n"
        "                     connect to the OCS at HOST (a name, an IPv4 address, or an IPv6\n"
        "                     address, in brackets before a port), TCP port 48501 or PORT; each\n"
        "                     address a name stands for is tried in turn, IPv4 ones first\n"
        "  --serial COMn      use serial port COMn" +
        QByteArray(windows ? " (COM1..COM255, as Windows names the ports)\n"
                           : " (COM1..COM14, as on the Communications page; a USB\n"
                             "                     adapter gets the lowest free name from COM3 up the first "
                             "time it is seen)\n") +
        "  --baud RATE        9600 (default), 19200, or another standard rate from 1200 to 115200\n"
        "  --parity NAME      None (default), Odd, Even, Mark or Space\n"
        "  --data-bits N      5, 6, 7 or 8 (default)\n"
        "  --stop-bits N      " +
        QByteArray(SerialTakesOneAndHalfStopBits() ? "1 (default), 1.5 or 2\n"
                                                   : "1 (default) or 2 (1.5 on Windows only)\n") +
        "  --flow NAME        None (default), Hardware or Software\n"
        "  --reconnect        serial: when the device is not there at the start or goes away (an\n"
        "                     adapter unplugged), wait for it, checking every 500 ms, and start, or go\n"
        "                     on with the next line, once it is there\n"
        "  --checksum, --no-checksum\n"
        "                     send (or not) a checksum byte after each ETX\n"
        "  --include-etx, --no-include-etx\n"
        "                     let the ETX byte enter that checksum (or not)\n"
        "                     Without these, the POS name decides as in the window: a name holding\n"
        "                     \"PC-POS\" sends a checksum without the ETX, every other none.\n"
        "  --passes N         play the script N times (default 1); 0 plays until Ctrl+C\n"
        "  --capture PATH     write the capture file (the window's format) when done\n"
        "  --expect TEXT      judge the replies: every data line must get TEXT, in the capture\n"
        "                     notation (\"<06>\", \"<06><02>OK<03>\"); without it nothing is judged\n"
        "  --reply-timeout MS how long a line waits for its reply, from its last byte sent\n"
        "                     (default 1000)\n"
        "  --junit FILE       write a JUnit XML report of the judged lines (with --expect); a run that\n"
        "                     fails otherwise adds a case \"run\" with an error saying why\n"
        "  --timestamps ms    print and write capture times as HH:MM:SS.mmm (s, the default: HH:MM:SS)\n"
        "  --duration TIME    a soak run: play passes until TIME (500ms, 30s, 10m, 8h) is up, then\n"
        "                     finish the pass under way\n"
        "  --summary-every TIME\n"
        "                     print the summary line (each lane's, with --lanes) every TIME\n"
        "  --lanes FILE       play a lab of OCS units at once, each lane with its own POS, link,\n"
        "                     pacing, judging and capture; FILE holds a section [NAME] a lane with keys\n"
        "                     named as these options: pos (the FILE above), tcp, serial, baud, parity,\n"
        "                     data-bits, stop-bits, flow, expect, reply-timeout, passes, checksum and\n"
        "                     include-etx (yes or no); the options given here apply to every lane that\n"
        "                     does not say otherwise. --capture then names a folder (NAME.txt a lane)\n"
        "                     and --junit writes a testsuite a lane\n"
        "  --detect           search the serial ports for an OCS as the window's Detect Now does\n"
        "                     (COM1..COM11, adapters first, at 9600 None and 19200 Odd) and print\n"
        "                     the port and line settings found; status 4 and \"OCS Not Found\" when\n"
        "                     none answers\n"
        "  --list-ports       print each COM name: the device, the adapter or what the system calls\n"
        "                     it, and whether it is there (present, not connected)\n"
        "  --help             show this text\n"
        "  --version          show the version\n"
        "\n"
        "Judging: each occurrence of the expected reply goes to the oldest line still waiting; other\n"
        "bytes that come while a line waits are its own. A line is answered (its reply came in time),\n"
        "wrong (its time ran out and other bytes came) or missing (its time ran out with nothing).\n"
        "Lines go out every 500 ms and never wait for replies, so with a time-out longer than that a\n"
        "line left unanswered takes the next line's reply. Failures are printed as they are judged,\n"
        "the summary at the end; \"line L\" counts the script's lines (not its remarks) from 1.\n"
        "After the last pass the player waits for the replies still due; after Ctrl+C it does not, and\n"
        "lines whose time had not run out are left out of the report.\n"
        "\n" +
        QByteArray(windows ? "Ctrl+C or Ctrl+Break (or closing the console)" : "Ctrl+C (or SIGTERM)") +
        " finishes the pass under way at 10 ms a line, as Stop does; a second one ends\n"
        "at once.\n"
        "While it plays, the capture is kept in journals under\n" +
        QDir::toNativeSeparators(CaptureJournalsFolder()).toUtf8() +
        " (removed when it ends); if the player\n"
        "is killed, or the --capture file cannot be written, the next start of POS Emulator offers to\n"
        "save that capture.\n"
        "Lines sent are listed with their link (\"NETWORK   \"), replies with a colon (\"NETWORK:  \").\n"
        "\n"
        "Lanes: each lane's capture lines are printed with its name in brackets; on a terminal, one\n"
        "line a lane is updated in place instead (the line of the pass, the pass, the last reply, the\n"
        "state). At the end a summary line a lane; the exit status is the worst lane's. A lanes file\n"
        "that cannot be played as written (an unknown key, a lane without a POS, two lanes on one\n"
        "serial port) is refused, naming its line, before anything is sent.\n"
        "\n"
        "Exit status: 0 every pass played (with --passes 0: ended by Ctrl+C) and every judged line\n"
        "answered, 2 bad command line, 3 file not found or unreadable, 4 connection not made,\n"
        "5 connection dropped, 6 capture file or report not written, 7 a judged line wrong or missing,\n"
        "130 interrupted before the passes asked for were played. 7 only when no other applies.\n";
    return text;
}

namespace {
const char CONNECT_FAILED[] = "Unable to connect to OCS";
const char LINK_LOST[] = "Connection Error!";
constexpr int REOPEN_CHECK_MS = 500;

// --tcp HOST or HOST:PORT (an IPv6 address in brackets before a port), so that jobs on one host can
// each reach a simulator of their own, and CI services by their names. The name is resolved now.
bool ParseTcpTarget(const QString& text, SPlayerOptions& options, QString& error) {
    QString host = text;
    QString port;
    bool hasPort = false;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        host = text.mid(1, close - 1);
        if (close < 0 || (close + 1 < text.size() && text.at(close + 1) != QLatin1Char(':'))) {
            error = QStringLiteral("--tcp takes HOST, HOST:PORT or [IPv6 address]:PORT");
            return false;
        }
        hasPort = close + 1 < text.size();
        port = text.mid(close + 2);
    } else if (text.count(QLatin1Char(':')) == 1) {
        const int colon = text.indexOf(QLatin1Char(':'));
        host = text.left(colon);
        port = text.mid(colon + 1);
        hasPort = true;
    }
    if (hasPort) {
        bool ok = false;
        options.nTcpPort = port.toInt(&ok);
        if (!ok || options.nTcpPort < 1 || options.nTcpPort > 65535) {
            error = QStringLiteral("--tcp takes HOST or HOST:PORT, PORT 1 to 65535");
            return false;
        }
    }
    QString why;
    options.tcpAddresses = SocketResolve(host, &why);
    if (host.isEmpty() || options.tcpAddresses.isEmpty()) {
        error = QStringLiteral("--tcp: '%1' cannot be resolved: %2")
                    .arg(host, host.isEmpty() ? QStringLiteral("no host given") : why);
        return false;
    }
    options.strTcpHost = host;
    options.settings.m_strIpAddress = options.tcpAddresses.constFirst();
    return true;
}

// One of the serial line choices, as the Communications page lists them, in any letter case.
bool ParseChoice(const SSerialChoice& choice, const QString& text, CAppSettings& s, QString& error) {
    const QStringList items =
        QString::fromLatin1(choice.pszTaken ? choice.pszTaken : choice.pszItems).split(QLatin1Char('\n'));
    for (const QString& item : items) {
        if (item.compare(text, Qt::CaseInsensitive) != 0)
            continue;
        if (choice.pstrField == &CAppSettings::m_strStopBits && item == QLatin1String("1.5") &&
            !SerialTakesOneAndHalfStopBits()) {
            error =
                QStringLiteral("--stop-bits 1.5 cannot be set on this system's serial ports: give 1 or 2");
            return false;
        }
        s.*choice.pstrField = item;
        return true;
    }
    error = QLatin1String(choice.pszOption) + QStringLiteral(" takes one of: ") +
            items.join(QStringLiteral(", "));
    return false;
}

// What the options must say together.
bool CheckPlayerOptions(const SPlayerOptions& options, QString& error) {
    const CAppSettings& s = options.settings;
    if (options.strScript.isEmpty()) {
        error = QStringLiteral("no POS definition file given");
        return false;
    }
    if (s.m_bUseNetwork == s.m_bUseSerial) {
        error = QStringLiteral("give one of --tcp ADDRESS and --serial COMn");
        return false;
    }
    if (options.bReconnect && !s.m_bUseSerial) {
        error = QStringLiteral("--reconnect works with --serial only");
        return false;
    }
    if (!options.strJUnit.isEmpty() && options.expect.isEmpty()) {
        error = QStringLiteral("--junit reports judged replies: give --expect too");
        return false;
    }
    return true;
}

// Sets what a flag (an option without a value) stands for; false when arg is none.
bool TakeFlag(const QString& arg, SPlayerOptions& options) {
    if (arg == QLatin1String("--detect"))
        options.bDetect = true;
    else if (arg == QLatin1String("--list-ports"))
        options.bListPorts = true;
    else if (arg == QLatin1String("--reconnect"))
        options.bReconnect = true;
    else if (arg == QLatin1String("--checksum") || arg == QLatin1String("--no-checksum"))
        options.nChecksum = arg == QLatin1String("--checksum") ? 1 : 0;
    else if (arg == QLatin1String("--include-etx") || arg == QLatin1String("--no-include-etx"))
        options.nIncludeEtx = arg == QLatin1String("--include-etx") ? 1 : 0;
    else
        return false;
    return true;
}

const SSerialChoice* SerialChoiceOption(const QString& option) {
    for (const SSerialChoice& choice : SERIAL_CHOICES) {
        if (option == QLatin1String(choice.pszOption))
            return &choice;
    }
    return nullptr;
}

// A whole number from `least` on.
bool ParseCount(const QString& option, const QString& text, int least, const char* what, int& out,
                QString& error) {
    bool ok = false;
    out = text.toInt(&ok);
    if (!ok || out < least)
        error = option + QStringLiteral(" takes ") + QLatin1String(what);
    return ok && out >= least;
}

// A file name: an empty one names none.
bool ParseFileName(const QString& option, const QString& text, QString& out, QString& error) {
    out = text;
    if (text.isEmpty())
        error = option + QStringLiteral(" needs a file name");
    return !text.isEmpty();
}

// Any name Windows may give a port; the ports folder or /dev/ttyS(n-1) stands for it elsewhere.
bool ParseSerialName(const QString& text, CAppSettings& s, QString& error) {
    const int number = ComNameNumber(text);
    if (!number) {
        error = QStringLiteral("--serial takes a port name COM1 to COM255");
        return false;
    }
    s.m_strPort = QStringLiteral("COM%1").arg(number);
    s.m_bUseSerial = 1;
    return true;
}

// The options that take a value, and what each does with it; false, with the reason, when the value
// cannot be taken.
struct SValueOption {
    const char* pszName;
    bool (*take)(const QString& option, const QString& text, SPlayerOptions& options, QString& error);
};
// A time as 500ms, 30s, 10m or 8h (a bare number is seconds), up to 24 days.
bool ParseDuration(const QString& option, const QString& text, qint64& outMs, QString& error) {
    static const std::pair<const char*, qint64> UNITS[] = {
        {"ms", 1}, {"h", 3'600'000}, {"m", 60'000}, {"s", 1000}};
    qint64 unit = 1000;
    QString number = text;
    for (const auto& [suffix, ms] : UNITS) {
        if (text.endsWith(QLatin1String(suffix))) {
            unit = ms;
            number.chop(qsizetype(qstrlen(suffix)));
            break;
        }
    }
    bool ok = false;
    const qint64 value = number.toLongLong(&ok);
    if (!ok || value < 1 || value > INT_MAX / unit) { // what a timer holds: 24 days
        error = option + QStringLiteral(" takes a time such as 500ms, 30s, 10m or 8h");
        return false;
    }
    outMs = value * unit;
    return true;
}

const SValueOption VALUE_OPTIONS[] = {
    {"--serial",
     [](const QString&, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseSerialName(text, o.settings, error);
     }},
    {"--tcp",
     [](const QString&, const QString& text, SPlayerOptions& o, QString& error) {
         if (!ParseTcpTarget(text, o, error))
             return false;
         o.settings.m_bUseNetwork = 1;
         return true;
     }},
    {"--passes",
     [](const QString& option, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseCount(option, text, 0, "a whole number, 0 or more", o.nPasses, error);
     }},
    {"--reply-timeout",
     [](const QString& option, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseCount(option, text, 1, "a whole number of milliseconds, 1 or more", o.nReplyTimeoutMs,
                           error);
     }},
    {"--capture",
     [](const QString& option, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseFileName(option, text, o.strCapture, error);
     }},
    {"--junit",
     [](const QString& option, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseFileName(option, text, o.strJUnit, error);
     }},
    {"--expect",
     [](const QString&, const QString& text, SPlayerOptions& o, QString& error) {
         o.expect = ParseCaptureNotation(text.toLatin1());
         if (o.expect.isEmpty())
             error = QStringLiteral("--expect needs the reply, e.g. \"<06>\"");
         return !o.expect.isEmpty();
     }},
    {"--lanes",
     [](const QString& option, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseFileName(option, text, o.strLanes, error);
     }},
    {"--timestamps",
     [](const QString&, const QString& text, SPlayerOptions& o, QString& error) {
         o.bMsTimestamps = text == QLatin1String("ms");
         if (!o.bMsTimestamps && text != QLatin1String("s"))
             error = QStringLiteral("--timestamps takes ms (HH:MM:SS.mmm) or s (HH:MM:SS)");
         return error.isEmpty();
     }},
    {"--duration",
     [](const QString& option, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseDuration(option, text, o.nDurationMs, error);
     }},
    {"--summary-every",
     [](const QString& option, const QString& text, SPlayerOptions& o, QString& error) {
         return ParseDuration(option, text, o.nSummaryEveryMs, error);
     }},
};

const SValueOption* ValueOption(const QString& option) {
    for (const SValueOption& entry : VALUE_OPTIONS) {
        if (option == QLatin1String(entry.pszName))
            return &entry;
    }
    return nullptr;
}

bool TakesValue(const QString& option) {
    return SerialChoiceOption(option) || ValueOption(option);
}

bool TakeValue(const QString& option, const QString& text, SPlayerOptions& options, QString& error) {
    if (const SSerialChoice* choice = SerialChoiceOption(option))
        return ParseChoice(*choice, text, options.settings, error);
    return ValueOption(option)->take(option, text, options, error);
}

} // namespace

bool ParsePlayerArgs(const QStringList& args, SPlayerOptions& options, QString& error) {
    CAppSettings& s = options.settings;
    for (const SSettingEntry& entry : SettingsTable()) {
        if (entry.pstrField)
            s.*entry.pstrField = QString::fromLatin1(entry.pszDefault);
    }
    s.m_bUseNetwork = 0;
    s.m_bUseSerial = 0;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.bHelp = true;
            return true;
        }
        if (arg == QLatin1String("--version")) {
            options.bVersion = true;
            return true;
        }
        if (TakeFlag(arg, options))
            continue;
        if (TakesValue(arg)) {
            if (i + 1 >= args.size()) {
                error = arg + QStringLiteral(" needs a value");
                return false;
            }
            if (!TakeValue(arg, args[++i], options, error))
                return false;
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
    if (options.bDetect || options.bListPorts) {
        if (args.size() > 1)
            error = args.first() + QStringLiteral(" takes no other option");
        return args.size() == 1;
    }
    if (!options.strLanes.isEmpty()) // each lane is checked as the lanes file completes it
        return true;
    return FinishPlayerOptions(options, error);
}

bool FinishPlayerOptions(SPlayerOptions& options, QString& error) {
    if (!CheckPlayerOptions(options, error))
        return false;
    CAppSettings& s = options.settings;
    s.m_strPosInterface = StripFolderAndExtension(options.strScript);
    s.m_bCalcChecksum = options.nChecksum >= 0                 ? options.nChecksum
                        : PosUsesChecksum(s.m_strPosInterface) ? 1
                                                               : 0;
    s.m_bIncludeEtx = options.nIncludeEtx >= 0 ? options.nIncludeEtx : 0;
    return true;
}

bool TakePlayerOption(const QString& option, const QString& value, SPlayerOptions& options, QString& error) {
    if (option == QLatin1String("--checksum") || option == QLatin1String("--include-etx")) {
        static const QStringList YES{"yes", "on", "true", "1"}, NO{"no", "off", "false", "0"};
        const bool yes = YES.contains(value, Qt::CaseInsensitive);
        if (!yes && !NO.contains(value, Qt::CaseInsensitive)) {
            error = option.mid(2) + QStringLiteral(" takes yes or no");
            return false;
        }
        return TakeFlag(yes ? option : QStringLiteral("--no-") + option.mid(2), options);
    }
    if (!TakesValue(option)) {
        error = QStringLiteral("unknown key ") + option.mid(2);
        return false;
    }
    // A lane's link replaces the command line's.
    if (option == QLatin1String("--tcp") || option == QLatin1String("--serial")) {
        options.settings.m_bUseNetwork = 0;
        options.settings.m_bUseSerial = 0;
    }
    return TakeValue(option, value, options, error);
}

int WorseStatus(int a, int b) {
    const auto rank = [](int status) {
        return status == PLAYER_REPLIES_FAILED ? 1 : status;
    };
    return rank(a) >= rank(b) ? a : b;
}

COrderPlayer::COrderPlayer(const SPlayerOptions& options, FILE* out, FILE* err)
    : m_options(options), m_out(out), m_err(err) {
    if (m_options.nDurationMs > 0)
        m_options.nPasses = 0; // passes until the time is up
    m_session.SetTcpTargets(m_options.tcpAddresses, m_options.nTcpPort);
    m_session.SetPassLimit(m_options.nPasses);
    m_durationTimer.setSingleShot(true);
    connect(&m_durationTimer, &QTimer::timeout, this, [this] {
        m_session.SetPassLimit(m_session.PassesDone() + 1); // the pass under way is the last
    });
    connect(&m_summaryTimer, &QTimer::timeout, this,
            [this] { Show(PLAYER_TEXT_REPORT, "summary: " + SummaryLine()); });
    connect(&m_session, &COrderSession::Connected, this, [this] { m_bLinked = true; });
    connect(&m_session, &COrderSession::ConnectFailed, this, &COrderPlayer::NoConnection);
    connect(&m_session, &COrderSession::LinkLost, this, &COrderPlayer::OnLinkLost);
    connect(&m_session, &COrderSession::Reconnected, this, [this] {
        m_reopenTimer.stop();
        m_bWaitingForPort = false;
        const QString& port = m_options.settings.m_strPort;
        AddTx(port.toLatin1(), TXLINE_COMMENT);
        Tell(port + QStringLiteral(" is back; the order goes on"));
    });
    connect(&m_session, &COrderSession::LineSent, this, &COrderPlayer::OnLineSent);
    connect(&m_session, &COrderSession::ReplyReceived, this, [this](const QByteArray& text, bool serial) {
        if (!m_bEnded)
            AddRx(text, serial);
    });
    connect(&m_session, &COrderSession::Finished, this, &COrderPlayer::OnPassesPlayed);
    m_reopenTimer.setInterval(REOPEN_CHECK_MS);
    connect(&m_reopenTimer, &QTimer::timeout, this, &COrderPlayer::TryReopen);
    QString why;
    if (!m_journal.Create(&why) || !m_journal.Attach(m_tx, m_rx, &why))
        TellJournalFailure(why);
    m_syncTimer.setSingleShot(true);
    connect(&m_syncTimer, &QTimer::timeout, this, [this] {
        m_tx.SyncToDisk();
        m_rx.SyncToDisk();
    });
    if (!m_options.expect.isEmpty()) {
        m_pJudge = std::make_shared<CReplyJudge>(
            m_options.expect, qint64(m_options.nReplyTimeoutMs) * 1'000'000, [this](const SJudgedLine& line) {
                if (line.result == JUDGED_ANSWERED)
                    return;
                Show(PLAYER_TEXT_REPORT, "failed: pass " + QByteArray::number(line.nPass) + " line " +
                                             QByteArray::number(line.nLine) + ": " + line.text + ": " +
                                             m_pJudge->FailureMessage(line).toUtf8());
            });
        connect(&m_session, &COrderSession::BytesReceived, this, [this](const QByteArray& bytes, qint64 ns) {
            if (!m_bEnded)
                m_pJudge->BytesReceived(bytes, ns);
            ArmJudgeTimer();
        });
        m_judgeTimer.setSingleShot(true);
        m_judgeTimer.setTimerType(Qt::PreciseTimer);
        connect(&m_judgeTimer, &QTimer::timeout, this, &COrderPlayer::OnJudgeTimer);
    }
}

COrderPlayer::~COrderPlayer() {
    m_session.Close();
    m_tx.CloseJournal();
    m_rx.CloseJournal();
    // A normal end; a killed player's journals stay for POS Emulator to offer, and so do those of a
    // capture that could not be written.
    if (m_bKeepJournals)
        m_journal.Keep();
    else
        m_journal.Remove();
}

void PrintAdapterNotes(FILE* err) {
    for (const QString& note : TakeAdapterNotes())
        std::fprintf(err, "pos-player: %s\n", qUtf8Printable(note));
    std::fflush(err);
}

void COrderPlayer::TellAdapterNotes() {
    for (const QString& note : TakeAdapterNotes())
        Tell(note);
}

void COrderPlayer::Show(EPlayerText kind, const QByteArray& text) {
    if (m_sink) {
        m_sink(kind, text);
        return;
    }
    FILE* stream = kind == PLAYER_TEXT_MESSAGE ? m_err : m_out;
    std::fprintf(stream, "%s%s\n", kind == PLAYER_TEXT_MESSAGE ? "pos-player: " : "", text.constData());
    std::fflush(stream);
}

void COrderPlayer::Tell(const QString& message) {
    Show(PLAYER_TEXT_MESSAGE, message.toUtf8());
}

void COrderPlayer::TellJournalFailure(const QString& reason) {
    if (m_bJournalFailureTold)
        return;
    m_bJournalFailureTold = true;
    Tell(QStringLiteral("the capture cannot be kept on disk (%1); it is held in memory only").arg(reason));
}

// Each line reaches the operating system as it is printed, and the disk within a second.
void COrderPlayer::KeepLine(CCaptureLines& lines, const QByteArray& line) {
    lines.Append(line);
    lines.Commit();
    if (!lines.JournalError().isEmpty())
        TellJournalFailure(lines.JournalError());
    else if (!m_syncTimer.isActive())
        m_syncTimer.start(1000);
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
    // A file the loader cannot read is an empty order to the window; here it is a failure.
    QString unreadable;
    const bool loaded = m_session.Script().LoadOrderFile(path, &unreadable);
    if (!loaded || !unreadable.isEmpty()) {
        Fail(PLAYER_NO_SCRIPT,
             loaded ? unreadable.trimmed() : QStringLiteral("Error: Unable to load POS data"));
        return;
    }
    if (m_options.nDurationMs > 0)
        m_durationTimer.start(std::chrono::milliseconds(m_options.nDurationMs));
    if (m_options.nSummaryEveryMs > 0)
        m_summaryTimer.start(std::chrono::milliseconds(m_options.nSummaryEveryMs));
    const CAppSettings& s = m_options.settings;
    if (s.m_bUseSerial && m_options.strLane.isEmpty()) { // a lab's ports are named before its lanes start
        AssignAdapterPorts(); // an adapter plugged in gets its COM name, as the window gives it
        TellAdapterNotes();
    }
    QString why;
    if (m_session.Open(s, &why))
        return;
    if (s.m_bUseSerial && m_options.bReconnect) { // not there yet: waited for as after an unplug
        m_bWaitingForStart = true;
        Tell(why + QStringLiteral("; waiting for it (Ctrl+C ends)"));
        m_reopenTimer.start();
        return;
    }
    if (s.m_bUseSerial) {
        Fail(PLAYER_NO_LINK, QStringLiteral("Unable to Initiate Comms! ") + why);
        return;
    }
    NoConnection();
}

// Every address the --tcp host stands for was tried.
void COrderPlayer::NoConnection() {
    const QString host =
        m_options.strTcpHost.isEmpty() ? m_options.settings.m_strIpAddress : m_options.strTcpHost;
    m_strRunError =
        QStringLiteral("could not connect to %1").arg(SocketAddressWithPort(host, m_options.nTcpPort));
    Fail(PLAYER_NO_LINK, QString::fromLatin1(CONNECT_FAILED));
}

// Wakes when the oldest waiting line's time runs out.
void COrderPlayer::ArmJudgeTimer() {
    if (!m_pJudge || m_bEnding)
        return;
    const qint64 deadline = m_pJudge->NextDeadlineNs();
    if (deadline < 0) {
        m_judgeTimer.stop();
        if (m_bAwaitingReplies)
            End(PLAYER_OK);
        return;
    }
    const qint64 waitNs = std::max<qint64>(0, deadline - m_session.ElapsedNs());
    m_judgeTimer.start(int(waitNs / 1'000'000) + 1);
}

void COrderPlayer::OnJudgeTimer() {
    if (!m_pJudge || m_bEnding)
        return;
    m_pJudge->Expire(m_session.ElapsedNs());
    ArmJudgeTimer();
}

void COrderPlayer::Interrupt() {
    if (m_bEnding)
        return;
    if (m_bAwaitingReplies) {
        End(PLAYER_OK); // every pass was played; only the replies still due go unjudged
        return;
    }
    if (m_bWaitingForPort) { // the pass cannot be finished: ends as a finished one would
        End(m_options.nPasses == 0 ? PLAYER_OK : PLAYER_INTERRUPTED);
        return;
    }
    if (m_bFinishing || !m_session.IsOpen()) {
        End(PLAYER_INTERRUPTED);
        return;
    }
    m_bFinishing = true;
    m_session.Stop();
}

// The script's end: every pass played, or the pass Ctrl+C finished.
void COrderPlayer::OnPassesPlayed() {
    const int passes = m_options.nPasses;
    const bool allPlayed =
        passes == 0 || m_session.PassesDone() >= passes || m_session.Script().GetLineCount() == 0;
    if (allPlayed && !m_bFinishing && m_pJudge && m_pJudge->HasWaiting()) {
        m_bAwaitingReplies = true; // the replies to the last lines are still due
        ArmJudgeTimer();
        return;
    }
    End(allPlayed ? PLAYER_OK : PLAYER_INTERRUPTED);
}

void COrderPlayer::OnLineSent(const SSentLine& line) {
    AddTx(line.text, line.nKind);
    if (line.IsData() && m_pJudge && !m_bEnding) {
        m_pJudge->LineSent(line.nPass, line.nLine, line.text, line.nSentNs);
        ArmJudgeTimer();
    }
}

void COrderPlayer::AddTx(const QByteArray& text, int kind) {
    const QByteArray formatted = FormatTxLine(text, kind, m_options.bMsTimestamps);
    KeepLine(m_tx, formatted);
    Show(PLAYER_TEXT_CAPTURE, formatted);
}

void COrderPlayer::AddRx(const QByteArray& text, bool serial) {
    const QByteArray formatted = FormatRxLine(text, serial, m_options.bMsTimestamps);
    KeepLine(m_rx, formatted);
    Show(PLAYER_TEXT_CAPTURE, formatted);
}

// The summary, and status 7 when a line failed and nothing worse happened.
void COrderPlayer::ReportJudgement() {
    if (!m_pJudge)
        return;
    m_judgeTimer.stop();
    m_pJudge->Expire(m_session.ElapsedNs());
    if (m_options.strLane.isEmpty()) // a lab prints its lanes' summaries together
        Show(PLAYER_TEXT_REPORT, SummaryLine());
    const bool failed = m_pJudge->Count(JUDGED_WRONG) + m_pJudge->Count(JUDGED_MISSING) > 0;
    if (failed && m_nStatus == PLAYER_OK)
        m_nStatus = PLAYER_REPLIES_FAILED;
}

// The JUnit report: the judged lines, and an error case when the run itself failed, so that a CI that
// reads reports rather than exit codes sees the failure.
void COrderPlayer::WriteReport() {
    if (!m_pJudge || m_options.strJUnit.isEmpty())
        return;
    QString error;
    if (m_nStatus != PLAYER_OK && m_nStatus != PLAYER_REPLIES_FAILED)
        error = m_strRunError.isEmpty() ? QStringLiteral("the run ended with status %1").arg(m_nStatus)
                                        : m_strRunError;
    const QByteArray report = JUnitReport(*m_pJudge, m_options.settings.m_strPosInterface,
                                          double(m_session.ElapsedNs()) / 1e9, error);
    QString why;
    if (WriteCaptureFile(m_options.strJUnit, report, &why) != CAPTURE_WRITTEN) {
        Tell(QStringLiteral("Unable to write the report. ") + why);
        if (m_nStatus == PLAYER_OK || m_nStatus == PLAYER_REPLIES_FAILED)
            m_nStatus = PLAYER_NO_CAPTURE;
    }
}

void COrderPlayer::Fail(int status, const QString& message) {
    if (m_bEnding)
        return;
    Tell(message);
    if (m_strRunError.isEmpty()) {
        if (status == PLAYER_NO_SCRIPT)
            m_strRunError = QStringLiteral("POS not loaded: %1").arg(message);
        else if (status == PLAYER_NO_LINK)
            m_strRunError =
                QStringLiteral("could not open %1: %2").arg(m_options.settings.m_strPort, message);
        else if (status == PLAYER_LINK_LOST)
            m_strRunError = QStringLiteral("connection dropped after %1 data lines sent: %2")
                                .arg(m_session.DataLinesSent())
                                .arg(message);
    }
    End(status);
}

// The link failed. A serial device that went away is waited for with --reconnect, and the capture
// shows where; otherwise the order ends.
void COrderPlayer::OnLinkLost(const QString& reason) {
    if (m_bEnding || m_bWaitingForPort)
        return;
    AddTx(LINK_LOST, TXLINE_COMMENT); // where the link ended, after the last line that went out whole
    if (!m_session.UsesSerial() || !m_options.bReconnect) {
        Fail(PLAYER_LINK_LOST, reason);
        return;
    }
    m_bWaitingForPort = true;
    Tell(m_options.settings.m_strPort +
         QStringLiteral(" went away; waiting for it to come back (Ctrl+C ends)"));
    m_reopenTimer.start();
}

void COrderPlayer::TryReopen() {
    if (m_bEnding)
        return;
    if (m_bWaitingForStart) {
        AssignAdapterPorts(); // an adapter seen for the first time gets its name now
        TellAdapterNotes();
        if (!m_session.Open(m_options.settings))
            return; // not there, or not ready yet: the next check tries again
        m_bWaitingForStart = false;
        m_reopenTimer.stop();
        Tell(m_options.settings.m_strPort + QStringLiteral(" is there; the order starts"));
        return;
    }
    if (QFileInfo::exists(PortDeviceName(m_options.settings.m_strPort)))
        m_session.Reopen(); // there, but not ready yet: the next check tries again
}

void COrderPlayer::End(int status) {
    if (m_bEnding)
        return;
    m_bEnding = true;
    m_reopenTimer.stop();
    m_durationTimer.stop();
    m_summaryTimer.stop();
    m_session.Close(); // what came in before the close is still shown
    m_bEnded = true;
    m_nStatus = status;
    m_syncTimer.stop();
    m_tx.SyncToDisk();
    m_rx.SyncToDisk();
    ReportJudgement();
    if (status == PLAYER_INTERRUPTED && m_strRunError.isEmpty())
        m_strRunError = QStringLiteral("interrupted after %1 data lines sent").arg(m_session.DataLinesSent());
    // Once the link was made the file is written, also for an empty script or a dropped link.
    if (!m_options.strCapture.isEmpty() && (m_bLinked || m_tx.Count() > 0 || m_rx.Count() > 0)) {
        QString why;
        const ECaptureWrite written = WriteCaptureFile(m_options.strCapture, m_tx, m_rx, &why);
        const QString shown = QDir::toNativeSeparators(m_options.strCapture);
        if (written == CAPTURE_CANNOT_OPEN)
            Tell(QStringLiteral("Unable to open file. %1: %2").arg(shown, why));
        else if (written == CAPTURE_WRITE_FAILED)
            Tell(QStringLiteral("Unable to write the capture to %1: %2").arg(shown, why));
        if (written != CAPTURE_WRITTEN) {
            if (m_nStatus == PLAYER_OK || m_nStatus == PLAYER_REPLIES_FAILED) {
                m_nStatus = PLAYER_NO_CAPTURE;
                m_strRunError = QStringLiteral("capture file not written: %1").arg(why);
            }
            if (m_tx.IsJournaled() && m_rx.IsJournaled()) {
                m_bKeepJournals = true;
                Tell(QStringLiteral(
                         "the capture is kept in %1; the next start of POS Emulator offers to save it")
                         .arg(QDir::toNativeSeparators(m_journal.Folder())));
            }
        }
    }
    WriteReport();
    emit Finished(m_nStatus);
}

SPlayerOutcome COrderPlayer::Outcome() const {
    SPlayerOutcome outcome;
    outcome.nStatus = m_nStatus;
    outcome.strRunError = m_strRunError;
    outcome.nSeconds = double(m_session.ElapsedNs()) / 1e9;
    outcome.nDataLines = m_session.DataLinesSent();
    outcome.pJudge = m_pJudge;
    return outcome;
}

QByteArray COrderPlayer::SummaryLine() const {
    if (m_pJudge)
        return m_pJudge->Summary(m_pJudge->WaitingCount());
    return "sent " + QByteArray::number(m_session.DataLinesSent()) + " data lines; nothing judged";
}

void ReportSearch(COcsSearch& search, FILE* out, FILE* err, const std::function<void(int status)>& done) {
    QObject::connect(&search, &COcsSearch::Trying, &search, [err](const QString& port, const QString& baud) {
        std::fprintf(err, "Trying %s at %s baud\n", qUtf8Printable(port), qUtf8Printable(baud));
        std::fflush(err);
    });
    QObject::connect(&search, &COcsSearch::Skipped, &search, [err](const QString& port) {
        std::fprintf(err, "%s\n", qUtf8Printable(SkippedPortText(port)));
        std::fflush(err);
    });
    QObject::connect(&search, &COcsSearch::Finished, &search, [out, err, done](const SDetectResult& result) {
        PrintAdapterNotes(err);
        if (!result.bFound) {
            std::fprintf(err, "pos-player: %s\n", result.bCancelled ? "search interrupted" : "OCS Not Found");
            done(result.bCancelled ? PLAYER_INTERRUPTED : PLAYER_NO_LINK);
            return;
        }
        CAppSettings found;
        ApplyDetectResult(found, result);
        std::fprintf(
            out,
            "OCS found on %s: --serial %s --baud %s --parity %s --data-bits %s --stop-bits %s --flow %s\n",
            qUtf8Printable(found.m_strPort), qUtf8Printable(found.m_strPort), qUtf8Printable(found.m_strBaud),
            qUtf8Printable(found.m_strParity), qUtf8Printable(found.m_strDataBits),
            qUtf8Printable(found.m_strStopBits), qUtf8Printable(found.m_strFlowControl));
        std::fflush(out);
        done(PLAYER_OK);
    });
}
