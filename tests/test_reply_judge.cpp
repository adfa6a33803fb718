#include "capture/capture_log.h"
#include "reply_judge.h"
#include "test_support.h"

#include <QXmlStreamReader>

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

class TestReplyJudge : public QObject {
    Q_OBJECT

private slots:
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

    // The report is well-formed XML that a JUnit reader takes: counts, names, times, failures.
    void junitReport() {
        CReplyJudge judge("\x06", 300 * MS);
        judge.LineSent(1, 2, "<02>" + QByteArray(80, 'x') + "<03>", 0);
        judge.BytesReceived("\x06", 25 * MS);
        judge.LineSent(1, 3, "<02>A&B \"<c>\"<03>", 500 * MS);
        judge.BytesReceived("\x15", 510 * MS);
        judge.LineSent(2, 2, "<02>Z<03>", 1000 * MS);
        judge.Expire(2000 * MS);
        const QByteArray xml = JUnitReport(judge, "PC-POS <3>", 2.5);

        QXmlStreamReader reader(xml);
        QStringList names, failures, times;
        QString suite, suiteTests, suiteFailures, classname;
        while (!reader.atEnd()) {
            if (reader.readNext() != QXmlStreamReader::StartElement)
                continue;
            const auto a = reader.attributes();
            if (reader.name() == QLatin1String("testsuite")) {
                suite = a.value("name").toString();
                suiteTests = a.value("tests").toString();
                suiteFailures = a.value("failures").toString();
                QCOMPARE(a.value("time").toDouble(), 2.5);
            } else if (reader.name() == QLatin1String("testcase")) {
                names << a.value("name").toString();
                times << a.value("time").toString();
                classname = a.value("classname").toString();
            } else if (reader.name() == QLatin1String("failure")) {
                failures << a.value("type").toString() + ": " + a.value("message").toString();
            }
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(suite, QStringLiteral("pos-player"));
        QCOMPARE(suiteTests, QStringLiteral("3"));
        QCOMPARE(suiteFailures, QStringLiteral("2"));
        QCOMPARE(classname, QStringLiteral("PC-POS <3>"));
        QCOMPARE(names, (QStringList{"pass 1 line 2: <02>" + QString(56, 'x'),
                                     "pass 1 line 3: <02>A&B \"<c>\"<03>", "pass 2 line 2: <02>Z<03>"}));
        QCOMPARE(times.value(0), QStringLiteral("0.025000"));
        QCOMPARE(failures,
                 (QStringList{"wrong: wrong reply within 300 ms: <15>", "missing: no reply within 300 ms"}));
    }
};

POSEMU_TEST_MAIN(TestReplyJudge)
#include "test_reply_judge.moc"
