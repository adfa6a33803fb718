#include "test_peer.h"
#include "test_support.h"
#include "transport/port_ctl.h"
#include "transport/port_names.h"

#include <QDir>
#include <QSerialPort>
#include <QSignalSpy>
#include <memory>

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

    // Baud, stop bits and both kinds of flow control reach the device (a pseudo-terminal always
    // reports 8 data bits, so those cannot be read back).
    void settingsReachDevice() {
        SKIP_WITHOUT_PTY();
        CTestPty pty("COM12");
        for (const QList<int>& row :
             {QList<int>{9600, 8, 0, 0, 0}, {19200, 7, 2, 0, 0}, {9600, 5, 0, 1, 0}, {9600, 6, 0, 0, 1}}) {
            CPortCtl port;
            Configure(port, 12, row[0], 0, row[1], row[2], row[3], row[4]);
            QCOMPARE(port.OpenPort(), 1);
            const SLineSettings line = pty.SlaveSettings();
            QCOMPARE(
                (QList<int>{line.nBaud, line.bTwoStopBits, line.bHardwareFlow, line.bXonOut, line.bXoffIn}),
                (QList<int>{row[0], row[2] == 2, row[3], row[4], row[4]}));
        }
    }

    // USB adapters get COM names by themselves: the lowest free one from COM3 up, kept across
    // restarts and replugs; a name the ports folder holds already, by hand or not, is never changed
    // nor given twice; an order over the adapter's name reaches it.
    void adapterNames() {
        SKIP_WITHOUT_PTY();
        QDir byId(qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID"));
        QVERIFY(byId.removeRecursively() && QDir().mkpath(byId.path()));
        const auto plug = [&byId](const char* id, const CTestPty& pty) {
            QFile::remove(byId.filePath(id));
            return QFile::link(QString::fromLatin1(pty.SlavePath()), byId.filePath(id));
        };
        const QString ports = PortsFolder();
        for (int n = 3; n <= PORT_LAST_NAME; ++n)
            QFile::remove(ports + QStringLiteral("/COM%1").arg(n));
        QVERIFY(QFile::link("/dev/null", ports + "/COM3")); // made by hand
        CTestPty a, b, c;
        QVERIFY(QFile::link(QString::fromLatin1(b.SlavePath()), ports + "/COM9")); // b by hand, by its device
        QVERIFY(plug("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0", a));
        QVERIFY(plug("usb-Prolific_PL2303-if00-port0", b));
        AssignAdapterPorts();
        QCOMPARE(QFile::symLinkTarget(ports + "/COM3"), QStringLiteral("/dev/null"));
        QCOMPARE(PortAdapter("COM3"), QString());
        QCOMPARE(PortAdapter("COM4"), QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0"));
        QCOMPARE(PortAdapter("com4"), PortAdapter("COM4"));
        QVERIFY(!QFileInfo::exists(ports + "/COM5")); // b has COM9 already
        QCOMPARE(AdapterPortNumbers(), std::vector<int>{4});

        AssignAdapterPorts(); // the next start: the same names, none given twice
        QCOMPARE(QDir(ports).entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot).size(), 5);

        CPortCtl port;
        Configure(port, 4, 9600, 0, 8, 0, 0, 0);
        QCOMPARE(port.OpenPort(), 1);
        QCOMPARE(port.WriteByte('Z'), 1);
        QCOMPARE(ReadFor(a.Master(), 1), QByteArray("Z"));
        port.ClosePort();

        // Unplugged, another adapter comes: it takes the next name; the first keeps COM4 and has it
        // again when it comes back.
        QVERIFY(QFile::remove(byId.filePath("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0")));
        QVERIFY(plug("usb-CH340-if00-port0", c));
        AssignAdapterPorts();
        QCOMPARE(PortAdapter("COM5"), QStringLiteral("usb-CH340-if00-port0"));
        QVERIFY(plug("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0", a));
        AssignAdapterPorts();
        QCOMPARE(PortAdapter("COM4"), QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0"));
        QVERIFY(!QFileInfo::exists(ports + "/COM6"));
        QVERIFY(byId.removeRecursively());
        MaskAllComPorts();
    }

    // When every name is taken, a new adapter gets the name this program gave to the adapter away
    // longest, and that is said once; a name made by hand is never given again, and what is no
    // character device gets no name.
    void namesGivenAgain() {
        SKIP_WITHOUT_PTY();
        QDir byId(qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID"));
        QVERIFY(byId.removeRecursively() && QDir().mkpath(byId.path()));
        const QString ports = PortsFolder();
        for (int n = 3; n <= PORT_LAST_NAME; ++n)
            QFile::remove(ports + QStringLiteral("/COM%1").arg(n));
        QFile::remove(ports + "/.given-names");
        QVERIFY(QFile::link(byId.filePath("usb-gone-long-ago"), ports + "/COM14")); // by hand, away
        QVERIFY(WriteFile(byId.filePath("usb-0-plain-file"), "x"));
        std::vector<std::unique_ptr<CTestPty>> adapters;
        const auto plug = [&](int k) {
            adapters.push_back(std::make_unique<CTestPty>());
            return QFile::link(QString::fromLatin1(adapters.back()->SlavePath()),
                               byId.filePath(QStringLiteral("usb-A%1").arg(k, 2, 10, QLatin1Char('0'))));
        };
        for (int k = 1; k <= 11; ++k)
            QVERIFY(plug(k));
        QCOMPARE(AssignAdapterPorts(), QStringList());
        QCOMPARE(AdapterPortNumbers(), (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
        QCOMPARE(PortAdapter("COM7"), QStringLiteral("usb-A05"));
        QVERIFY(QFile::remove(byId.filePath("usb-A05"))); // unplugged first: away longest
        AssignAdapterPorts();
        for (int k = 1; k <= 11; ++k)
            QFile::remove(byId.filePath(QStringLiteral("usb-A%1").arg(k, 2, 10, QLatin1Char('0'))));
        AssignAdapterPorts();
        QVERIFY(plug(12));
        const QStringList notes = AssignAdapterPorts();
        QCOMPARE(PortAdapter("COM7"), QStringLiteral("usb-A12"));
        QCOMPARE(QFile::symLinkTarget(ports + "/COM14"), byId.filePath("usb-gone-long-ago"));
        QCOMPARE(notes.size(), 1);
        QVERIFY2(notes[0].startsWith("COM7 now names the adapter usb-A12; it named usb-A05, not seen since "),
                 qPrintable(notes[0]));
        QCOMPARE(TakeAdapterNotes(), notes); // told once
        QCOMPARE(TakeAdapterNotes(), QStringList());
        QVERIFY(byId.removeRecursively());
        MaskAllComPorts();
    }

    // Every byte value both ways; what waits is counted before the event loop has run.
    void bytesBothWays() {
        SKIP_WITHOUT_PTY();
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
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QVERIFY(port.GetBytesWaiting() > 0); // seen without the event loop having run
        QTRY_VERIFY(waiting.count() > 0);
        QTRY_COMPARE(port.GetBytesWaiting(), 3);
        QCOMPARE(port.ReadByte(), 0x06);
        QCOMPARE(port.ReadByte(), int('Z'));
        QCOMPARE(port.ReadByte(), 0x00);
        QCOMPARE(port.GetBytesWaiting(), 0);
        port.ClosePort();
        QCOMPARE(port.GetBytesWaiting(), 0);
        QCOMPARE(port.WriteByte(0x41), 0);
    }

    // What cannot be opened is refused, and the reason names the port, the device and why.
    void refusesToOpen_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QList<int>>("line"); // parity, data bits, stop bits
        QTest::addColumn<QString>("device");  // what COM5 stands for
        QTest::addColumn<QString>("problem");
        const auto row = [](const char* tag, int number, const QList<int>& line, const char* device,
                            const char* problem) {
            QTest::newRow(tag) << number << line << QString(device) << QString(problem);
        };
        const char* unusable = "COM5: the line settings cannot be used";
        row("unknown parity", 5, {-1, 8, 0}, "pty", unusable);
        row("unknown stop bits", 5, {0, 8, -1}, "pty", unusable);
        row("9 data bits", 5, {0, 9, 0}, "pty", unusable);
        row("4 data bits", 5, {0, 4, 0}, "pty", unusable);
        row("port 0", 0, {0, 8, 0}, "pty", "the port is not a COM name");
        row("entry pointing nowhere", 6, {0, 8, 0}, "pty",
            "COM6 (/nonexistent/no-such-device): no such device (not plugged in?)");
        row("a regular file", 5, {0, 8, 0}, "file", "not a serial device");
        row("a device that is no terminal", 5, {0, 8, 0}, "/dev/null",
            "COM5 (/dev/null): not a serial device");
        row("held by another program", 5, {0, 8, 0}, "held", "in use by another program");
    }
    void refusesToOpen() {
        SKIP_WITHOUT_PTY();
        QFETCH(int, number);
        QFETCH(QList<int>, line);
        QFETCH(QString, device);
        QFETCH(QString, problem);
        CTestPty pty("COM5");
        CPortCtl holder;
        QTemporaryDir dir;
        if (device == "file") {
            QVERIFY(WriteFile(dir.filePath("plain"), "x"));
            CTestPty::Publish("COM5", QFile::encodeName(dir.filePath("plain")));
        } else if (device.startsWith('/')) {
            CTestPty::Publish("COM5", QFile::encodeName(device));
        } else if (device == "held") {
            Configure(holder, 5, 9600, 0, 8, 0, 0, 0);
            QCOMPARE(holder.OpenPort(), 1);
        }
        CPortCtl port;
        Configure(port, number, 9600, line[0], line[1], line[2], 0, 0);
        QCOMPARE(port.OpenPort(), 0);
        QVERIFY(!port.IsOpen());
        const QString start = number == 0 ? QStringLiteral("the") : QStringLiteral("COM%1").arg(number);
        QVERIFY2(port.OpenProblem().endsWith(problem) && port.OpenProblem().startsWith(start),
                 qPrintable(port.OpenProblem()));
        if (device == "pty" && number == 5 && problem.endsWith(')')) // the device itself is named
            QVERIFY(port.OpenProblem().startsWith("COM5 (" + QString::fromLatin1(pty.SlavePath()) + "): "));
    }

    // A device this user may not open: the way out is said (root passes every check: it tries as
    // another user).
    void deniedToThisUser() {
        SKIP_WITHOUT_PTY();
        if (!CanDropPrivileges())
            QSKIP("needs root, to try as another user");
        CTestPty pty;
        const QString device = QString::fromLatin1(pty.SlavePath());
        QCOMPARE(AsUnprivileged([&] { return PortOpenProblem(device, QSerialPort::PermissionError, "x"); }),
                 QStringLiteral("permission denied (add your user to the dialout group)"));
    }

    void portNames() {
        QCOMPARE(PortDeviceName(""), QString());
        QCOMPARE(PortDeviceName("COM"), QString());
        QCOMPARE(PortDeviceName("LPT1"), QString());
        QCOMPARE(PortDeviceName("COM0"), QString());
        if (OnWindows()) {
            QCOMPARE(PortDeviceName("COM3"), QStringLiteral("COM3"));
            QCOMPARE(PortDeviceName(14), QStringLiteral("COM14"));
            return;
        }
        QCOMPARE(PortDeviceName("COM3"), PortsFolder() + "/COM3");
        // A relative by-id folder is taken from where the program starts: links to it hold anywhere.
        const QByteArray byId = qgetenv("POS_EMULATOR_SERIAL_BY_ID");
        qputenv("POS_EMULATOR_SERIAL_BY_ID", "by-id");
        QCOMPARE(SerialByIdFolder(), QDir::current().absoluteFilePath("by-id"));
        qputenv("POS_EMULATOR_SERIAL_BY_ID", byId);
        QFile::remove(PortsFolder() + "/COM2");
        QCOMPARE(PortDeviceName("COM2"), QStringLiteral("/dev/ttyS1"));
        QCOMPARE(PortDeviceName(14), PortsFolder() + "/COM14");
        MaskAllComPorts();
    }
};

POSEMU_TEST_MAIN(TestPortCtl)
#include "test_port_ctl.moc"
