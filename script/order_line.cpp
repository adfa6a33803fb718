#include "script/order_line.h"

#include "capture/capture_log.h"

#include <climits>

namespace {
// The integer at the start of the text: blanks skipped, optional sign, digits up to the first other
// character; saturating instead of overflowing.
qint64 LeadingInteger(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    constexpr qint64 cap = qint64(1) << 40; // far beyond any delay a timer takes, far from overflow
    qint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(cap, value * 10 + (text[i] - '0'));
    return negative ? -value : value;
}
} // namespace

SLinePlan PlanLine(const QByteArray& prepared) {
    SLinePlan plan;
    const QByteArray display = ScriptLineDisplayForm(prepared);
    if (display.startsWith("<p>")) {
        plan.kind = LINE_PAUSE;
        plan.text = display.mid(3);
        plan.nDelayMs = LeadingInteger(plan.text) * 1000;
        plan.text += " second(s)";
    } else if (display.startsWith("<c>")) {
        plan.kind = LINE_COMMENT;
        plan.text = display.mid(3);
    } else {
        plan.text = display;
    }
    return plan;
}

int TxLineKind(const SLinePlan& plan, int linkKind) {
    if (plan.kind == LINE_PAUSE)
        return TXLINE_PAUSE;
    if (plan.kind == LINE_COMMENT)
        return TXLINE_COMMENT;
    return linkKind;
}

QByteArray EncodeLineBytes(const QByteArray& prepared, bool checksum, bool includeEtx) {
    QByteArray out;
    out.reserve(prepared.size() + 4);
    auto wire = [](char c) {
        return c == ';' ? '\0' : c;
    };
    if (!checksum) {
        for (char c : prepared)
            out.append(wire(c));
        return out;
    }
    unsigned char sum = 0;
    for (qsizetype i = 0; i < prepared.size(); ++i) {
        const char c = wire(prepared[i]);
        out.append(c);
        if (i == 0)
            continue;
        if (c == 0x03) {
            if (includeEtx)
                sum ^= 0x03;
            out.append(static_cast<char>(sum));
        } else {
            sum ^= static_cast<unsigned char>(c);
        }
    }
    return out;
}

int ContinuousDelay(qint64 delayMs) {
    if (delayMs < 0)
        return 0;
    return delayMs > INT_MAX ? INT_MAX : static_cast<int>(delayMs);
}
