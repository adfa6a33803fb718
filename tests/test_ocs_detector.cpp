#include "app/emulator_app.h"
#include "test_peer.h"
#include "test_support.h"
#include "transport/ocs_detector.h"
#include "transport/port_names.h"

#include <atomic>
#include <functional>

namespace {

const QByteArray ACK(1, 0x06);
const QByteArray ENQ(1, 0x05);

} // namespace

class TestOcsDetector : public QObject {
    Q_OBJECT

private slots:
    void init() { MaskAllComPorts(); }

    void probe_data() {
        QTest::addColumn<QList<QByteArray>>("answers"); // per ENQ; missing means silence
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("enqCount");
        const QList<QByteArray> five{ACK, ACK, ACK, ACK, ACK};
        QTest::newRow("five acks") << five << true << 5;
        QTest::newRow("four then silent") << five.mid(0, 4) << false << 5;
        QTest::newRow("ack among other bytes")
            << QList<QByteArray>{"xx\x06y", "\x15\x06", ACK, "abc\x06", ACK} << true << 5;
        QTest::newRow("ack after NUL bytes in one read")
            << QList<QByteArray>{QByteArray("\0\x06", 2), QByteArray("\0\0\x06", 3), ACK, ACK, ACK} << true
            << 5;
        QTest::newRow("never an ack") << QList<QByteArray>{"\x15", "\x15"} << false << 1;
        QTest::newRow("two acks in one read")
            << QList<QByteArray>{"\x06\x06", ACK, ACK, ACK, ACK} << true << 5;
        QTest::newRow("spare ack does not count")
            << QList<QByteArray>{"\x06\x06", ACK, ACK, ACK} << false << 5;
    }
    void probe() {
        SKIP_WITHOUT_PTY();
        QFETCH(QList<QByteArray>, answers);
        QFETCH(bool, found);
        QFETCH(int, enqCount);
        CTestPty pty("COM2");
        const int ownBaud = pty.SlaveSettings().nBaud;
        std::atomic<int> otherBaud{0};
        CSerialPeer peer(pty, [&](int index, int baud) {
            otherBaud = baud == 9600 ? otherBaud.load() : baud;
            return index < answers.size() ? answers[index] : QByteArray();
        });
        const COcsDetector detector(ACK, ENQ, 300, 5);
        QCOMPARE(detector.Probe("COM2", 9600, 8, PROBE_PARITY_NONE, PROBE_STOPBITS_ONE, 0), found);
        QCOMPARE(peer.EnqCount(), enqCount);
        QCOMPARE(otherBaud.load(), 0);                // asked at the candidate's rate
        QCOMPARE(pty.SlaveSettings().nBaud, ownBaud); // and given its own back
    }

    void absentPortsCostNothing() {
        const COcsDetector detector(ACK, ENQ, 5000, 5);
        QVERIFY(!detector.Probe("COM1", 9600, 8, PROBE_PARITY_NONE, PROBE_STOPBITS_ONE, 0));
        QVERIFY(!detector.Probe("COM0", 9600, 8, PROBE_PARITY_NONE, PROBE_STOPBITS_ONE, 0));
    }

    // An OCS on COM12 is never tried, and a search that finds nothing changes no setting; one on COM3
    // that answers only at 19200 baud is found.
    void autoDetectFindsCom3At19200() {
        SKIP_WITHOUT_PTY();
        {
            CTestPty beyond("COM12");
            CSerialPeer peer(beyond, [](int, int) { return ACK; });
            CEmulatorApp app;
            app.LoadSettings();
            app.m_settings.m_strPort = "COM5";
            app.m_settings.m_bUseNetwork = 1;
            QVERIFY(!app.AutoDetectSerial());
            QCOMPARE(app.m_settings.m_strPort + QString::number(app.m_settings.m_bUseNetwork) +
                         QString::number(app.m_settings.m_bUseSerial),
                     QStringLiteral("COM510"));
            QCOMPARE(peer.EnqCount(), 0);
        }
        CTestPty pty("COM3");
        std::atomic<int> seenAt9600{0};
        CSerialPeer peer(pty, [&](int, int baud) {
            if (baud == 9600)
                ++seenAt9600;
            return baud == 19200 ? ACK : QByteArray();
        });
        CEmulatorApp app;
        app.LoadSettings();
        app.m_settings.m_bUseNetwork = 1;
        app.m_settings.m_bAutodetect = 0;
        app.m_settings.m_strFlowControl = "Hardware";
        app.m_settings.m_strStopBits = "2";
        app.m_settings.m_strDataBits = "7";
        app.m_ocsDetector = COcsDetector(ACK, ENQ, 300, 5);
        QVERIFY(app.AutoDetectSerial());
        const CAppSettings& s = app.m_settings;
        QCOMPARE(s.m_strPort, QStringLiteral("COM3"));
        QCOMPARE(s.m_strBaud, QStringLiteral("19200"));
        QCOMPARE(s.m_strParity, QStringLiteral("Odd"));
        QCOMPARE(s.m_strDataBits, QStringLiteral("8"));
        QCOMPARE(s.m_strStopBits, QStringLiteral("1"));
        QCOMPARE(s.m_strFlowControl, QStringLiteral("None"));
        QCOMPARE(s.m_bUseSerial, 1);
        QCOMPARE(s.m_bUseNetwork, 0);
        QCOMPARE(s.m_bAutodetect, 1);
        QCOMPARE(seenAt9600.load(), 1); // the first candidate was tried and timed out
    }

    // An adapter plugged in is probed before the built-in ports, and the OCS is found there, under
    // the name it was just given.
    void autoDetectTriesAdapterFirst() {
        SKIP_WITHOUT_PTY();
        QDir byId(qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID"));
        QVERIFY(byId.removeRecursively() && QDir().mkpath(byId.path()));
        CTestPty builtIn("COM1"), adapter;
        CSerialPeer first(builtIn, [](int, int) { return ACK; });
        CSerialPeer ocs(adapter, [](int, int) { return ACK; });
        QVERIFY(QFile::remove(PortsFolder() + "/COM9")); // the lowest free name
        QVERIFY(
            QFile::link(QString::fromLatin1(adapter.SlavePath()), byId.filePath("usb-FTDI_OCS-if00-port0")));
        CEmulatorApp app;
        app.LoadSettings();
        app.m_ocsDetector = COcsDetector(ACK, ENQ, 300, 5);
        QVERIFY(app.AutoDetectSerial());
        QCOMPARE(app.m_settings.m_strPort, QStringLiteral("COM9"));
        QCOMPARE(app.m_settings.m_strBaud, QStringLiteral("9600"));
        QCOMPARE(first.EnqCount(), 0);
        QVERIFY(ocs.EnqCount() >= 1);
        QVERIFY(byId.removeRecursively());
    }

    // A device that sends without being asked (a GPS receiver, a board printing a log, line noise with
    // ACKs in it) is passed over at once, and ACKs sent before the probe asked anything count for
    // nothing. The device keeps its own line settings.
    void unaskedBytes_data() {
        QTest::addColumn<QByteArray>("stream"); // sent again and again; empty: the ACKs wait, then quiet
        QTest::addColumn<bool>("unasked");
        QTest::newRow("streaming a log") << QByteArray("UUUU") << true;
        QTest::newRow("random bytes with ACKs") << ScriptBytes("<91><06>x<06><F3><06><06>") << true;
        QTest::newRow("old ACKs waiting") << QByteArray() << false;
    }
    void unaskedBytes() {
        SKIP_WITHOUT_PTY();
        QFETCH(QByteArray, stream);
        CTestPty pty("COM2");
        const int ownBaud = pty.SlaveSettings().nBaud;
        WriteBytes(pty.Master(), QByteArray(5, 0x06));
        std::atomic<bool> stop{false};
        std::thread streamer([&] {
            while (!stop && !stream.isEmpty()) {
                WriteBytes(pty.Master(), stream);
                QByteArray drained;
                ReadWithin(pty.Master(), 5, drained);
            }
        });
        const COcsDetector detector(ACK, ENQ, 300, 5);
        bool unasked = false;
        const bool found =
            detector.Probe("COM2", 9600, 8, PROBE_PARITY_NONE, PROBE_STOPBITS_ONE, 0, nullptr, &unasked);
        stop = true;
        streamer.join();
        QVERIFY(!found);
        QTEST(unasked, "unasked");
        QCOMPARE(pty.SlaveSettings().nBaud, ownBaud);
    }

    // A streaming adapter ahead of the OCS's: skipped, said so, and the OCS on the next one is found.
    void searchSkipsStreamingPort() {
        SKIP_WITHOUT_PTY();
        CTestPty noisy("COM3"), ocsPort("COM4");
        CSerialPeer ocs(ocsPort, [](int, int baud) { return baud == 19200 ? ACK : QByteArray(); });
        std::atomic<bool> stop{false};
        std::thread streamer([&] { // a few hundred milliseconds' worth, which nobody reads
            for (int n = 0; n < 60 && !stop; ++n) {
                WriteBytes(noisy.Master(), "$GPGGA,123519,4807.038,N\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        QStringList said;
        const SDetectResult result = SearchForOcs(
            COcsDetector(ACK, ENQ, 300, 5),
            [&](const QString& port, const QString& baud) { said << port + " " + baud; }, nullptr,
            [&](const QString& port) { said << SkippedPortText(port); });
        stop = true;
        streamer.join();
        QVERIFY(result.bFound);
        QCOMPARE(result.strPort, QStringLiteral("COM4"));
        QCOMPARE(result.skipped, QStringList{"COM3"});
        QCOMPARE(said, (QStringList{"COM1 9600", "COM1 19200", "COM2 9600", "COM2 19200", "COM3 9600",
                                    "COM3 sends data nobody asked for: not an OCS, skipped", "COM4 9600",
                                    "COM4 19200"}));
        QVERIFY2(
            DescribeDetectResult(result).startsWith("COM4 (") &&
                DescribeDetectResult(result).endsWith(") at 19200 baud, parity Odd, 8 data bits, 1 stop bit"),
            qPrintable(DescribeDetectResult(result)));
    }
};

POSEMU_TEST_MAIN(TestOcsDetector)
#include "test_ocs_detector.moc"
