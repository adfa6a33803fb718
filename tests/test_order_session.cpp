// The order engine without a window: bytes on the wire, lines told, replies, link failures.
#include "capture/capture_log.h"
#include "script/order_session.h"
#include "test_peer.h"
#include "test_support.h"

#include <QTemporaryDir>
#include <thread>

namespace {

// What a session told, as the capture would show it (without times).
struct SHeard {
    QStringList tx;
    QStringList rx;
    QByteArray rxBytes;
    int nConnected = 0;
    int nFailed = 0;
    int nLost = 0;
    int nFinished = 0;
    int nReconnected = 0;

    explicit SHeard(COrderSession& session) {
        QObject::connect(&session, &COrderSession::LineSent, [this](const SSentLine& line) {
            tx << QString::fromLatin1(FormatTxLine(line.text, line.nKind).mid(12));
        });
        QObject::connect(&session, &COrderSession::ReplyReceived,
                         [this](const QByteArray& text, bool serial) {
                             rx << QString::fromLatin1(FormatRxLine(text, serial).mid(12));
                             rxBytes += text;
                         });
        QObject::connect(&session, &COrderSession::Connected, [this] { ++nConnected; });
        QObject::connect(&session, &COrderSession::ConnectFailed, [this] { ++nFailed; });
        QObject::connect(&session, &COrderSession::LinkLost, [this] { ++nLost; });
        QObject::connect(&session, &COrderSession::Finished, [this] { ++nFinished; });
        QObject::connect(&session, &COrderSession::Reconnected, [this] { ++nReconnected; });
    }
};

CAppSettings Network(const char* address, int checksum = 0) {
    CAppSettings s;
    s.m_bUseNetwork = 1;
    s.m_strIpAddress = QString::fromLatin1(address);
    s.m_bCalcChecksum = checksum;
    return s;
}

CAppSettings Serial(const char* port, int checksum = 0, int includeEtx = 0) {
    CAppSettings s;
    s.m_bUseSerial = 1;
    s.m_strPort = QString::fromLatin1(port);
    s.m_strBaud = QStringLiteral("19200");
    s.m_strParity = QStringLiteral("None");
    s.m_strDataBits = QStringLiteral("8");
    s.m_strStopBits = QStringLiteral("2");
    s.m_strFlowControl = QStringLiteral("None");
    s.m_bCalcChecksum = checksum;
    s.m_bIncludeEtx = includeEtx;
    return s;
}

} // namespace

class TestOrderSession : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // Loads a script into the session from a file of that content.
    bool Load(COrderSession& session, const QByteArray& content) {
        const QString path = m_dir.filePath(QStringLiteral("script%1.vlq").arg(++m_nScripts));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return false;
        file.close();
        return session.Script().LoadOrderFile(path);
    }
    int m_nScripts = 0;

    // Opens a TCP order to a listening peer; the peer's end once the session runs, or PEER_NONE.
    PeerHandle Start(COrderSession& session, CTestListener& peer, const char* address, int checksum = 0) {
        if (!session.Open(Network(address, checksum)))
            return PEER_NONE;
        const PeerHandle fd = peer.Accept();
        if (fd == PEER_NONE || !QTest::qWaitFor([&] { return session.IsRunning(); }, TestTimeout(5000)))
            return PEER_NONE;
        return fd;
    }

private slots:
    void initTestCase() {
        InstallNoiseFilter();
        IgnoreBrokenPipes();
        MaskAllComPorts();
    }

    // The bytes of each kind of line, the lines told, a reply with NULs, and Stop finishing the pass at
    // 10 ms a line; the next order starts at line 1 again.
    void tcpOrder() {
        COrderSession session;
        SHeard heard(session);
        QVERIFY(
            Load(session, "Remark\r\n<c>start\r\n<02>AB<03>\r\n<p>0\r\n<02>A;B<03>x<03>\r\n<02>Z<03>\r\n"));
        CTestListener peer("127.0.0.21");
        const PeerHandle fd = Start(session, peer, "127.0.0.21", 1);
        QVERIFY(fd != PEER_NONE);
        CPeerReader reader(fd);
        const QByteArray first("\x02"
                               "AB\x03\x03");
        const QByteArray second("\x02"
                                "A\0B\x03\x03x\x03\x7b",
                                9);
        QTRY_COMPARE_WITH_TIMEOUT(reader.Data(), first + second, TestTimeout(5000));
        WriteBytes(fd, QByteArray("\x06OK\x00hidden", 10));
        QTRY_COMPARE(heard.rx, QStringList{"NETWORK:  <06>OK<00>hidden"}); // NULs hide nothing
        QVERIFY(session.Stop());
        QTRY_COMPARE(heard.nFinished, 1);
        QVERIFY(session.IsOpen()); // the owner closes
        session.Close();
        QCOMPARE(reader.Data(), first + second + QByteArray("\x02Z\x03Z"));
        QCOMPARE(heard.tx, (QStringList{"COMMENT:  start", "NETWORK   <02>AB<03>", "PAUSE:    0 second(s)",
                                        "NETWORK   <02>A<00>B<03>x<03>", "NETWORK   <02>Z<03>"}));
        QCOMPARE(ReadFor(fd, 1, 2000), QByteArray()); // the connection is closed
        ClosePeer(fd);

        // The next order starts at line 1, also when the script it loads is longer than the last one.
        QVERIFY(Load(session, "<02>HEAD<03>\n<44>\n<45>\n<46>\n<47>\n<48>\n<49>\n<4A>\n"));
        const PeerHandle fd2 = Start(session, peer, "127.0.0.21");
        QVERIFY(fd2 != PEER_NONE);
        CPeerReader again(fd2);
        QTRY_VERIFY(again.Data().size() >= 6);
        QVERIFY2(again.Data().startsWith("\x02HEAD\x03"), again.Data().constData());
        session.Close();
        ClosePeer(fd2);
    }

    // An OCS that speaks first: its greeting is the first reply, for every order.
    void greetingOnConnect() {
        COrderSession session;
        SHeard heard(session);
        QVERIFY(Load(session, "<41>\n"));
        CTestListener peer("127.0.0.37");
        for (int order = 0; order < 2; ++order) {
            PeerHandle fd = PEER_NONE;
            std::thread greeter([&peer, &fd] {
                fd = peer.Accept();
                if (fd != PEER_NONE)
                    WriteBytes(fd, "\x05HELLO");
            });
            heard.rx.clear();
            QVERIFY(session.Open(Network("127.0.0.37")));
            greeter.join(); // this thread waits while the greeting comes in
            QVERIFY(fd != PEER_NONE);
            QTRY_COMPARE(heard.rx.value(0), QStringLiteral("NETWORK:  <05>HELLO"));
            session.Close();
            ClosePeer(fd);
        }
    }

    // Nothing listens, or a name is given (never looked up): ConnectFailed once, nothing left open.
    void connectFailure_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("nothing listens") << "127.0.0.22";
        QTest::newRow("host name") << "localhost";
    }
    void connectFailure() {
        QFETCH(QString, address);
        COrderSession session;
        SHeard heard(session);
        QVERIFY(Load(session, "<41>\n"));
        session.SetStepMode(true);
        if (session.Open(Network(qPrintable(address))))
            QTRY_COMPARE(heard.nFailed, 1);
        QVERIFY(!session.IsConnecting() && !session.IsRunning() && !session.IsOpen() &&
                !session.IsStepMode());
        QCOMPARE(heard.nConnected, 0);
    }

    // Every address given is tried in turn: the first that takes the connection plays.
    void triesEachAddress() {
        COrderSession session;
        SHeard heard(session);
        QVERIFY(Load(session, "<41>\n"));
        CTestListener peer("127.0.0.42");
        session.SetTcpTargets({"127.0.0.41", "127.0.0.42"}, OCS_TCP_PORT);
        QVERIFY(session.Open(Network("127.0.0.9")));
        QTRY_COMPARE(heard.nConnected, 1); // the first refused, the next one taken
        const PeerHandle fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        CPeerReader reader(fd);
        QTRY_COMPARE(reader.Data(), QByteArray("A"));
        QCOMPARE(heard.nFailed, 0);
        session.Close();
        ClosePeer(fd);
    }

    // Step mode: a step while the connect hangs is logged, not sent; steps after it go out one by one,
    // wrapping; Stop while connecting ends the attempt, Stop while stepping finishes the pass.
    void steps() {
        COrderSession session;
        SHeard heard(session);
        QVERIFY(Load(session, "<41>\n<p>9\n<42>\n"));
        CTestListener peer("127.0.0.23", 0);
        COcsClient occupier; // fills the backlog, so that the connect stays under way
        QCOMPARE(occupier.Connect("127.0.0.23", OCS_TCP_PORT), 0);
        QTRY_VERIFY(occupier.IsConnected());
        session.SetStepMode(true);
        QVERIFY(session.Open(Network("127.0.0.23")));
        QVERIFY(session.IsConnecting());
        QVERIFY(session.Step());
        QCOMPARE(heard.tx, QStringList{"A"});
        QVERIFY(!session.Stop());
        QVERIFY(!session.IsConnecting() && !session.IsStepMode());
        QTest::qWait(200);
        QCOMPARE(heard.nConnected, 0);
        QCOMPARE(heard.nFailed, 0);
        const PeerHandle occupied = peer.Accept();
        ClosePeer(occupied);
        occupier.Close();

        CTestListener listening("127.0.0.24");
        heard.tx.clear();
        session.SetStepMode(true);
        const PeerHandle fd = Start(session, listening, "127.0.0.24");
        QVERIFY(fd != PEER_NONE);
        CPeerReader reader(fd);
        for (int i = 0; i < 4; ++i)
            QVERIFY(session.Step());
        QCOMPARE(heard.tx, (QStringList{"PAUSE:    9 second(s)", "NETWORK   B", "NETWORK   A",
                                        "PAUSE:    9 second(s)"}));
        QTRY_COMPARE(reader.Data(), QByteArray("BA"));
        QTest::qWait(600); // the order timer plays nothing while stepping
        QCOMPARE(reader.Data(), QByteArray("BA"));
        QVERIFY(session.Stop()); // finishes the pass: B
        QTRY_COMPARE(heard.nFinished, 1);
        QCOMPARE(reader.Data(), QByteArray("BAB"));
        session.Close();
        ClosePeer(fd);

        COrderSession empty;
        QVERIFY(Load(empty, "only a remark\n"));
        QVERIFY(!empty.Step());
    }

    // The OCS closes, or takes the connection but never reads: LinkLost once, the session closed, the
    // line whose bytes did not leave not told as sent.
    void linkLost_data() {
        QTest::addColumn<bool>("neverReads");
        QTest::newRow("OCS closes") << false;
        QTest::newRow("OCS never reads") << true;
    }
    void linkLost() {
        QFETCH(bool, neverReads);
        if (neverReads)
            SKIP_ON_WINDOWS("Wine's sockets take the megabytes a byte a call far too slowly");
        COrderSession session;
        SHeard heard(session);
        // A line far bigger than every buffer on the way.
        QVERIFY(Load(session, neverReads ? "<41>" + QByteArray(1 << 20, 'x') + "\n" : QByteArray("<41>\n")));
        CTestListener peer("127.0.0.25", 8, OCS_TCP_PORT, neverReads ? 4096 : 0);
        const PeerHandle fd = Start(session, peer, "127.0.0.25");
        QVERIFY(fd != PEER_NONE);
        if (!neverReads) {
            CPeerReader reader(fd);
            QTRY_COMPARE(reader.Data(), QByteArray("A"));
            ResetAndClose(fd);
        }
        QTRY_COMPARE_WITH_TIMEOUT(heard.nLost, 1, TestTimeout(30000));
        QVERIFY(!session.IsOpen() && !session.IsRunning());
        // Only lines whose every byte left are told.
        QCOMPARE(heard.tx.size(), session.DataLinesSent());
        if (!neverReads)
            QCOMPARE(heard.tx, QStringList{"NETWORK   A"});
        QTest::qWait(100);
        QCOMPARE(heard.nLost, 1);
        if (neverReads)
            ClosePeer(fd);
    }

    // Passes: the script is played that many times, then Finished; the pass of each line is told.
    void passLimit() {
        COrderSession session;
        QList<int> passes;
        connect(&session, &COrderSession::LineSent, [&](const SSentLine& line) { passes << line.nPass; });
        SHeard heard(session);
        QVERIFY(Load(session, "<41>\n<p>0\n<42>\n<p>0\n"));
        session.SetPassLimit(2);
        CTestListener peer("127.0.0.34");
        const PeerHandle fd = Start(session, peer, "127.0.0.34");
        QVERIFY(fd != PEER_NONE);
        CPeerReader reader(fd);
        QTRY_COMPARE_WITH_TIMEOUT(heard.nFinished, 1, TestTimeout(10000));
        QCOMPARE(reader.Data(), QByteArray("ABAB"));
        QCOMPARE(passes, (QList<int>{1, 1, 1, 1, 2, 2, 2, 2}));
        QCOMPARE(session.PassesDone(), 2);
        QCOMPARE(session.DataLinesSent(), 4);
        session.Close();
        ClosePeer(fd);
    }

    // Replies holding every byte value, and a flood of them: every byte, in order, nothing lost.
    void everyByteInOrder() {
        COrderSession session;
        SHeard heard(session);
        QVERIFY(Load(session, "<41>\n"));
        CTestListener peer("127.0.0.30");
        const PeerHandle fd = Start(session, peer, "127.0.0.30");
        QVERIFY(fd != PEER_NONE);
        QByteArray sent;
        for (int v = 0; v < 256; ++v)
            sent += char(v);
        for (int i = 0; i < 20000; ++i)
            sent += "reply " + QByteArray::number(i) + ";";
        std::thread flood([&] { WriteBytes(fd, sent); });
        QTRY_VERIFY_WITH_TIMEOUT(heard.rxBytes.size() >= sent.size(), TestTimeout(20000));
        flood.join();
        QCOMPARE(heard.rxBytes, sent);
        session.Close();
        ClosePeer(fd);
    }

    // The receive thread waits while the session's thread is far behind; closing or destroying the
    // session must end that wait, not hang.
    void closeWhileReceiverWaits_data() {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("close") << false;
        QTest::newRow("destroy") << true;
    }
    void closeWhileReceiverWaits() {
        QFETCH(bool, destroy);
        auto session = std::make_unique<COrderSession>();
        QVERIFY(Load(*session, "<41>\n"));
        CTestListener peer("127.0.0.29");
        const PeerHandle fd = Start(*session, peer, "127.0.0.29");
        QVERIFY(fd != PEER_NONE);
        std::thread flood([fd] { WriteBytes(fd, QByteArray(4 * SESSION_RX_PENDING_LIMIT, 'f')); });
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // nothing is taken in
        if (destroy)
            session.reset();
        else
            session->Close();
        SocketShutdown(fd); // ends the peer's write
        flood.join();
        ClosePeer(fd);
    }

    // Serial: the bytes with checksum over the ETX, replies in lines, the port closed on Close.
    void serialOrder() {
        SKIP_WITHOUT_PTY();
        COrderSession session;
        SHeard heard(session);
        QVERIFY(Load(session, "<02>S<03>\n"));
        CTestPty pty("COM3");
        QVERIFY(session.Open(Serial("COM3", 1, 1)));
        QCOMPARE(heard.nConnected, 1);
        QCOMPARE(pty.SlaveSettings().nBaud, 19200); // the settings' texts reach the device
        QVERIFY(pty.SlaveSettings().bTwoStopBits);
        CPeerReader reader(pty.Master());
        QTRY_COMPARE(reader.Data(), QByteArray("\x02S\x03\x50"));
        WriteBytes(pty.Master(), QByteArray("\x06"
                                            "A\0B",
                                            4));
        QTRY_COMPARE(heard.rx, QStringList{"SERIAL:   <06>A<00>B"});
        QCOMPARE(heard.tx.value(0), QStringLiteral("SERIAL    <02>S<03>"));
        session.Close();
        QVERIFY(!session.IsOpen());
        QString why;
        QVERIFY(!session.Open(Serial("COM9"), &why)); // masked: no device
        QVERIFY(!why.isEmpty());
    }

    // The device goes away in the middle of an order: LinkLost; Reopen fails while it is gone, and
    // once it is back the order goes on, the line that failed sent (and told) once.
    void serialDeviceComesBack() {
        SKIP_WITHOUT_PTY();
        COrderSession session;
        SHeard heard(session);
        QVERIFY(Load(session, "<41>\n<p>0\n"));
        auto pty = std::make_unique<CTestPty>("COM4");
        QVERIFY(session.Open(Serial("COM4")));
        {
            CPeerReader reader(pty->Master());
            QTRY_VERIFY(reader.Data().startsWith("A"));
        }
        pty.reset();
        QTRY_COMPARE_WITH_TIMEOUT(heard.nLost, 1, TestTimeout(5000));
        QVERIFY(!session.IsOpen());
        QVERIFY(!session.Reopen());
        const int told = heard.tx.count("SERIAL    A");
        pty = std::make_unique<CTestPty>("COM4");
        QVERIFY(session.Reopen());
        QCOMPARE(heard.nReconnected, 1);
        CPeerReader again(pty->Master());
        QTRY_VERIFY(again.Data().startsWith("A"));
        QTRY_VERIFY(heard.tx.count("SERIAL    A") > told);
        session.Close();
    }
};

POSEMU_TEST_MAIN(TestOrderSession)
#include "test_order_session.moc"
