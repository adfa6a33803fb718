#include "script/order_line.h"
#include "script/order_script.h"
#include "test_support.h"
#include "wire_recorder.h"

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

class TestWireRecorder : public QObject {
    Q_OBJECT

private slots:
    void record_data() {
        QTest::addColumn<QList<SChunk>>("chunks");
        QTest::addColumn<QByteArray>("lines"); // the file after its remark
        QTest::addColumn<int>("checksum");
        QTest::addColumn<QStringList>("warnings");
        QTest::newRow("no ETX: frames end on gaps")
            << QList<SChunk>{{"tcp", 0, "ABC"}, {"tcp", 49, "DE"}, {"tcp", 99, "FG"}, {"tcp", 1200, "\x05"}}
            << QByteArray("<41>BCDE\n<46>G\n<05>\n") << int(RECORDED_NO_CHECKSUM) << QStringList{};
        QTest::newRow("checksum, ETX excluded; pauses")
            << QList<SChunk>{{"tcp", 0,
                              "\x02"
                              "AB\x03\x03"},
                             {"tcp", 1249, "\x02Z\x03Z"}, // 749 beyond the line's 500 ms: no pause
                             {"tcp", 2499, "\x02Z\x03Z"}, // 750 beyond: one second
                             {"tcp", 5499, "\x02Z\x03Z"}} // 2500 beyond: rounds up
            << QByteArray("<02>AB<03>\n<02>Z<03>\n<p>1\n<02>Z<03>\n<p>3\n<02>Z<03>\n")
            << int(RECORDED_CHECKSUM_WITHOUT_ETX) << QStringList{};
        QTest::newRow("checksum, ETX included; frames in one burst")
            << QList<SChunk>{{"serial", 0, "\x05"},
                             {"serial", 100,
                              "\x02"
                              "A\x03\x42\x02"
                              "B\x03\x41"}}
            << QByteArray("<05>\n<02>A<03>\n<02>B<03>\n") << int(RECORDED_CHECKSUM_WITH_ETX) << QStringList{};
        QTest::newRow("a wrong checksum stays as received")
            << QList<SChunk>{{"tcp", 0,
                              "\x02"
                              "A\x03\x41"},
                             {"tcp", 600,
                              "\x02"
                              "B\x03\x7f"}}
            << QByteArray("<02>A<03>\n<41>\n<02>B<03>\n<7F>\n") << int(RECORDED_NO_CHECKSUM) << QStringList{};
        QTest::newRow("semicolon warns, NUL and < written as tokens")
            << QList<SChunk>{{"tcp", 0, QByteArray("a<b\0c", 5)}, {"tcp", 600, "x;y"}}
            << QByteArray("<61><3C>b<00>c\n<78><3B>y\n") << int(RECORDED_NO_CHECKSUM)
            << QStringList{"line 3: the byte 0x3B (;) is played as 0x00, the script format reads it as NUL"};
        QTest::newRow("text the format would read as a token warns")
            << QList<SChunk>{{"tcp", 0, "<41>"}} << QByteArray("<3C>41>\n") << int(RECORDED_NO_CHECKSUM)
            << QStringList{"line 2: the script format reads these bytes back as others; the line does not "
                           "play as received"};
        QTest::newRow("a frame the format reads as a pause warns")
            << QList<SChunk>{{"tcp", 0, "<p>5"}} << QByteArray("<3C>p>5\n") << int(RECORDED_NO_CHECKSUM)
            << QStringList{"line 2: the script format reads these bytes back as others; the line does not "
                           "play as received"};
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

POSEMU_TEST_MAIN(TestWireRecorder)
#include "test_wire_recorder.moc"
