#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

enum EJudgement { JUDGED_ANSWERED, JUDGED_WRONG, JUDGED_MISSING };

struct SJudgedLine {
    int nPass = 0;      // 1 for the first pass
    int nLine = 0;      // 1 for the script's first line
    QByteArray text;    // the line in the capture notation
    qint64 nSentNs = 0; // its last byte put on the wire
    QByteArray other;   // bytes received for it that were no part of the expected reply
    EJudgement result = JUDGED_MISSING;
    qint64 nLatencyNs = 0; // answered: from its last byte sent to the reply's last byte received
};

// Judges the OCS's replies to the data lines. Every occurrence of the expected reply in the bytes
// received goes to the oldest line still waiting; the other bytes received while a line waits are
// that line's. A line whose time runs out is wrong when such bytes came for it, else missing. Times
// are on any one monotonic clock, in nanoseconds.
class CReplyJudge {
public:
    CReplyJudge(QByteArray expected, qint64 timeoutNs, std::function<void(const SJudgedLine&)> onJudged = {});

    void LineSent(int pass, int line, const QByteArray& text, qint64 sentNs);
    void BytesReceived(const QByteArray& bytes, qint64 atNs);
    // Judges the lines whose time ran out before `nowNs`.
    void Expire(qint64 nowNs);

    bool HasWaiting() const { return !m_waiting.empty(); }
    int WaitingCount() const { return static_cast<int>(m_waiting.size()); }
    qint64 NextDeadlineNs() const; // -1 when no line waits
    qint64 TimeoutNs() const { return m_nTimeoutNs; }
    const std::vector<SJudgedLine>& Judged() const { return m_judged; }
    int Count(EJudgement result) const;
    // "judged 24 lines: 22 answered, 1 wrong, 1 missing; reply latency ms: min 0.8, ..."
    QByteArray Summary(int notJudged) const;
    // What a failed line's report says.
    QString FailureMessage(const SJudgedLine& line) const;

private:
    void Judge(EJudgement result, qint64 atNs);

    const QByteArray m_expected;
    const qint64 m_nTimeoutNs;
    std::function<void(const SJudgedLine&)> m_onJudged;
    std::vector<SJudgedLine> m_waiting; // oldest first
    std::vector<SJudgedLine> m_judged;
    QByteArray m_pending; // received bytes that may still grow into the expected reply
};

// One testsuite of a JUnit report: a testcase per judged line with a failure element for a wrong or
// missing one, and a case "run" with an error element when the run itself failed.
struct SJUnitSuite {
    QString strName; // "pos-player", or a lane's name
    QString strPos;  // the cases' class name
    QList<std::pair<QString, QString>> properties;
    const CReplyJudge* pJudge = nullptr; // null: nothing was judged
    double nSeconds = 0;
    QString strRunError;
};
// A JUnit XML report as CI servers read it, one testsuite each.
QByteArray JUnitReport(const std::vector<SJUnitSuite>& suites);
// A report of one suite "pos-player".
QByteArray JUnitReport(const CReplyJudge& judge, const QString& posName, double totalSeconds,
                       const QString& runError = QString());
