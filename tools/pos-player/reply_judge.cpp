#include "reply_judge.h"

#include "capture/capture_log.h"

#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

CReplyJudge::CReplyJudge(QByteArray expected, qint64 timeoutNs,
                         std::function<void(const SJudgedLine&)> onJudged)
    : m_expected(std::move(expected)), m_nTimeoutNs(timeoutNs), m_onJudged(std::move(onJudged)) {}

void CReplyJudge::LineSent(int pass, int line, const QByteArray& text, qint64 sentNs) {
    Expire(sentNs);
    SJudgedLine waiting;
    waiting.nPass = pass;
    waiting.nLine = line;
    waiting.text = text;
    waiting.nSentNs = sentNs;
    m_waiting.push_back(waiting);
}

qint64 CReplyJudge::NextDeadlineNs() const {
    return m_waiting.empty() ? -1 : m_waiting.front().nSentNs + m_nTimeoutNs;
}

void CReplyJudge::Judge(EJudgement result, qint64 atNs) {
    SJudgedLine line = m_waiting.front();
    m_waiting.erase(m_waiting.begin());
    line.result = result;
    if (result == JUDGED_ANSWERED)
        line.nLatencyNs = atNs - line.nSentNs;
    m_judged.push_back(line);
    if (m_onJudged)
        m_onJudged(line);
}

void CReplyJudge::Expire(qint64 nowNs) {
    while (!m_waiting.empty() && NextDeadlineNs() < nowNs) {
        // A beginning of the reply that never grew whole came for this line too.
        m_waiting.front().other += m_pending;
        m_pending.clear();
        Judge(m_waiting.front().other.isEmpty() ? JUDGED_MISSING : JUDGED_WRONG, nowNs);
    }
}

void CReplyJudge::BytesReceived(const QByteArray& bytes, qint64 atNs) {
    Expire(atNs);
    m_pending += bytes;
    for (;;) {
        const qsizetype found = m_expected.isEmpty() ? -1 : m_pending.indexOf(m_expected);
        qsizetype keep = 0; // a tail that may be the start of the next reply
        if (found < 0) {
            for (qsizetype k = std::min(m_pending.size(), m_expected.size() - 1); k > 0; --k) {
                if (m_pending.endsWith(m_expected.left(k))) {
                    keep = k;
                    break;
                }
            }
        }
        const qsizetype otherEnd = found >= 0 ? found : m_pending.size() - keep;
        if (otherEnd > 0 && !m_waiting.empty())
            m_waiting.front().other += m_pending.left(otherEnd);
        if (found < 0) {
            m_pending = m_pending.right(keep);
            return;
        }
        m_pending.remove(0, found + m_expected.size());
        if (!m_waiting.empty())
            Judge(JUDGED_ANSWERED, atNs);
    }
}

int CReplyJudge::Count(EJudgement result) const {
    return static_cast<int>(
        std::count_if(m_judged.begin(), m_judged.end(),
                      [result](const SJudgedLine& line) { return line.result == result; }));
}

QByteArray CReplyJudge::Summary(int notJudged) const {
    QByteArray text = "judged " + QByteArray::number(qulonglong(m_judged.size())) +
                      " lines: " + QByteArray::number(Count(JUDGED_ANSWERED)) + " answered, " +
                      QByteArray::number(Count(JUDGED_WRONG)) + " wrong, " +
                      QByteArray::number(Count(JUDGED_MISSING)) + " missing";
    if (notJudged > 0)
        text += ", " + QByteArray::number(notJudged) + " not judged";
    std::vector<double> ms;
    for (const SJudgedLine& line : m_judged) {
        if (line.result == JUDGED_ANSWERED)
            ms.push_back(double(line.nLatencyNs) / 1e6);
    }
    if (ms.empty())
        return text + "; reply latency ms: none";
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    const double p99 = ms[size_t(std::ceil(0.99 * double(n))) - 1]; // nearest rank
    const auto fixed = [](double v) {
        return QByteArray::number(v, 'f', 1);
    };
    return text + "; reply latency ms: min " + fixed(ms.front()) + ", median " + fixed(median) + ", p99 " +
           fixed(p99) + ", max " + fixed(ms.back());
}

QString CReplyJudge::FailureMessage(const SJudgedLine& line) const {
    const QString waited = QString::number(m_nTimeoutNs / 1'000'000);
    if (line.result == JUDGED_MISSING)
        return QStringLiteral("no reply within %1 ms").arg(waited);
    QByteArray shown = line.other;
    EscapeControlBytes(shown);
    return QStringLiteral("wrong reply within %1 ms: %2").arg(waited, QString::fromLatin1(shown));
}

namespace {
QString Seconds(double s) {
    return QString::number(s, 'f', 6);
}

int SuiteFailures(const SJUnitSuite& suite) {
    return suite.pJudge ? suite.pJudge->Count(JUDGED_WRONG) + suite.pJudge->Count(JUDGED_MISSING) : 0;
}
int SuiteTests(const SJUnitSuite& suite) {
    return (suite.pJudge ? int(suite.pJudge->Judged().size()) : 0) + (suite.strRunError.isEmpty() ? 0 : 1);
}

// The counts a testsuites or testsuite element carries.
void WriteCounts(QXmlStreamWriter& out, int tests, int failures, int errors, double seconds) {
    out.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    out.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    out.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    out.writeAttribute(QStringLiteral("time"), Seconds(seconds));
}

void WriteCase(QXmlStreamWriter& out, const QString& classname, const QString& name, double seconds,
               const char* problem, const QString& message, const QString& type) {
    out.writeStartElement(QStringLiteral("testcase"));
    out.writeAttribute(QStringLiteral("classname"), classname);
    out.writeAttribute(QStringLiteral("name"), name);
    out.writeAttribute(QStringLiteral("time"), Seconds(seconds));
    if (problem) {
        out.writeStartElement(QLatin1String(problem));
        out.writeAttribute(QStringLiteral("message"), message);
        out.writeAttribute(QStringLiteral("type"), type);
        out.writeEndElement();
    }
    out.writeEndElement();
}

void WriteSuite(QXmlStreamWriter& out, const SJUnitSuite& suite) {
    out.writeStartElement(QStringLiteral("testsuite"));
    out.writeAttribute(QStringLiteral("name"), suite.strName);
    WriteCounts(out, SuiteTests(suite), SuiteFailures(suite), suite.strRunError.isEmpty() ? 0 : 1,
                suite.nSeconds);
    if (!suite.properties.isEmpty()) {
        out.writeStartElement(QStringLiteral("properties"));
        for (const auto& [name, value] : suite.properties) {
            out.writeStartElement(QStringLiteral("property"));
            out.writeAttribute(QStringLiteral("name"), name);
            out.writeAttribute(QStringLiteral("value"), value);
            out.writeEndElement();
        }
        out.writeEndElement();
    }
    if (suite.pJudge) {
        const CReplyJudge& judge = *suite.pJudge;
        for (const SJudgedLine& line : judge.Judged()) {
            const bool answered = line.result == JUDGED_ANSWERED;
            const QString name = QStringLiteral("pass %1 line %2: %3")
                                     .arg(line.nPass)
                                     .arg(line.nLine)
                                     .arg(QString::fromLatin1(line.text.left(60)));
            // An answered case takes as long as its reply did; another, as long as it waited.
            const qint64 ns = answered ? line.nLatencyNs : judge.TimeoutNs();
            WriteCase(out, suite.strPos, name, double(ns) / 1e9, answered ? nullptr : "failure",
                      answered ? QString() : judge.FailureMessage(line),
                      line.result == JUDGED_WRONG ? QStringLiteral("wrong") : QStringLiteral("missing"));
        }
    }
    if (!suite.strRunError.isEmpty()) // the run itself failed: an error rather than a failure
        WriteCase(out, suite.strPos, QStringLiteral("run"), suite.nSeconds, "error", suite.strRunError,
                  QStringLiteral("run"));
    out.writeEndElement();
}
} // namespace

QByteArray JUnitReport(const std::vector<SJUnitSuite>& suites) {
    int tests = 0, failures = 0, errors = 0;
    double seconds = 0;
    for (const SJUnitSuite& suite : suites) {
        tests += SuiteTests(suite);
        failures += SuiteFailures(suite);
        errors += suite.strRunError.isEmpty() ? 0 : 1;
        seconds = std::max(seconds, suite.nSeconds); // the lanes play at once
    }
    QByteArray xml;
    QXmlStreamWriter out(&xml);
    out.setAutoFormatting(true);
    out.writeStartDocument();
    out.writeStartElement(QStringLiteral("testsuites"));
    WriteCounts(out, tests, failures, errors, seconds);
    for (const SJUnitSuite& suite : suites)
        WriteSuite(out, suite);
    out.writeEndElement();
    out.writeEndDocument();
    return xml;
}

QByteArray JUnitReport(const CReplyJudge& judge, const QString& posName, double totalSeconds,
                       const QString& runError) {
    SJUnitSuite suite;
    suite.strName = QStringLiteral("pos-player");
    suite.strPos = posName;
    suite.pJudge = &judge;
    suite.nSeconds = totalSeconds;
    suite.strRunError = runError;
    return JUnitReport(std::vector<SJUnitSuite>{suite});
}
