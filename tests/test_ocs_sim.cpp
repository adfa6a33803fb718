#include "test_peer.h"
#include "test_support.h"
#include "transport/ocs_client.h"
#include "transport/port_ctl.h"

#include <QProcess>
#include <QSignalSpy>
#include <csignal>

namespace {
class CCollector : public COcsClientEvents {
public:
    void OnOcsReceive(const QString&, int, char* data, int length, int) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.append(data, length);
    }
    QByteArray Data() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return QByteArray(m_data.constData(), m_data.size()); // unshared: the worker appends in place
    }

private:
    std::mutex m_mutex;
    QByteArray m_data;
};
} // namespace

class TestOcsSim : public QObject {
    Q_OBJECT
    QProcess m_sim;
    QByteArray m_output;

    bool WaitForOutput(const QByteArray& text, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!m_output.contains(text) && timer.elapsed() < timeoutMs) {
            m_sim.waitForReadyRead(50);
            m_output += m_sim.readAllStandardOutput();
        }
        return m_output.contains(text);
    }

private slots:
    void initTestCase() {
        IgnoreBrokenPipes();
        MaskAllComPorts();
        QStringList args{"--listen", "127.0.0.18", "--reply", "<06>OK<00>"};
#ifndef _WIN32 // the simulator serves a COM name with a pseudo-terminal
        args << "--serial"
             << "COM9";
#endif
        m_sim.start(BuiltProgram(OCS_SIM_PATH), args);
        QVERIFY(m_sim.waitForStarted());
        QVERIFY(WaitForOutput("listening"));
#ifndef _WIN32
        QVERIFY(WaitForOutput("serial"));
#endif
    }

    void help() {
        QProcess help;
        help.start(BuiltProgram(OCS_SIM_PATH), {"--help"});
        QVERIFY(help.waitForFinished());
        QCOMPARE(help.exitCode(), 0);
        const QByteArray text = help.readAllStandardOutput();
        QVERIFY(text.contains("--listen HOST"));
        QVERIFY(text.contains("--serial COMn"));
        QVERIFY(text.contains("--reply TEXT"));
        QProcess bad;
        bad.start(BuiltProgram(OCS_SIM_PATH), {"--bogus"});
        QVERIFY(bad.waitForFinished());
        QVERIFY(bad.exitCode() != 0);
        // A name that resolves to nothing: a wrong command line, with the resolver's reason.
        QProcess unresolved;
        unresolved.start(BuiltProgram(OCS_SIM_PATH), {"--listen", "no such host!"});
        QVERIFY(unresolved.waitForFinished());
        QCOMPARE(unresolved.exitCode(), 2);
        QVERIFY(
            unresolved.readAllStandardError().startsWith("ocs-sim: 'no such host!' cannot be resolved: "));
        // Names are printed in UTF-8 on every platform (Windows' console code page would make "?" of them).
        QProcess named;
        named.start(BuiltProgram(OCS_SIM_PATH),
                    {"--record", QString::fromUtf8("no-such-folder-\xd0\x96/learned.vlq")});
        QVERIFY(named.waitForFinished());
        QVERIFY2(named.readAllStandardError().contains("no-such-folder-\xd0\x96"), "not UTF-8");
    }

    void overTcp() {
        CCollector replies;
        COcsClient client;
        client.SetHandler(&replies);
        QCOMPARE(client.Connect("127.0.0.18", OCS_TCP_PORT), 0);
        QTRY_VERIFY(client.IsConnected());
        for (char c : QByteArray("\x02"
                                 "AB\x03\x03",
                                 5))
            client.Send(&c, 1);
        QVERIFY(WaitForOutput("<02>AB<03><03>  [checksum 03 ok (ETX excluded)]"));
        QTRY_COMPARE(replies.Data(), QByteArray("\x06OK\x00", 4));
        QTest::qWait(50);
        for (char c : QByteArray("\x02"
                                 "AB\x03\x07",
                                 5))
            client.Send(&c, 1);
        QVERIFY(
            WaitForOutput("<02>AB<03><07>  [checksum 07 WRONG (expected 03 without ETX or 00 with ETX)]"));
        QTest::qWait(50);
        client.Send("\x05", 1);
        QTRY_COMPARE(replies.Data().right(1), QByteArray("\x06"));
        client.Close();
        QVERIFY(WaitForOutput("disconnected"));
    }

    void overSerial() {
        SKIP_WITHOUT_PTY();
        QVERIFY(QFileInfo(PortsFolder() + "/COM9").isSymLink());
        CPortCtl port;
        port.SetPortNumber(9);
        port.SetBaudRate(9600);
        port.SetParity(0);
        port.SetDataBits(8);
        port.SetStopBits(0);
        QCOMPARE(port.OpenPort(), 1);
        for (int b : {0x02, 0x31, 0x03, 0x32, 0x0D})
            port.WriteByte(b);
        QVERIFY(WaitForOutput("SERIAL COM9            <02>1<03>2<0D>  [checksum 32 ok (ETX included)]"));
        QSignalSpy waiting(&port, &CPortCtl::DataWaiting);
        QTRY_COMPARE(port.GetBytesWaiting(), 4);
        QCOMPARE(port.ReadByte(), 0x06);
    }

    void endsCleanlyOnInterrupt() {
        SKIP_ON_WINDOWS("the simulator serves no serial line on Windows, and Wine cannot send it Ctrl+Break");
        QVERIFY(SendInterrupt(m_sim));
        QVERIFY(m_sim.waitForFinished(5000));
        QCOMPARE(m_sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_sim.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(PortsFolder() + "/COM9") &&
                !QFileInfo(PortsFolder() + "/COM9").isSymLink());
        MaskAllComPorts();
    }
};

POSEMU_TEST_MAIN(TestOcsSim)
#include "test_ocs_sim.moc"
