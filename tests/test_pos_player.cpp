#include "app/emulator_app.h"
#include "capture/capture_file.h"
#include "capture/capture_journal.h"
#include "capture/capture_log.h"
#include "order_player.h"
#include "reply_judge.h"
#include "script/order_line.h"
#include "script/order_script.h"
#include "test_peer.h"
#include "test_support.h"
#include "transport/port_names.h"
#include "ui/capture_save.h"
#include "ui/file_dialog.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/send_order_page.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QXmlStreamReader>
#include <csignal>
#include <thread>

namespace {

// Reads everything a peer receives on fd until the other side closes.
class CPeerCollector {
public:
    explicit CPeerCollector(PeerHandle fd) {
        m_thread = std::thread([this, fd] {
            long n;
            while ((n = ReadWithin(fd, 20000, m_data)) > 0) {
            }
            m_bClosed = n == 0;
        });
    }
    ~CPeerCollector() { Join(); }
    const QByteArray& Join() {
        if (m_thread.joinable())
            m_thread.join();
        return m_data;
    }
    bool Closed() {
        Join();
        return m_bClosed;
    }

private:
    std::thread m_thread;
    QByteArray m_data;
    bool m_bClosed = false;
};

// Capture text with the clock times blanked, so that two runs compare.
QByteArray WithoutTimes(QByteArray text) {
    static const QRegularExpression time(QStringLiteral("(^|\\n)\\d\\d:\\d\\d:\\d\\d"));
    return QString::fromLatin1(text).replace(time, QStringLiteral("\\1hh:mm:ss")).toLatin1();
}

struct SRun {
    int nExit = -1;
    QByteArray out;
    QByteArray err;
    QStringList left; // in the captures folder after the run
};

// The [Tx] journal of a running player, found by its process id; empty until it is there.
QString TxJournalOf(qint64 pid) {
    const QDir base(CaptureJournalsFolder());
    for (const QString& name : base.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name.section(QLatin1Char('-'), 2, 2) == QString::number(pid))
            return base.filePath(name + QStringLiteral("/tx.journal"));
    }
    return QString();
}

// What a JUnit reader takes from a report: the suite ("name tests failures time"), each case's name,
// class and time (but the player's "run" case), failures as "type: message", errors' messages, and
// whether the count says one error.
struct SReport {
    bool bWellFormed = false;
    QString suite;
    QStringList suites; // "name tests failures errors" each
    QStringList cases, classes, times, failures, errors;
    bool bErrorCounted = false;
};
SReport ReadReport(const QByteArray& text) {
    SReport report;
    QXmlStreamReader xml(text);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = [&xml](const char* attribute) {
            return xml.attributes().value(attribute).toString();
        };
        if (xml.name() == QLatin1String("testsuites")) {
            report.bErrorCounted = name("errors") == QLatin1String("1");
        } else if (xml.name() == QLatin1String("testsuite")) {
            report.suite = QStringList{name("name"), name("tests"), name("failures"),
                                       QString::number(name("time").toDouble())}
                               .join(' ');
            report.suites << QStringList{name("name"), name("tests"), name("failures"), name("errors")}.join(
                ' ');
        } else if (xml.name() == QLatin1String("testcase") && name("name") != QLatin1String("run")) {
            report.cases << name("name");
            report.classes << name("classname");
            report.times << name("time");
        } else if (xml.name() == QLatin1String("failure")) {
            report.failures << name("type") + ": " + name("message");
        } else if (xml.name() == QLatin1String("error")) {
            report.errors << name("message");
        }
    }
    report.bWellFormed = !xml.hasError() && !text.isEmpty();
    return report;
}
SReport ReadReport(const QString& path) {
    return ReadReport(ReadAll(path));
}

} // namespace

namespace {
constexpr qint64 MS = 1'000'000;

// One step of a judged exchange: a line sent ("send TEXT"), bytes received ("recv <06>"), or the
// clock moving on ("tick"), at a time in milliseconds.
struct SStep {
    qint64 nAtMs;
    QByteArray what;
};

// Each judged line as "L answered 12" (latency ms), "L wrong <15>" or "L missing".
QStringList Outcome(const CReplyJudge& judge) {
    QStringList out;
    for (const SJudgedLine& line : judge.Judged()) {
        QString text = QString::number(line.nLine);
        if (line.result == JUDGED_ANSWERED) {
            text += " answered " + QString::number(line.nLatencyNs / MS);
        } else if (line.result == JUDGED_WRONG) {
            QByteArray other = line.other;
            EscapeControlBytes(other);
            text += " wrong " + QString::fromLatin1(other);
        } else {
            text += " missing";
        }
        out << text;
    }
    return out;
}
} // namespace
Q_DECLARE_METATYPE(QList<SStep>)

class TestPosPlayer : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    void WritePos(const QString& name, const QByteArray& content) {
        QVERIFY(WriteFile(m_dir.filePath("POS/" + name + ".vlq"), content));
    }
    static void StartPlayer(QProcess& player, const QStringList& args) {
        player.setWorkingDirectory(QDir::currentPath());
        AllowInterrupt(player);
        player.start(BuiltProgram(POS_PLAYER_PATH), args);
    }
    // Starts ocs-sim and waits until it listens on every port it was given.
    static bool StartSim(QProcess& sim, const QStringList& args, int ports = 1) {
        sim.start(BuiltProgram(OCS_SIM_PATH), args);
        QByteArray out;
        QElapsedTimer waited;
        waited.start();
        while (out.count("listening") < ports && sim.state() != QProcess::NotRunning &&
               waited.elapsed() < 15000) {
            sim.waitForReadyRead(100);
            out += sim.readAllStandardOutput();
        }
        return out.count("listening") == ports;
    }
    // A lanes file of `count` lanes "Lane 1".. over TCP to address, ports from firstPort on, then `more`.
    QString WriteLanes(const char* address, int firstPort, int count, const QByteArray& more = QByteArray()) {
        QByteArray text = "; a lab\n";
        for (int i = 0; i < count; ++i)
            text += "[Lane " + QByteArray::number(i + 1) + "]\ntcp = " + address + ":" +
                    QByteArray::number(firstPort + i) + "\n" + (i % 3 == 1 ? "checksum = yes\n" : "") + "\n";
        const QString path = m_dir.filePath("lanes.ini");
        return WriteFile(path, text + more) ? path : QString();
    }
    // The frames ocs-sim printed for the connection to `port`, as the capture notation shows them.
    static QByteArrayList FramesOn(const QByteArray& simOut, int port) {
        QByteArrayList frames;
        const QByteArray on = " on " + QByteArray::number(port) + " ";
        for (const QByteArray& line : simOut.split('\n')) {
            const qsizetype at = line.indexOf(on);
            const QByteArray frame = at < 0 ? QByteArray() : line.mid(at + on.size()).trimmed();
            if (frame.startsWith('<'))
                frames << frame.left(frame.indexOf("  ["));
        }
        return frames;
    }

    static SRun Play(const QStringList& args, int timeoutMs = 30000) {
        QProcess player;
        StartPlayer(player, args);
        SRun run;
        if (!player.waitForFinished(timeoutMs))
            player.kill();
        player.waitForFinished();
        run.nExit = player.exitStatus() == QProcess::NormalExit ? player.exitCode() : -1;
        run.out = TextOutput(player.readAllStandardOutput());
        run.err = TextOutput(player.readAllStandardError());
        run.left =
            QDir(CaptureJournalsFolder()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return run;
    }

private slots:
    // Where a player cannot be stopped as by Ctrl+C (Windows), a case that ends one leaves its capture.
    void init() { QDir(CaptureJournalsFolder()).removeRecursively(); }

    void initTestCase() {
        InstallNoiseFilter();
        IgnoreBrokenPipes();
        MaskAllComPorts();
        QVERIFY(QDir(m_dir.path()).mkpath("POS"));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        SetMessageBoxHandler([](const SMessageBox&) { return CMessageBox::Ok; });
    }

    // The command line as read: checksum, ETX included, baud, passes, and the link (the port and its
    // parity, or the first address and the port). --tcp takes names and IPv4 and IPv6 addresses; a
    // name is resolved at once, its IPv4 addresses first, and one that resolves to nothing is a wrong
    // command line with the resolver's reason (an error ending in ": " is followed by it).
    void parseArgs_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error"); // empty: accepted
        QTest::addColumn<QString>("parsed");
        const auto ok = [](const char* tag, const QStringList& args, const char* parsed) {
            QTest::newRow(tag) << args << QString() << QString(parsed);
        };
        const auto refused = [](const char* tag, const QStringList& args, const char* error) {
            QTest::newRow(tag) << args << QString::fromLatin1(error) << QString();
        };
        ok("PC-POS rule", {"POS/pc-pos 7.vlq", "--tcp", "127.0.0.1"}, "1 0 9600 1 127.0.0.1 48501");
        ok("other POS", Args("Other --tcp 127.0.0.1"), "0 0 9600 1 127.0.0.1 48501");
        ok("flags win", Args("PC-POS --no-checksum --tcp 1.2.3.4"), "0 0 9600 1 1.2.3.4 48501");
        ok("etx on", Args("Other --checksum --include-etx --tcp 127.0.0.1"), "1 1 9600 1 127.0.0.1 48501");
        ok("serial texts", Args("X --serial com3 --baud 19200 --parity even --passes 0"),
           "0 0 19200 0 COM3 Even");
        // Any name Windows may give a port (USB adapters get numbers above 14 there).
        ok("COM255", Args("X --serial COM255 --parity Even"), "0 0 9600 1 COM255 Even");
        ok("a standard rate beyond the list's", Args("X --serial COM1 --baud 38400"),
           "0 0 38400 1 COM1 None");
        ok("name and port", Args("X --tcp localhost:47199"), "0 0 9600 1 127.0.0.1 47199");
        ok("IPv6 in brackets", Args("X --tcp [::1]:5"), "0 0 9600 1 ::1 5");
        ok("IPv6 alone", Args("X --tcp ::1"), "0 0 9600 1 ::1 48501");
        for (const char* name : {"COM256", "COM0", "COMX", "ttyS0"})
            refused(name, {"X", "--serial", name}, "--serial takes a port name COM1 to COM255");
        refused("no link", Args("X"), "give one of --tcp ADDRESS and --serial COMn");
        refused("two links", Args("X --tcp 127.0.0.1 --serial COM1"),
                "give one of --tcp ADDRESS and --serial COMn");
        refused("no file", Args("--tcp 127.0.0.1"), "no POS definition file given");
        refused("two files", Args("A B --tcp 127.0.0.1"), "only one POS definition file can be played");
        refused("bad baud", Args("X --serial COM1 --baud 12345"),
                "--baud takes one of: 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200");
        if (OnWindows())
            ok("1.5 stop bits", Args("X --serial COM1 --stop-bits 1.5"), "0 0 9600 1 COM1 None");
        else
            refused("1.5 stop bits", Args("X --serial COM1 --stop-bits 1.5"),
                    "--stop-bits 1.5 cannot be set on this system's serial ports: give 1 or 2");
        refused("value missing", Args("X --tcp"), "--tcp needs a value");
        refused("negative passes", Args("X --tcp 127.0.0.1 --passes -1"),
                "--passes takes a whole number, 0 or more");
        refused("unknown", Args("X --fast"), "unknown option --fast");
        refused("empty reply", Args("X --tcp 127.0.0.1 --expect "),
                "--expect needs the reply, e.g. \"<06>\"");
        refused("zero time-out", Args("X --tcp 127.0.0.1 --reply-timeout 0"),
                "--reply-timeout takes a whole number of milliseconds, 1 or more");
        for (const char* port : {"0", "65536", "port", ""})
            refused(qPrintable(QStringLiteral("TCP port \"%1\"").arg(port)),
                    {"X", "--tcp", QStringLiteral("127.0.0.1:") + port},
                    "--tcp takes HOST or HOST:PORT, PORT 1 to 65535");
        refused("bracket not closed", {"X", "--tcp", "[::1:5"},
                "--tcp takes HOST, HOST:PORT or [IPv6 address]:PORT");
        refused("no such name", {"X", "--tcp", "no such host!"},
                "--tcp: 'no such host!' cannot be resolved: ");
        refused("report, nothing judged", Args("X --tcp 127.0.0.1 --junit r.xml"),
                "--junit reports judged replies: give --expect too");
        for (const char* time : {"0", "5x", "ms", "-1s", "597h", "9999999999999999h"})
            refused(qPrintable(QStringLiteral("duration \"%1\"").arg(time)),
                    {"X", "--tcp", "127.0.0.1", "--duration", time},
                    "--duration takes a time such as 500ms, 30s, 10m or 8h");
        refused("microseconds", Args("X --tcp 127.0.0.1 --timestamps us"),
                "--timestamps takes ms (HH:MM:SS.mmm) or s (HH:MM:SS)");
    }
    void parseArgs() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        SPlayerOptions options;
        QString why;
        const bool ok = ParsePlayerArgs(args, options, why);
        QVERIFY2(error.endsWith(": ") ? why.startsWith(error) && why.size() > error.size() : why == error,
                 qPrintable(why));
        QCOMPARE(ok, error.isEmpty());
        if (!ok)
            return;
        const CAppSettings& s = options.settings;
        const QString link = s.m_bUseSerial
                                 ? s.m_strPort + ' ' + s.m_strParity
                                 : options.tcpAddresses.value(0) + ' ' + QString::number(options.nTcpPort);
        QTEST(QStringLiteral("%1 %2 %3 %4 ")
                      .arg(s.m_bCalcChecksum)
                      .arg(s.m_bIncludeEtx)
                      .arg(s.m_strBaud)
                      .arg(options.nPasses) +
                  link,
              "parsed");
        QVERIFY(s.m_bUseSerial || s.m_strIpAddress == options.tcpAddresses.value(0));
        QVERIFY(options.expect.isEmpty()); // nothing judged unless asked
    }

    // The player puts on the wire exactly what the window sends for one pass of the same file and
    // settings, shows the same replies, and writes the same capture file but for the clock times.
    void sameAsWindow_data() {
        QTest::addColumn<QString>("pos");
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("checksum"); // what the window holds
        QTest::addColumn<int>("includeEtx");
        QTest::newRow("PC-POS rule") << "PC-POS Lane" << QStringList{} << 1 << 0;
        QTest::newRow("ETX in checksum") << "Lane" << QStringList{"--checksum", "--include-etx"} << 1 << 1;
        QTest::newRow("no checksum") << "Lane" << QStringList{} << 0 << 0;
    }
    void sameAsWindow() {
        QFETCH(QString, pos);
        QFETCH(QStringList, flags);
        WritePos(
            pos,
            "Remark\r\n<c>order 12\r\n<02>AB<03>\r\n<p>0\r\n<02>A;B<03>x<03>\r\n<02><7F><FF><1C>Z<03>\r\n");

        CEmulatorApp app;
        app.LoadSettings();
        app.m_settings.m_bUseNetwork = 1;
        app.m_settings.m_bUseSerial = 0;
        app.m_settings.m_strIpAddress = "127.0.0.70";
        app.m_settings.m_strPosInterface = pos;
        QFETCH(int, checksum);
        QFETCH(int, includeEtx);
        app.m_settings.m_bCalcChecksum = checksum;
        app.m_settings.m_bIncludeEtx = includeEtx;
        CTestListener windowPeer("127.0.0.70");
        CMainDialog window(&app);
        window.show();
        window.m_pageSendOrder->OnRun();
        const QByteArray reply("\x06OK\0hidden", 10); // its NUL hides nothing
        const PeerHandle fd = windowPeer.Accept();
        QVERIFY(fd != PEER_NONE);
        WriteBytes(fd, reply);
        CPeerCollector fromWindow(fd);
        QTRY_VERIFY(window.m_modelTx.Lines().Count() >= 2); // the first data line is out
        QTRY_COMPARE(window.m_modelRx.Lines().Count(), 1);
        window.m_pageSendOrder->OnStop(); // plays the rest of the pass
        QVERIFY(fromWindow.Closed());
        ClosePeer(fd);
        const QByteArray windowCapture =
            FormatCaptureFile(window.m_modelTx.Lines(), window.m_modelRx.Lines());

        CTestListener playerPeer("127.0.0.71");
        const QString capture = m_dir.filePath("player-capture.txt");
        QProcess player;
        StartPlayer(player, QStringList{pos, "--tcp", "127.0.0.71", "--capture", capture} + flags);
        const PeerHandle fd2 = playerPeer.Accept();
        QVERIFY2(fd2 != PEER_NONE, TextOutput(player.readAllStandardError()).constData());
        WriteBytes(fd2, reply);
        CPeerCollector fromPlayer(fd2);
        QVERIFY(player.waitForFinished(20000));
        QCOMPARE(player.exitCode(), 0);
        QVERIFY(fromPlayer.Closed());
        ClosePeer(fd2);

        QVERIFY(!fromWindow.Join().isEmpty());
        QCOMPARE(fromPlayer.Join(), fromWindow.Join());
        const QByteArray playerCapture = ReadAll(capture);
        QCOMPARE(WithoutTimes(playerCapture), WithoutTimes(windowCapture));
        // What it printed is the capture's [Tx] section as it happened.
        const QByteArray printed = TextOutput(player.readAllStandardOutput());
        QVERIFY(printed.contains("NETWORK   <02>A<00>B<03>x<03>\n"));
        QVERIFY(printed.contains("NETWORK:  <06>OK<00>hidden\n"));
        QVERIFY(playerCapture.contains("NETWORK:  <06>OK<00>hidden\r\n"));
        QVERIFY(playerCapture.contains(printed.left(printed.indexOf('\n')) + "\r\n"));
    }

    void exitStatus_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("peer"); // "", "listen", "drop"
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        const auto row = [](const char* tag, const QStringList& args, const char* peer, int status,
                            const QByteArray& message) {
            QTest::newRow(tag) << args << QString(peer) << status << message;
        };
        const QStringList one = Args("One --tcp 127.0.0.73");
        const QByteArray noFile = "pos-player: Unable to open file.";
        row("file missing", Args("Nowhere --tcp 127.0.0.73"), "listen", 3,
            "pos-player: Error: Unable to find POS data\n");
        // Write-only even for root; stands for a file the user may not read.
        row("file unreadable", Args("/proc/sys/vm/compact_memory --tcp 127.0.0.73"), "listen", 3,
            "pos-player: Unable to read Order file \"/proc/sys/vm/compact_memory\".\n");
        row("nothing listens", one, "", 4, "pos-player: Unable to connect to OCS\n");
        row("no such port", Args("One --serial COM14"), "", 4,
            "pos-player: Unable to Initiate Comms! COM14" +
                QByteArray(OnWindows() ? "" : " (/nonexistent/no-such-device)") +
                ": no such device (not plugged in?)\n");
        row("OCS drops", Args("One --tcp 127.0.0.73 --passes 0 --capture") << m_dir.filePath("dropped.txt"),
            "drop", 5, "pos-player: Connection Error! The OCS ");
        row("bad option", Args("One --tcp"), "", 2,
            "pos-player: --tcp needs a value\nTry 'pos-player --help'.\n");
        row("capture unwritable", one + QStringList{"--capture", m_dir.path()}, "listen", 6, noFile);
        const QString gone = m_dir.filePath("gone/c.txt");
        row("capture folder missing", one + QStringList{"--capture", gone}, "listen", 6,
            noFile + " " + QDir::toNativeSeparators(gone).toUtf8() + ": " +
                (OnWindows() ? "Path not found." : "No such file or directory") + "\n");
        row("capture too large", one + QStringList{"--capture", m_dir.filePath("big.txt")}, "listen", 6,
            "pos-player: Unable to write the capture to " + m_dir.filePath("big.txt").toLocal8Bit() +
                ": File too large\n");
        row("capture to no file", Args("One --tcp 127.0.0.73 --capture "), "", 2,
            "pos-player: --capture needs a file name\nTry 'pos-player --help'.\n");
        // Entries named *.fifo are made as FIFOs first; they must be left as they are.
        row("capture to a FIFO", one + QStringList{"--capture", m_dir.filePath("capture.fifo")}, "listen", 6,
            noFile);
        row("POS file a FIFO", QStringList{m_dir.filePath("pos.fifo"), "--tcp", "127.0.0.73"}, "listen", 3,
            "pos-player: Unable to read Order file \"" + m_dir.filePath("pos.fifo").toLocal8Bit() + "\".\n");
        row("help", {"--help"}, "", 0, QByteArray());
    }
    void exitStatus() {
        QFETCH(QStringList, args);
        QFETCH(QString, peer);
        WritePos("One", "<41>\n");
        if (args.first().startsWith(QLatin1String("/proc/")) &&
            (!QFileInfo::exists(args.first()) || QFile(args.first()).open(QIODevice::ReadOnly)))
            QSKIP("no unreadable file at hand here");
        QStringList fifos;
        for (const QString& arg : args) {
            if (arg.endsWith(QLatin1String(".fifo")))
                fifos << arg;
        }
        for (const QString& fifo : fifos) {
            if (!QFileInfo(fifo).exists() && !MakeSpecialFile(fifo, "fifo"))
                QSKIP("no FIFOs here");
        }
        std::unique_ptr<CTestListener> listener;
        if (!peer.isEmpty())
            listener = std::make_unique<CTestListener>("127.0.0.73");
        // A run that fails other than by its judged replies says why in its report, as an error.
        QFETCH(int, status);
        const QString report = m_dir.filePath("status.xml");
        QFile::remove(report);
        const bool reported =
            status >= 3 && status <= 6 && !QByteArray(QTest::currentDataTag()).contains("too large");
        if (reported)
            args << "--expect"
                 << "<06>"
                 << "--junit" << report;
        QProcess player;
        // Room for the journals' short lines, not for the capture file's banners.
        if (QByteArray(QTest::currentDataTag()).contains("too large") && !LimitFileSize(player, 200))
            QSKIP("no limit on a file's size to set here");
        StartPlayer(player, args);
        if (peer == QLatin1String("drop")) {
            const PeerHandle fd = listener->Accept();
            QVERIFY(fd != PEER_NONE);
            QCOMPARE(ReadFor(fd, 1, 5000), QByteArray("A"));
            ResetAndClose(fd);
            QVERIFY(player.waitForFinished(20000));
        } else if (listener) {
            const PeerHandle fd = listener->Accept(500);
            std::thread drain([fd] { ReadFor(fd, 100, 3000); });
            QVERIFY(player.waitForFinished(20000));
            drain.join();
            if (fd != PEER_NONE)
                ClosePeer(fd);
        } else {
            QVERIFY(player.waitForFinished(20000));
        }
        QCOMPARE(player.exitStatus(), QProcess::NormalExit);
        QTEST(player.exitCode(), "status");
        QFETCH(QByteArray, message);
        const QByteArray err = TextOutput(player.readAllStandardError());
        QVERIFY2(err.startsWith(message), err.constData());
        if (message.isEmpty())
            QVERIFY(TextOutput(player.readAllStandardOutput()).contains("--passes N"));
        for (const QString& fifo : fifos)
            QVERIFY(IsSpecialFile(fifo));
        if (reported) {
            const QStringList errors = ReadReport(report).errors;
            QVERIFY2(errors.size() == 1 && ReadReport(report).bErrorCounted, qPrintable(errors.join(" | ")));
            const QMap<QString, QString> reasons{
                {"file missing", "POS not loaded: Error: Unable to find POS data"},
                {"file unreadable", "POS not loaded: Unable to read Order file"},
                {"POS file a FIFO", "POS not loaded: Unable to read Order file"},
                {"nothing listens", "could not connect to 127.0.0.73:48501"},
                {"no such port", "could not open COM14: Unable to Initiate Comms!"},
                {"OCS drops", "connection dropped after 1 data lines sent: Connection Error!"},
            };
            const QString reason = reasons.value(QTest::currentDataTag(), "capture file not written: ");
            QVERIFY2(errors[0].startsWith(reason), qPrintable(errors[0]));
        }
        // A capture file that could not be written leaves the capture for POS Emulator to offer.
        QCOMPARE(CCaptureJournal::FindAbandoned().size(), size_t(player.exitCode() == 6 ? 1 : 0));
        if (peer == QLatin1String("drop")) { // what was captured up to the drop is kept
            const QByteArray dropped = ReadAll(m_dir.filePath("dropped.txt"));
            const qsizetype sent = dropped.indexOf("NETWORK   A\r\n");
            QVERIFY2(sent > 0 && dropped.indexOf("COMMENT:  Connection Error!\r\n") > sent,
                     dropped.constData());
        }
    }

    // Ctrl+C finishes the pass under way, then the link closes. Only lines whose reply time ran out
    // are judged; the player waits for no other reply and says how many it left out. An interrupted
    // run's report says so as an error.
    void interrupt_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("waitMs"); // after A arrived
        QTest::addColumn<QByteArray>("rest");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("summary");
        QTest::addColumn<QStringList>("report"); // its test cases, then its errors
        const QByteArray eight = "<41>\n<42>\n<43>\n<44>\n<45>\n<46>\n<47>\n<48>\n";
        const QByteArray none = "; reply latency ms: none\n";
        QTest::newRow("until Ctrl+C") << eight << Args("--passes 0") << 0 << QByteArray("BCDEFGH") << 0
                                      << QByteArray() << QStringList();
        QTest::newRow("before the passes asked for")
            << eight << Args("--passes 3") << 0 << QByteArray("BCDEFGH") << 130 << QByteArray()
            << QStringList{"interrupted after 8 data lines sent"};
        // A's time runs out; B is due two seconds on.
        QTest::newRow("one line's time ran out")
            << "<41>\n<p>2\n" + eight.mid(5) << Args("--passes 0 --reply-timeout 300") << 800
            << QByteArray("BCDEFGH") << int(PLAYER_REPLIES_FAILED)
            << "judged 1 lines: 0 answered, 0 wrong, 1 missing, 7 not judged" + none
            << QStringList{"pass 1 line 1: A"};
        // Past the end of the last pass: only replies are awaited, and the passes were all played.
        QTest::newRow("awaiting replies after the passes")
            << eight.left(10) << Args("--reply-timeout 20000") << 1000 << QByteArray("B") << 0
            << "judged 0 lines: 0 answered, 0 wrong, 0 missing, 2 not judged" + none << QStringList();
    }
    void interrupt() {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, args);
        QFETCH(QByteArray, summary);
        QFETCH(QStringList, report);
        WritePos("Interrupted", script);
        CTestListener peer("127.0.0.74");
        QProcess player;
        const QString junit = m_dir.filePath("interrupted.xml");
        StartPlayer(player,
                    Args("Interrupted --tcp 127.0.0.74 --expect <06> --junit") + QStringList{junit} + args);
        const PeerHandle fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        QCOMPARE(ReadFor(fd, 1, 5000), QByteArray("A"));
        QFETCH(int, waitMs);
        QTest::qWait(waitMs);
        QVERIFY(player.state() == QProcess::Running);
        INTERRUPT(player);
        CPeerCollector rest(fd);
        QVERIFY(player.waitForFinished(10000));
        QTEST(player.exitCode(), "status");
        QVERIFY(rest.Closed());
        QTEST(rest.Join(), "rest");
        ClosePeer(fd);
        const QByteArray out = TextOutput(player.readAllStandardOutput());
        QVERIFY2(out.endsWith(summary), out.constData());
        if (player.exitCode() == PLAYER_REPLIES_FAILED) // said as it was judged
            QVERIFY(out.contains("failed: pass 1 line 1: A: no reply within 300 ms\n"));
        const SReport read = ReadReport(junit);
        QCOMPARE(read.cases + read.errors, report);
        QCOMPARE(read.bErrorCounted, player.exitCode() == 130);
    }

    // --detect finds an OCS that answers on COM3 at 19200 only, and says how to reach it.
    void detect() {
        SKIP_WITHOUT_PTY();
        CTestPty pty("COM3");
        CSerialPeer ocs(pty, [](int, int baud) { return QByteArray(baud == 19200 ? 1 : 0, 0x06); });
        QProcess player;
        StartPlayer(player, {"--detect"});
        QVERIFY(player.waitForFinished(30000));
        QCOMPARE(player.exitCode(), 0);
        QCOMPARE(TextOutput(player.readAllStandardOutput()),
                 QByteArray("OCS found on COM3: --serial COM3 --baud 19200 --parity Odd --data-bits 8 "
                            "--stop-bits 1 --flow None\n"));
        QVERIFY(TextOutput(player.readAllStandardError()).contains("Trying COM3 at 19200 baud\n"));
    }

    // --list-ports names each COM name's device and adapter and says whether it is there; an adapter
    // plugged in just now gets its name first.
    void listPorts() {
        SKIP_WITHOUT_PTY();
        QDir byId(qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID"));
        QVERIFY(byId.removeRecursively() && QDir().mkpath(byId.path()));
        QVERIFY(QFile::remove(PortsFolder() + "/COM3"));
        CTestPty adapter;
        QVERIFY(QFile::link(QString::fromLatin1(adapter.SlavePath()),
                            byId.filePath("usb-Prolific_PL2303_Serial_BX4F-if00-port0")));
        const SRun run = Play({"--list-ports"});
        QCOMPARE(run.nExit, 0);
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), PORT_LAST_NAME + 1); // and the last line's end
        QCOMPARE(lines[2], "COM3\t" + adapter.SlavePath() + "\tProlific PL2303 Serial BX4F\tpresent");
        QCOMPARE(lines[3], QByteArray("COM4\t/nonexistent/no-such-device\t\tnot connected"));
        MaskAllComPorts();
        QVERIFY(byId.removeRecursively());
    }

    // --reconnect with the adapter not plugged in at the start (named when it was last seen): the
    // player says why once and waits; plugged in, the order plays; unplugged in the middle of the
    // pass, it waits again and goes on with the next line once the adapter is back, every line
    // reaching the OCS once, the capture showing where the link was lost and found; Ctrl+C ends a wait.
    void reconnect_data() {
        QTest::addColumn<bool>("comesBack");
        QTest::newRow("comes back") << true;
        QTest::newRow("Ctrl+C while waiting") << false;
    }
    void reconnect() {
        SKIP_WITHOUT_PTY();
        QFETCH(bool, comesBack);
        WritePos("Unplugged", "<41>\n<42>\n<43>\n<44>\n<45>\n<46>\n");
        QDir byId(qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID"));
        QVERIFY(byId.removeRecursively() && QDir().mkpath(byId.path()));
        const QString adapter = byId.filePath("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0");
        CTestPty::Publish("COM3", QFile::encodeName(adapter));
        QProcess player;
        StartPlayer(player, Args("Unplugged --serial COM3 --reconnect"));
        QByteArray err;
        const auto said = [&](const char* what) {
            return (err += TextOutput(player.readAllStandardError())).contains(what);
        };
        QTRY_VERIFY_WITH_TIMEOUT(said("waiting"), 5000);
        QCOMPARE(err, "pos-player: COM3 (" + adapter.toUtf8() +
                          "): no such device (not plugged in?); waiting for it (Ctrl+C ends)\n");
        QTest::qWait(1200); // a few checks find nothing
        QByteArray received;
        const auto plugIn = [&](std::unique_ptr<CTestPty>& pty, char until) {
            pty = std::make_unique<CTestPty>();
            QVERIFY(QFile::link(QString::fromLatin1(pty->SlavePath()), adapter));
            QTRY_VERIFY_WITH_TIMEOUT((ReadWithin(pty->Master(), 50, received), received.contains(until)),
                                     10000);
        };
        std::unique_ptr<CTestPty> pty;
        plugIn(pty, 'B');
        QVERIFY(said("pos-player: COM3 is there; the order starts\n"));
        pty->CloseMaster(); // unplugged: the device fails, and udev takes its name away
        QVERIFY(QFile::remove(adapter));
        QTRY_VERIFY_WITH_TIMEOUT(said("COM3 went away"), 5000);
        QTest::qWait(1200);
        if (comesBack)
            plugIn(pty, 'F');
        else
            INTERRUPT(player);
        QVERIFY(player.waitForFinished(10000));
        QCOMPARE(player.exitCode(), comesBack ? 0 : 130);
        const QByteArray out = TextOutput(player.readAllStandardOutput());
        if (comesBack)
            QVERIFY2(received == "ABCDEF", out.constData());
        QVERIFY2(out.contains("COMMENT:  Connection Error!\n"), out.constData());
        QCOMPARE(out.contains("COMMENT:  COM3\n"), comesBack);
        said("");
        QVERIFY2(err.count("went away") == 1 && err.count("waiting") == 2, err.constData());
        MaskAllComPorts();
        QVERIFY(byId.removeRecursively());
    }

    // A journal cut short while the player runs: the capture file is not written with wrong lines;
    // the player ends with status 6 and names the journal.
    void journalCutShortFailsCapture() {
        WritePos("Cut", "<41>\n<p>1\n<42>\n");
        CTestListener peer("127.0.0.88");
        QProcess player;
        const QString capture = m_dir.filePath("cut.txt");
        StartPlayer(player, {"Cut", "--tcp", "127.0.0.88", "--capture", capture});
        const PeerHandle fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        CPeerCollector collector(fd);
        QString journal;
        QTRY_VERIFY((journal = TxJournalOf(player.processId())).size() > 0 && QFileInfo(journal).size() > 0);
        const bool cut = QFile::resize(journal, 0); // during the pause
        if (!cut) {
            player.kill();
            player.waitForFinished();
            ClosePeer(fd);
            SKIP_ON_WINDOWS("a journal is shared for reading only: no other program can change it");
        }
        QVERIFY(cut);
        QVERIFY(player.waitForFinished(10000));
        ClosePeer(fd);
        QCOMPARE(player.exitCode(), 6);
        const QByteArray err = TextOutput(player.readAllStandardError());
        QVERIFY2(err.contains("Unable to write the capture") && err.contains("tx.journal"), err.constData());
        QVERIFY(!QFileInfo::exists(capture));
    }

    // Two players at once: neither's journals are taken for abandoned while both run. The one that
    // ends normally writes its capture whole and leaves nothing in the captures folder (on Windows a
    // journal still open elsewhere, as by the disk syncer, could not be removed); the one killed in the
    // middle of an order leaves its capture, which the next start offers back, holding every line the
    // player had shown, as the peer saw them.
    void twoPlayersOneKilled() {
        WritePos("First", "<41>\n<42>\n<43>\n<44>\n");
        QByteArray script;
        for (int k = 1; k <= 20; ++k)
            script += "<02>L" + QByteArray::number(k) + "<03>\n";
        WritePos("Killed", script);
        CTestListener first("127.0.0.85"), second("127.0.0.84");
        QProcess a, killed;
        StartPlayer(a, {"First", "--tcp", "127.0.0.85", "--capture", m_dir.filePath("first.txt")});
        StartPlayer(killed, {"Killed", "--tcp", "127.0.0.84", "--passes", "0"});
        const PeerHandle fa = first.Accept(), fd = second.Accept();
        QVERIFY(fa != PEER_NONE && fd != PEER_NONE);
        CPeerCollector ca(fa);
        QTRY_COMPARE(QDir(CaptureJournalsFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
        QVERIFY(CCaptureJournal::FindAbandoned().empty()); // both still run
        QByteArray received;
        QList<QByteArray> replies;
        for (int k = 1; k <= 4; ++k) {
            const QByteArray frame = "\x02L" + QByteArray::number(k) + "\x03";
            while (!received.contains(frame) && ReadWithin(fd, 5000, received) > 0) {
            }
            replies << "\x06R" + QByteArray::number(k) + QByteArray("\0", 1);
            WriteBytes(fd, replies.last());
        }
        QVERIFY(a.waitForFinished(10000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(ca.Join(), QByteArray("ABCD"));
        ClosePeer(fa);
        const QByteArray capture = ReadAll(m_dir.filePath("first.txt"));
        QCOMPARE(capture.count("NETWORK   "), 4);
        for (const char* c = "ABCD"; *c; ++c)
            QVERIFY(capture.contains(QByteArray("NETWORK   ") + *c + "\r\n"));
        QCOMPARE(QDir(CaptureJournalsFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);

        QByteArray out;
        QTRY_VERIFY((out += TextOutput(killed.readAllStandardOutput())).contains("<06>R4<00>")); // shown
        killed.kill();
        QVERIFY(killed.waitForFinished(5000));
        ReadWithin(fd, 100, received);
        ClosePeer(fd);
        QList<SMessageBox> boxes;
        const MessageBoxHandler previous = SetMessageBoxHandler([&boxes](const SMessageBox& box) {
            boxes << box;
            return CMessageBox::Yes;
        });
        const QString saved = m_dir.filePath("recovered.txt");
        SetSaveFileHandler([&saved](const SSaveFileRequest& request) {
            return request.strProposedName.startsWith(QLatin1String("DataCapture-")) ? saved : QString();
        });
        OfferAbandonedCaptures();
        SetSaveFileHandler(nullptr);
        SetMessageBoxHandler(previous);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].strText, QStringLiteral("POS Emulator did not close normally last time. Save the "
                                                  "capture it was holding?"));
        const QByteArray recovered = ReadAll(saved);
        for (int k = 1; received.contains("\x02L" + QByteArray::number(k) + "\x03"); ++k)
            QVERIFY2(recovered.contains("NETWORK   <02>L" + QByteArray::number(k) + "<03>\r\n"),
                     recovered.constData());
        for (QByteArray reply : replies) {
            EscapeControlBytes(reply);
            QVERIFY2(recovered.contains("NETWORK:  " + reply + "\r\n"), recovered.constData());
        }
        QCOMPARE( // offered once, then gone
            QDir(CaptureJournalsFolder()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
            QStringList());
    }

    // Learning a POS from the wire: a script played to ocs-sim --record, and the recording played again,
    // put the same bytes on the wire in the same order, with the pause within half a second. The
    // simulator accepts every frame's checksum, and its ACKs come back and are judged.
    void recordAndReplay_data() {
        QTest::addColumn<QStringList>("simLink");
        QTest::addColumn<QStringList>("link");
        QTest::addColumn<QStringList>("flags"); // the checksum of both plays
        QTest::addColumn<QByteArray>("statement");
        // Two jobs on one host: each simulator on a port of its own, the default port taken by another.
        QTest::newRow("TCP, checksum, port of its own")
            << Args("--listen 127.0.0.81 --port 48777") << Args("--tcp 127.0.0.81:48777")
            << Args("--checksum") << QByteArray("ETX excluded");
        QTest::newRow("TCP, none") << Args("--listen 127.0.0.80") << Args("--tcp 127.0.0.80")
                                   << Args("--no-checksum") << QByteArray("checksum off");
        QTest::newRow("serial, checksum with ETX")
            << Args("--listen 127.0.0.76 --serial COM8") << Args("--serial COM8")
            << Args("--checksum --include-etx") << QByteArray("ETX included");
        QTest::newRow("serial, none") << Args("--listen 127.0.0.76 --serial COM8") << Args("--serial COM8")
                                      << Args("--no-checksum") << QByteArray("checksum off");
    }
    void recordAndReplay() {
        QFETCH(QStringList, simLink);
        QFETCH(QStringList, link);
        const bool serial = link.first() == QLatin1String("--serial");
        if (serial)
            SKIP_WITHOUT_PTY();
        QFETCH(QStringList, flags);
        const QByteArray script = "<02>O1<1C>LANE<03>\n<02>A<3C>B<00>C<03>\n<p>1\n<05>\n<02>T<1C>5.49<03>\n";
        WritePos("Learned", script);
        QByteArray expected;
        for (const QByteArray& line : PrepareScript(script)) {
            if (PlanLine(line).kind == LINE_DATA)
                expected +=
                    EncodeLineBytes(line, flags.contains("--checksum"), flags.contains("--include-etx"));
        }
        const QString recording = m_dir.filePath("learned.vlq");
        QFile::remove(recording);
        QProcess sim;
        sim.start(BuiltProgram(OCS_SIM_PATH),
                  simLink + QStringList{"--record", recording, "--reply", "<06>"});
        QVERIFY(sim.waitForStarted());
        QByteArray simOut;
        const QByteArray ready = serial ? "serial" : "listening";
        QTRY_VERIFY_WITH_TIMEOUT((simOut += TextOutput(sim.readAllStandardOutput())).contains(ready) ||
                                     sim.state() == QProcess::NotRunning,
                                 15000);
        QVERIFY2(simOut.contains(ready), (simOut + sim.readAllStandardError()).constData());
        CTestListener other("127.0.0.81"); // another job's simulator on the default port: never reached
        const SRun run = Play(QStringList{"Learned", "--expect", "<06>"} + link + flags);
        QCOMPARE(other.Accept(0), PEER_NONE);
        QCOMPARE(run.nExit, 0); // every line answered
        QVERIFY2(run.out.contains("judged 4 lines: 4 answered, 0 wrong, 0 missing; reply latency ms: min "),
                 run.out.constData());
        QCOMPARE(run.out.count(serial ? "SERIAL:   <06>\n" : "NETWORK:  <06>\n"), 4);
        QCOMPARE(run.left, QStringList()); // a normal end takes its journals along
        StopProgram(sim);
        QVERIFY(sim.waitForFinished());
        simOut += TextOutput(sim.readAllStandardOutput());
        QFETCH(QByteArray, statement);
        QVERIFY2(simOut.contains("recorded 4 frames to " + recording.toUtf8()) ||
                     simOut.contains("recorded 4 frames to " + QDir::toNativeSeparators(recording).toUtf8()),
                 simOut.constData());
        QVERIFY(simOut.contains(statement));
        QVERIFY(!simOut.contains("warning"));
        const QByteArray learned = ReadAll(recording);
        QVERIFY2(learned.startsWith("Recorded by ocs-sim on "), learned.constData());
        QVERIFY2(learned.contains("\n<p>1\n<05>\n"), learned.constData());

        // Played again, to a peer that notes when each byte came.
        std::vector<std::pair<qint64, QByteArray>> chunks;
        QElapsedTimer clock;
        clock.start();
        const auto collect = [&](PeerHandle fd, QProcess& player) {
            int quiet = 0; // until the player has ended and the line stayed quiet a moment
            while (quiet < 6 && clock.elapsed() < 20000) {
                QByteArray got;
                if (ReadWithin(fd, 50, got) > 0) {
                    chunks.emplace_back(clock.elapsed(), got);
                    quiet = 0;
                } else if (player.waitForFinished(0) || player.state() == QProcess::NotRunning) {
                    ++quiet;
                }
            }
        };
        QProcess player;
        if (serial) {
            CTestPty pty("COM11");
            StartPlayer(player, QStringList{recording, "--serial", "COM11"} + flags);
            collect(pty.Master(), player);
        } else {
            CTestListener peer("127.0.0.82");
            StartPlayer(player, QStringList{recording, "--tcp", "127.0.0.82"} + flags);
            const PeerHandle fd = peer.Accept();
            QVERIFY(fd != PEER_NONE);
            collect(fd, player);
            ClosePeer(fd);
        }
        QCOMPARE(player.exitCode(), 0);
        QByteArray wire;
        QList<qint64> arrival; // of each byte
        for (const auto& [at, bytes] : chunks) {
            wire += bytes;
            arrival += QList<qint64>(bytes.size(), at);
        }
        QCOMPARE(wire, expected);
        const qsizetype enq = wire.indexOf('\x05');
        const qint64 pause = arrival[enq] - arrival[enq - 1];
        QVERIFY2(pause >= 1000 && pause <= 2000, qPrintable(QString::number(pause))); // 1.5 s in the script
    }

    // The reply judge alone: exchanges on a clock of the test's own.
    void judge_data() {
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QList<SStep>>("steps");
        QTest::addColumn<QStringList>("outcome");
        QTest::addColumn<int>("waiting");
        // Lines are sent 500 ms apart and may wait 300 ms.
        QTest::newRow("all answered")
            << QByteArray("\x06")
            << QList<SStep>{{0, "send"}, {12, "recv <06>"}, {500, "send"}, {503, "recv <06>"}, {1000, "tick"}}
            << QStringList{"1 answered 12", "2 answered 3"} << 0;
        QTest::newRow("NAK, nothing, late")
            << QByteArray("\x06")
            << QList<SStep>{{0, "send"},         {5, "recv <15>"}, {500, "send"},       {1000, "send"},
                            {1400, "recv <06>"}, {1500, "send"},   {1510, "recv <06>"}, {2000, "tick"}}
            << QStringList{"1 wrong <15>", "2 missing", "3 missing", "4 answered 10"} << 0;
        QTest::newRow("reply in pieces, noise before it") << QByteArray("\x06\x02OK\x03")
                                                          << QList<SStep>{{0, "send"},
                                                                          {4, "recv <05><06><02>"},
                                                                          {20, "recv O"},
                                                                          {42, "recv K<03>"},
                                                                          {400, "tick"}}
                                                          << QStringList{"1 answered 42"} << 0;
        QTest::newRow("start of a reply that never ends")
            << QByteArray("\x06\x02OK\x03") << QList<SStep>{{0, "send"}, {4, "recv <06><02>O"}, {400, "tick"}}
            << QStringList{"1 wrong <06><02>O"} << 0;
        QTest::newRow("two replies in one chunk go in order")
            << QByteArray("\x06") << QList<SStep>{{0, "send"}, {10, "send"}, {50, "recv <06><06>"}}
            << QStringList{"1 answered 50", "2 answered 40"} << 0;
        QTest::newRow("stray reply with no line waiting")
            << QByteArray("\x06") << QList<SStep>{{0, "recv <06>"}, {10, "send"}, {20, "tick"}}
            << QStringList{} << 1;
        QTest::newRow("a reply right at the deadline counts")
            << QByteArray("\x06") << QList<SStep>{{0, "send"}, {300, "recv <06>"}}
            << QStringList{"1 answered 300"} << 0;
    }
    void judge() {
        QFETCH(QByteArray, expected);
        QFETCH(QList<SStep>, steps);
        QList<int> reported;
        CReplyJudge judge(expected, 300 * MS, [&](const SJudgedLine& line) { reported << line.nLine; });
        int sent = 0;
        for (const SStep& step : steps) {
            if (step.what == "send")
                judge.LineSent(1, ++sent, "<02>L<03>", step.nAtMs * MS);
            else if (step.what.startsWith("recv "))
                judge.BytesReceived(ParseCaptureNotation(step.what.mid(5)), step.nAtMs * MS);
            else
                judge.Expire(step.nAtMs * MS);
        }
        QTEST(Outcome(judge), "outcome");
        QTEST(judge.WaitingCount(), "waiting");
        QCOMPARE(reported.size(), int(judge.Judged().size())); // each told once, as judged
    }

    void summary_data() {
        QTest::addColumn<QList<int>>("latenciesMs"); // -1: missing
        QTest::addColumn<int>("notJudged");
        QTest::addColumn<QByteArray>("summary");
        QTest::newRow("none answered") << QList<int>{-1, -1} << 0
                                       << QByteArray("judged 2 lines: 0 answered, 0 wrong, 2 missing; reply "
                                                     "latency ms: none");
        QTest::newRow("odd count") << QList<int>{5, 1, 9} << 2
                                   << QByteArray(
                                          "judged 3 lines: 3 answered, 0 wrong, 0 missing, 2 not judged; "
                                          "reply latency ms: min 1.0, median 5.0, p99 9.0, max 9.0");
        QTest::newRow("even count") << QList<int>{4, 2, -1, 8, 6} << 0
                                    << QByteArray("judged 5 lines: 4 answered, 0 wrong, 1 missing; reply "
                                                  "latency ms: min 2.0, median 5.0, p99 8.0, max 8.0");
    }
    void summary() {
        QFETCH(QList<int>, latenciesMs);
        QFETCH(int, notJudged);
        CReplyJudge judge("\x06", 100 * MS);
        qint64 now = 0;
        for (int latency : latenciesMs) {
            judge.LineSent(1, 1, "x", now);
            if (latency >= 0)
                judge.BytesReceived("\x06", now + latency * MS);
            now += 1000 * MS;
            judge.Expire(now);
        }
        QTEST(judge.Summary(notJudged), "summary");
    }

    // A soak run: passes until the time is up, then the pass under way is finished; a summary line at
    // each interval; capture times to the millisecond, on screen and in the file.
    void soakRun() {
        WritePos("Soak", "<02>S1<03>\n<02>S2<03>\n");
        QProcess sim;
        QVERIFY(StartSim(sim, Args("--listen 127.0.0.85 --reply <06>")));
        const QString capture = m_dir.filePath("soak.txt");
        const SRun run =
            Play(Args("Soak --tcp 127.0.0.85 --expect <06> --duration 1200ms --summary-every 400ms "
                      "--timestamps ms --capture")
                 << capture);
        StopProgram(sim);
        QVERIFY(sim.waitForFinished());
        QCOMPARE(run.nExit, 0);
        // Time up during the second pass, which is played to its end.
        QVERIFY2(run.out.contains("judged 4 lines: 4 answered, 0 wrong, 0 missing;"), run.out.constData());
        QVERIFY(run.out.count("summary: judged ") >= 2);
        static const QRegularExpression stamped(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d    NETWORK   <02>S2<03>$"),
            QRegularExpression::MultilineOption);
        QCOMPARE(QString::fromLatin1(run.out).count(stamped), 2);
        QCOMPARE(QString::fromLatin1(ReadAll(capture)).replace("\r\n", "\n").count(stamped), 2);
    }

    // A lab of eight lanes against one simulator on a port range, and a ninth whose OCS is not there:
    // each lane's OCS gets the bytes one player sends, its own checksum included; the lane whose port
    // replies otherwise fails in its own suite, the lost lane is an error in its own, the others pass,
    // and the run ends with the worst status. One capture file and one recording a lane.
    void laneLab() {
        const QByteArray script = "<02>L1<1C>A<03>\n<02>L2<03>\n<02>L3<03>\n";
        WritePos("Lab", script);
        const QString rec = m_dir.filePath("rec"), caps = m_dir.filePath("caps"),
                      junit = m_dir.filePath("lab.xml");
        QDir(rec).removeRecursively();
        QVERIFY(QDir().mkpath(rec));
        QProcess sim;
        const QString replies = m_dir.filePath("replies.txt");
        QVERIFY(WriteFile(replies, "# lane 3's OCS refuses every frame\n48623 <15>\n"));
        QVERIFY(StartSim(sim,
                         Args("--listen 127.0.0.82 --port 48621-48628 --reply <06> --reply-file")
                             << replies << "--record" << rec + "/lab.vlq",
                         8));
        const QString lanes = WriteLanes("127.0.0.82", 48621, 8, "[Lost]\ntcp = 127.0.0.82:48699\n");
        const SRun run = Play(
            Args("Lab --expect <06> --lanes") << lanes << "--capture" << caps << "--junit" << junit, 60000);
        StopProgram(sim);
        QVERIFY(sim.waitForFinished());
        const QByteArray simOut = TextOutput(sim.readAllStandardOutput());
        QCOMPARE(run.nExit, int(PLAYER_NO_LINK));
        QVERIFY2(run.out.contains(
                     "Lost: judged 0 lines: 0 answered, 0 wrong, 0 missing; reply latency ms: none; status "
                     "4 (could not connect to 127.0.0.82:48699)\n"),
                 run.out.constData());
        QCOMPARE(run.left, QStringList());
        QStringList suites;
        for (int lane = 1; lane <= 8; ++lane) {
            QByteArrayList expected;
            for (const QByteArray& line : PrepareScript(script)) {
                QByteArray bytes = EncodeLineBytes(line, lane % 3 == 2, false);
                EscapeControlBytes(bytes);
                expected << bytes;
            }
            QCOMPARE(FramesOn(simOut, 48620 + lane), expected);
            const QByteArray name = "Lane " + QByteArray::number(lane);
            const bool refused = lane == 3;
            QVERIFY2(run.out.contains(name + (refused ? ": judged 3 lines: 0 answered, "
                                                      : ": judged 3 lines: 3 answered, 0 wrong, 0 missing;")),
                     run.out.constData());
            QVERIFY(QFileInfo(rec + "/lab-" + QString::number(48620 + lane) + ".vlq").isFile());
            const QByteArray capture = ReadAll(caps + "/" + name + ".txt");
            QCOMPARE(capture.count("NETWORK   <02>L"), 3);
            QCOMPARE(capture.count(refused ? "NETWORK:  <15>" : "NETWORK:  <06>"), 3);
            suites << name + (refused ? " 3 3 0" : " 3 0 0");
        }
        QVERIFY(!QFileInfo::exists(caps + "/Lost.txt")); // never linked: nothing to capture
        const SReport report = ReadReport(junit);
        QVERIFY(report.bWellFormed);
        QCOMPARE(report.suites, suites << "Lost 1 0 1");
        QCOMPARE(report.errors, QStringList{"could not connect to 127.0.0.82:48699"});
    }

    // A lanes file that cannot be played as written is refused before anything is sent, naming its
    // line.
    void badLanesFile_data() {
        QTest::addColumn<QByteArray>("lanes");
        QTest::addColumn<QString>("error"); // after "lanes.ini:"
        const QByteArray good = "[Good]\npos = Lab\ntcp = 127.0.0.83\n";
        QTest::newRow("unknown key") << good + "[A]\npos = Lab\nspeed = 9600\n"
                                     << "6: lane \"A\": unknown key speed";
        QTest::newRow("no POS") << good + "[A]\ntcp = 127.0.0.83\n"
                                << "4: lane \"A\": no pos given, here or on the command line";
        QTest::newRow("one serial port, two lanes")
            << good + "[A]\npos = Lab\nserial = COM5\n[B]\nserial = com5\npos = Lab\n"
            << "8: lane \"B\": COM5 is lane \"A\"'s already";
        QTest::newRow("key before a lane") << "pos = Lab\n" + good << "1: pos before the first [lane name]";
        QTest::newRow("lane twice") << good + "\n[good]\n"
                                    << "5: lane \"good\" is given on line 1 already";
        QTest::newRow("wrong value") << good + "[A]\npos = Lab\ntcp = 127.0.0.83\nbaud = 12345\n"
                                     << "7: lane \"A\": --baud takes one of: ";
        QTest::newRow("name no file may have") << good + "[A/B]\n"
                                               << "4: lane \"A/B\": a lane's name names";
        QTest::newRow("a device's name") << good + "[com3.lane]\n"
                                         << "4: lane \"com3.lane\": a lane's name names";
    }
    void badLanesFile() {
        QFETCH(QByteArray, lanes);
        WritePos("Lab", "<02>L1<03>\n");
        const QString path = m_dir.filePath("lanes.ini");
        QVERIFY(WriteFile(path, lanes));
        CTestListener peer("127.0.0.83");
        const SRun run = Play(QStringList{"--lanes", path});
        QCOMPARE(peer.Accept(0), PEER_NONE);
        QCOMPARE(run.nExit, int(PLAYER_USAGE));
        QFETCH(QString, error);
        const QByteArray said =
            "pos-player: " + QDir::toNativeSeparators(path).toUtf8() + ":" + error.toUtf8();
        QVERIFY2(run.err.startsWith(said), run.err.constData());
    }

    // Ctrl+C with eight lanes playing finishes every lane's pass, and every lane's capture is written.
    void lanesInterrupted() {
        WritePos("Lab", "<02>L1<03>\n<02>L2<03>\n<02>L3<03>\n<02>L4<03>\n<02>L5<03>\n<02>L6<03>\n");
        QProcess sim;
        QVERIFY(StartSim(sim, Args("--listen 127.0.0.84 --port 48631-48638"), 8));
        const QString caps = m_dir.filePath("stopped");
        QDir(caps).removeRecursively();
        QProcess player;
        StartPlayer(player, Args("Lab --passes 0 --lanes")
                                << WriteLanes("127.0.0.84", 48631, 8) << "--capture" << caps);
        QByteArray out;
        const auto allPlaying = [&] {
            out += TextOutput(player.readAllStandardOutput());
            for (int lane = 1; lane <= 8; ++lane) {
                if (!out.contains("[Lane " + QByteArray::number(lane) + "] "))
                    return false;
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(allPlaying(), 15000);
        INTERRUPT(player);
        QVERIFY(player.waitForFinished(15000));
        StopProgram(sim);
        QVERIFY(sim.waitForFinished());
        QCOMPARE(player.exitCode(), 0); // until Ctrl+C was asked for
        for (int lane = 1; lane <= 8; ++lane) {
            const QByteArray capture = ReadAll(caps + "/Lane " + QString::number(lane) + ".txt");
            QVERIFY2(capture.contains("NETWORK   <02>L6<03>"), capture.constData()); // the pass finished
        }
    }

    // The report is well-formed XML that a JUnit reader takes: counts, names, times, failures.
    void junitReport() {
        CReplyJudge judge("\x06", 300 * MS);
        judge.LineSent(1, 2, "<02>" + QByteArray(80, 'x') + "<03>", 0);
        judge.BytesReceived("\x06", 25 * MS);
        judge.LineSent(1, 3, "<02>A&B \"<c>\"<03>", 500 * MS);
        judge.BytesReceived("\x15", 510 * MS);
        judge.LineSent(2, 2, "<02>Z<03>", 1000 * MS);
        judge.Expire(2000 * MS);
        const SReport report = ReadReport(JUnitReport(judge, "PC-POS <3>", 2.5));
        QVERIFY(report.bWellFormed);
        QCOMPARE(report.suite, QStringLiteral("pos-player 3 2 2.5"));
        QCOMPARE(report.classes, QStringList(3, "PC-POS <3>"));
        QCOMPARE(report.cases,
                 (QStringList{"pass 1 line 2: <02>" + QString(56, 'x'), "pass 1 line 3: <02>A&B \"<c>\"<03>",
                              "pass 2 line 2: <02>Z<03>"}));
        QCOMPARE(report.times.value(0), QStringLiteral("0.025000"));
        QCOMPARE(report.failures,
                 (QStringList{"wrong: wrong reply within 300 ms: <15>", "missing: no reply within 300 ms"}));
    }
};

POSEMU_TEST_MAIN(TestPosPlayer)
#include "test_pos_player.moc"
