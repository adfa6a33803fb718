#include "test_peer.h"
#include "test_support.h"
#include "transport/port_ctl.h"

#include <QSignalSpy>

class TestPortCtl : public QObject {
    Q_OBJECT

    static void Configure(CPortCtl& port, int number, int baud, int parity, int dataBits, int stopBits,
                          int hw, int sw) {
        port.SetPortNumber(number);
        port.SetBaudRate(baud);
        port.SetParity(parity);
        port.SetDataBits(dataBits);
        port.SetStopBits(stopBits);
        port.SetHardwareFlow(hw);
        port.SetSoftwareFlow(sw);
    }

private slots:
    void initTestCase() { MaskAllComPorts(); }

    void settingsReachDevice_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("hardware");
        QTest::addColumn<int>("software");
        QTest::addColumn<int>("speed");
        QTest::newRow("9600 8N1") << 9600 << 8 << 0 << 0 << 0 << int(B9600);
        QTest::newRow("19200 7 2 stop") << 19200 << 7 << 2 << 0 << 0 << int(B19200);
        QTest::newRow("hardware flow") << 9600 << 5 << 0 << 1 << 0 << int(B9600);
        QTest::newRow("software flow") << 9600 << 6 << 0 << 0 << 1 << int(B9600);
    }
    void settingsReachDevice() {
        QFETCH(int, baud);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        QFETCH(int, hardware);
        QFETCH(int, software);
        QFETCH(int, speed);
        CTestPty pty("COM12");
        CPortCtl port;
        Configure(port, 12, baud, 0, dataBits, stopBits, hardware, software);
        QCOMPARE(port.OpenPort(), 1);
        const termios tio = pty.SlaveSettings();
        QCOMPARE(int(cfgetospeed(&tio)), speed);
        // Data bits cannot be read back: a pseudo-terminal always reports CS8.
        QCOMPARE(bool(tio.c_cflag & CSTOPB), stopBits == 2);
        QCOMPARE(bool(tio.c_cflag & CRTSCTS), hardware == 1);
        QCOMPARE(bool(tio.c_iflag & IXON), software == 1);
        QCOMPARE(bool(tio.c_iflag & IXOFF), software == 1);
        port.ClosePort();
    }

    void bytesBothWays() {
        CTestPty pty("COM3");
        CPortCtl port;
        QSignalSpy waiting(&port, &CPortCtl::DataWaiting);
        Configure(port, 3, 9600, 0, 8, 0, 0, 0);
        QCOMPARE(port.OpenPort(), 1);
        QCOMPARE(port.GetBytesWaiting(), 0);
        for (int b : {0x02, 0x00, 0x41, 0xFF, 0x03})
            port.WriteByte(b);
        QCOMPARE(ReadFor(pty.Master(), 5), QByteArray("\x02\x00\x41\xFF\x03", 5));

        WriteBytes(pty.Master(), QByteArray("\x06Z\x00", 3));
        QVERIFY(waiting.wait(3000));
        QTRY_COMPARE(port.GetBytesWaiting(), 3);
        QCOMPARE(port.ReadByte(), 0x06);
        QCOMPARE(port.ReadByte(), int('Z'));
        QCOMPARE(port.ReadByte(), 0x00);
        QCOMPARE(port.GetBytesWaiting(), 0);
        port.ClosePort();
        QCOMPARE(port.GetBytesWaiting(), 0);
        QCOMPARE(port.WriteByte(0x41), 0);
    }

    // Bytes already waiting are seen without the event loop having run.
    void waitingCountWithoutEventLoop() {
        CTestPty pty("COM4");
        CPortCtl port;
        Configure(port, 4, 9600, 0, 8, 0, 0, 0);
        QCOMPARE(port.OpenPort(), 1);
        WriteBytes(pty.Master(), "ab");
        ::usleep(50000);
        QVERIFY(port.GetBytesWaiting() > 0);
    }

    void refusesToOpen_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("unknown parity") << 5 << -1 << 8 << 0;
        QTest::newRow("unknown stop bits") << 5 << 0 << 8 << -1;
        QTest::newRow("9 data bits") << 5 << 0 << 9 << 0;
        QTest::newRow("4 data bits") << 5 << 0 << 4 << 0;
        QTest::newRow("port 0") << 0 << 0 << 8 << 0;
        QTest::newRow("entry pointing nowhere") << 6 << 0 << 8 << 0;
    }
    void refusesToOpen() {
        QFETCH(int, number);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        CTestPty pty("COM5");
        CPortCtl port;
        Configure(port, number, 9600, parity, dataBits, stopBits, 0, 0);
        QCOMPARE(port.OpenPort(), 0);
        QVERIFY(!port.IsOpen());
    }

    void deviceVanishes() {
        auto pty = std::make_unique<CTestPty>("COM7");
        CPortCtl port;
        QSignalSpy lost(&port, &CPortCtl::PortLost);
        Configure(port, 7, 9600, 0, 8, 0, 0, 0);
        QCOMPARE(port.OpenPort(), 1);
        pty.reset(); // master and our slave closed, entry removed
        port.WriteByte(0x41);
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);
        QVERIFY(!port.IsOpen());
        QCOMPARE(port.GetBytesWaiting(), 0);
        CTestPty::Publish("COM7", "/dev/pts/no-such");
        QCOMPARE(port.OpenPort(), 0);
    }

    void portNames() {
        QCOMPARE(PortDeviceName("COM3"), PortsFolder() + "/COM3");
        QCOMPARE(PortDeviceName(""), QString());
        QCOMPARE(PortDeviceName("COM"), QString());
        QCOMPARE(PortDeviceName("LPT1"), QString());
        QFile::remove(PortsFolder() + "/COM2");
        QCOMPARE(PortDeviceName("COM2"), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(PortDeviceName(14), PortsFolder() + "/COM14");
        MaskAllComPorts();
    }
};

POSEMU_TEST_MAIN(TestPortCtl)
#include "test_port_ctl.moc"
