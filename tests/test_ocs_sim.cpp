// The simulated OCS and its recorder.
#include "script/order_line.h"
#include "script/order_script.h"
#include "test_peer.h"
#include "test_support.h"
#include "transport/ocs_client.h"
#include "transport/port_ctl.h"
#include "wire_recorder.h"

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

namespace {
struct SChunk {
    QByteArray source;
    qint64 nAtMs;
    QByteArray bytes;
};

// What playing the file puts on the wire, lines back to back.
QByteArray PlayedBytes(const QByteArray& file, ERecordedChecksum checksum) {
    QByteArray wire;
    for (const QByteArray& line : PrepareScript(file)) {
        if (PlanLine(line).kind == LINE_DATA)
            wire += EncodeLineBytes(line, checksum != RECORDED_NO_CHECKSUM,
                                    checksum == RECORDED_CHECKSUM_WITH_ETX);
    }
    return wire;
}
} // namespace
Q_DECLARE_METATYPE(QList<SChunk>)

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
        if (!OnWindows()) // the simulator serves a COM name with a pseudo-terminal
            args << "--serial" << QStringLiteral("COM9");
        m_sim.start(BuiltProgram(OCS_SIM_PATH), args);
        QVERIFY(m_sim.waitForStarted());
        QVERIFY(WaitForOutput("listening"));
        QVERIFY(OnWindows() || WaitForOutput("serial"));
    }

    void help() {
        QProcess help;
        help.start(BuiltProgram(OCS_SIM_PATH), {"--help"});
        QVERIFY(help.waitForFinished());
        QCOMPARE(help.exitCode(), 0); // (what it says is checked against the manual page)
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
        // A port range the wrong way round, and a reply for a port not listened on: refused before
        // anything listens.
        QTemporaryDir dir;
        QVERIFY(WriteFile(dir.filePath("replies.txt"), "48503 <06>\n\n48599 <15>\n"));
        const QList<std::pair<QStringList, QByteArray>> refusals{
            {{"--port", "48510-48501"}, "ocs-sim: --port takes N or FIRST-LAST"},
            {{"--port", "48501-48510", "--reply-file", dir.filePath("replies.txt")},
             "replies.txt:3: give a port"}};
        for (const auto& [refusedArgs, said] : refusals) {
            QProcess refused;
            refused.start(BuiltProgram(OCS_SIM_PATH), refusedArgs);
            QVERIFY(refused.waitForFinished());
            QCOMPARE(refused.exitCode(), 2);
            QVERIFY2(refused.readAllStandardError().contains(said), said.constData());
        }
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
        for (char c : ScriptBytes("<02>AB<03><03>"))
            client.Send(&c, 1);
        QVERIFY(WaitForOutput("<02>AB<03><03>  [checksum 03 ok (ETX excluded)]"));
        QTRY_COMPARE(replies.Data(), QByteArray("\x06OK\x00", 4));
        QTest::qWait(50);
        for (char c : ScriptBytes("<02>AB<03><07>"))
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

    void record_data() {
        QTest::addColumn<QList<SChunk>>("chunks");
        QTest::addColumn<QByteArray>("lines"); // the file after its remark
        QTest::addColumn<int>("checksum");
        QTest::addColumn<QStringList>("warnings");
        const auto tcp = [](qint64 atMs, const char* bytes) {
            return SChunk{"tcp", atMs, ScriptBytes(bytes)};
        };
        QTest::newRow("no ETX: frames end on gaps")
            << QList<SChunk>{tcp(0, "ABC"), tcp(49, "DE"), tcp(99, "FG"), tcp(1200, "<05>")}
            << QByteArray("<41>BCDE\n<46>G\n<05>\n") << int(RECORDED_NO_CHECKSUM) << QStringList{};
        QTest::newRow("checksum, ETX excluded; pauses")
            << QList<SChunk>{tcp(0, "<02>AB<03><03>"),
                             tcp(1249, "<02>Z<03>Z"), // 749 beyond the line's 500 ms: no pause
                             tcp(2499, "<02>Z<03>Z"), // 750 beyond: one second
                             tcp(5499, "<02>Z<03>Z")} // 2500 beyond: rounds up
            << QByteArray("<02>AB<03>\n<02>Z<03>\n<p>1\n<02>Z<03>\n<p>3\n<02>Z<03>\n")
            << int(RECORDED_CHECKSUM_WITHOUT_ETX) << QStringList{};
        QTest::newRow("checksum, ETX included; frames in one burst")
            << QList<SChunk>{{"serial", 0, "\x05"},
                             {"serial", 100, ScriptBytes("<02>A<03><42><02>B<03><41>")}}
            << QByteArray("<05>\n<02>A<03>\n<02>B<03>\n") << int(RECORDED_CHECKSUM_WITH_ETX) << QStringList{};
        QTest::newRow("a wrong checksum stays as received")
            << QList<SChunk>{tcp(0, "<02>A<03><41>"), tcp(600, "<02>B<03><7F>")}
            << QByteArray("<02>A<03>\n<41>\n<02>B<03>\n<7F>\n") << int(RECORDED_NO_CHECKSUM) << QStringList{};
        QTest::newRow("semicolon warns, NUL and < written as tokens")
            << QList<SChunk>{tcp(0, "a<3C>b<00>c"), tcp(600, "x;y")}
            << QByteArray("<61><3C>b<00>c\n<78><3B>y\n") << int(RECORDED_NO_CHECKSUM)
            << QStringList{"line 3: the byte 0x3B (;) is played as 0x00, the script format reads it as NUL"};
        const QStringList readBack{
            "line 2: the script format reads these bytes back as others; the line does not play as received"};
        QTest::newRow("text the format would read as a token warns")
            << QList<SChunk>{tcp(0, "<3C>41>")} << QByteArray("<3C>41>\n") << int(RECORDED_NO_CHECKSUM)
            << readBack;
        QTest::newRow("a frame the format reads as a pause warns")
            << QList<SChunk>{tcp(0, "<p>5")} << QByteArray("<3C>p>5\n") << int(RECORDED_NO_CHECKSUM)
            << readBack;
        QTest::newRow("two sources, each its own frames")
            << QList<SChunk>{{"tcp a", 0, "A1"},
                             {"tcp b", 10, "B1"},
                             {"tcp a", 20, "A2"},
                             {"tcp b", 100, "B2"}}
            << QByteArray("<41>1A2\n<42>1\n<42>2\n") << int(RECORDED_NO_CHECKSUM) << QStringList{};
    }
    void record() {
        QFETCH(QList<SChunk>, chunks);
        QFETCH(QStringList, warnings);
        CWireRecorder recorder;
        QByteArray received;
        for (const SChunk& chunk : chunks) {
            recorder.Received(chunk.source, chunk.nAtMs, chunk.bytes);
            received += chunk.bytes;
        }
        const SRecording recording = recorder.Finish({"Recorded here."});
        QVERIFY(recording.text.startsWith("Recorded here.\n"));
        QTEST(recording.text.mid(15), "lines");
        QTEST(int(recording.checksum), "checksum");
        QCOMPARE(recording.warnings, warnings);
        if (warnings.isEmpty() && chunks.first().source != "tcp a") // one source: the same bytes back
            QCOMPARE(PlayedBytes(recording.text, recording.checksum), received);
    }

    void scriptNotation() {
        QByteArray every;
        for (int v = 0; v < 256; ++v)
            every.append(char(v));
        const QByteArray text = ScriptNotation(every);
        QVERIFY(!text.contains('\n') && !text.contains(';'));
        QByteArray back = PrepareScriptLine(text).replace(';', '\0');
        back[0x3B] = ';'; // the one byte the format cannot give back
        QCOMPARE(back, every);
    }
};

POSEMU_TEST_MAIN(TestOcsSim)
#include "test_ocs_sim.moc"
