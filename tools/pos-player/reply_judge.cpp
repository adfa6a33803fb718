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

QByteArray JUnitReport(const CReplyJudge& judge, const QString& posName, double totalSeconds,
                       const QString& runError) {
    const auto seconds = [](double s) {
        return QString::number(s, 'f', 6);
    };
    const int failures = judge.Count(JUDGED_WRONG) + judge.Count(JUDGED_MISSING);
    const int errors = runError.isEmpty() ? 0 : 1;
    const QString tests = QString::number(judge.Judged().size() + errors);
    QByteArray xml;
    QXmlStreamWriter out(&xml);
    out.setAutoFormatting(true);
    out.writeStartDocument();
    out.writeStartElement(QStringLiteral("testsuites"));
    out.writeAttribute(QStringLiteral("tests"), tests);
    out.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    out.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    out.writeAttribute(QStringLiteral("time"), seconds(totalSeconds));
    out.writeStartElement(QStringLiteral("testsuite"));
    out.writeAttribute(QStringLiteral("name"), QStringLiteral("pos-player"));
    out.writeAttribute(QStringLiteral("tests"), tests);
    out.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    out.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    out.writeAttribute(QStringLiteral("time"), seconds(totalSeconds));
    for (const SJudgedLine& line : judge.Judged()) {
        out.writeStartElement(QStringLiteral("testcase"));
        out.writeAttribute(QStringLiteral("classname"), posName);
        out.writeAttribute(QStringLiteral("name"), QStringLiteral("pass %1 line %2: %3")
                                                       .arg(line.nPass)
                                                       .arg(line.nLine)
                                                       .arg(QString::fromLatin1(line.text.left(60))));
        const qint64 ns = line.result == JUDGED_ANSWERED ? line.nLatencyNs : judge.TimeoutNs();
        out.writeAttribute(QStringLiteral("time"), seconds(double(ns) / 1e9));
        if (line.result != JUDGED_ANSWERED) {
            out.writeStartElement(QStringLiteral("failure"));
            out.writeAttribute(QStringLiteral("message"), judge.FailureMessage(line));
            out.writeAttribute(QStringLiteral("type"), line.result == JUDGED_WRONG
                                                           ? QStringLiteral("wrong")
                                                           : QStringLiteral("missing"));
            out.writeEndElement();
        }
        out.writeEndElement();
    }
    if (errors) { // the run itself failed: a case of its own, as an error rather than a failure
        out.writeStartElement(QStringLiteral("testcase"));
        out.writeAttribute(QStringLiteral("classname"), posName);
        out.writeAttribute(QStringLiteral("name"), QStringLiteral("run"));
        out.writeAttribute(QStringLiteral("time"), seconds(totalSeconds));
        out.writeStartElement(QStringLiteral("error"));
        out.writeAttribute(QStringLiteral("message"), runError);
        out.writeAttribute(QStringLiteral("type"), QStringLiteral("run"));
        out.writeEndElement();
        out.writeEndElement();
    }
    out.writeEndElement();
    out.writeEndElement();
    out.writeEndDocument();
    return xml;
}
