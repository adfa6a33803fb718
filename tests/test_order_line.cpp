#include "script/order_line.h"
#include "test_support.h"

#include <climits>

class TestOrderLine : public QObject {
    Q_OBJECT

private slots:
    void encode_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("checksum");
        QTest::addColumn<bool>("includeEtx");
        QTest::addColumn<QByteArray>("wire");
        const QByteArray frame("\x02"
                               "AB\x03");
        QTest::newRow("checksum without ETX") << frame << true << false
                                              << QByteArray("\x02"
                                                            "AB\x03\x03");
        QTest::newRow("checksum with ETX") << frame << true << true
                                           << QByteArray("\x02"
                                                         "AB\x03\x00",
                                                         5);
        QTest::newRow("no checksum") << frame << false << false << frame;
        QTest::newRow("include alone does nothing") << frame << false << true << frame;
        QTest::newRow("placeholder in checksum") << QByteArray("\x02"
                                                               "A;B\x03")
                                                 << true << false
                                                 << QByteArray("\x02"
                                                               "A\x00"
                                                               "B\x03\x03",
                                                               6);
        QTest::newRow("placeholder plain") << QByteArray(";x;") << false << false << QByteArray("\0x\0", 3);
        QTest::newRow("no ETX no checksum") << QByteArray("\x02"
                                                          "AB")
                                            << true << true
                                            << QByteArray("\x02"
                                                          "AB");
        QTest::newRow("two ETX, running sum") << QByteArray("\x02"
                                                            "A\x03"
                                                            "B\x03")
                                              << true << false
                                              << QByteArray("\x02"
                                                            "A\x03"
                                                            "A"
                                                            "B\x03\x03");
        QTest::newRow("two ETX with ETX") << QByteArray("\x02"
                                                        "A\x03"
                                                        "B\x03")
                                          << true << true
                                          << QByteArray("\x02"
                                                        "A\x03\x42"
                                                        "B\x03\x03");
        QTest::newRow("first byte ETX") << QByteArray("\x03"
                                                      "A")
                                        << true << true
                                        << QByteArray("\x03"
                                                      "A");
        QTest::newRow("first byte not summed") << QByteArray("\x7f"
                                                             "A\x03")
                                               << true << false
                                               << QByteArray("\x7f"
                                                             "A\x03"
                                                             "A");
        QTest::newRow("empty") << QByteArray() << true << false << QByteArray();
    }
    void encode() {
        QFETCH(QByteArray, line);
        QFETCH(bool, checksum);
        QFETCH(bool, includeEtx);
        QFETCH(QByteArray, wire);
        QCOMPARE(EncodeLineBytes(line, checksum, includeEtx), wire);
    }

    void plan_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("delay");
        QTest::newRow("data") << QByteArray("\x02O;K\x03") << int(LINE_DATA) << QByteArray("<02>O<00>K<03>")
                              << qint64(500);
        QTest::newRow("pause 3") << QByteArray("<p>3") << int(LINE_PAUSE) << QByteArray("3 second(s)")
                                 << qint64(3000);
        QTest::newRow("pause alone") << QByteArray("<p>") << int(LINE_PAUSE) << QByteArray(" second(s)")
                                     << qint64(0);
        QTest::newRow("pause blanks and junk") << QByteArray("<p>  12abc") << int(LINE_PAUSE)
                                               << QByteArray("  12abc second(s)") << qint64(12000);
        QTest::newRow("negative pause")
            << QByteArray("<p>-2") << int(LINE_PAUSE) << QByteArray("-2 second(s)") << qint64(-2000);
        QTest::newRow("huge pause") << QByteArray("<p>99999999999999999999") << int(LINE_PAUSE)
                                    << QByteArray("99999999999999999999 second(s)")
                                    << qint64(1099511627776000);
        QTest::newRow("comment") << QByteArray("<c>Start \x02") << int(LINE_COMMENT)
                                 << QByteArray("Start <02>") << qint64(500);
        QTest::newRow("upper-case marker is data")
            << QByteArray("<P>5") << int(LINE_DATA) << QByteArray("<P>5") << qint64(500);
        QTest::newRow("marker not at start")
            << QByteArray(" <p>5") << int(LINE_DATA) << QByteArray(" <p>5") << qint64(500);
    }
    void plan() {
        QFETCH(QByteArray, line);
        QFETCH(int, kind);
        QFETCH(QByteArray, text);
        QFETCH(qint64, delay);
        const SLinePlan p = PlanLine(line);
        QCOMPARE(int(p.kind), kind);
        QCOMPARE(p.text, text);
        QCOMPARE(p.nDelayMs, delay);
    }

    void continuousDelay() {
        QCOMPARE(ContinuousDelay(-2000), 0);
        QCOMPARE(ContinuousDelay(0), 0);
        QCOMPARE(ContinuousDelay(3000), 3000);
        QCOMPARE(ContinuousDelay(qint64(1) << 50), INT_MAX);
    }
};

POSEMU_TEST_MAIN(TestOrderLine)
#include "test_order_line.moc"
