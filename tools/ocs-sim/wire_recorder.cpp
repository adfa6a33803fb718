#include "wire_recorder.h"

#include "script/order_line.h"
#include "script/order_script.h"

#include <cmath>

namespace {

constexpr char ETX = 0x03;

struct SFrame {
    QByteArray bytes; // as received
    QByteArray line;  // what the script line holds: without the checksum bytes the player adds
    size_t nBurst = 0;
};

// Splits a burst into frames under a checksum rule; false when some ETX lacks its checksum byte.
bool SplitBurst(const QByteArray& burst, ERecordedChecksum rule, size_t index, std::vector<SFrame>& frames) {
    qsizetype start = 0;
    unsigned char sum = 0;
    for (qsizetype i = 0; i < burst.size(); ++i) {
        const auto c = static_cast<unsigned char>(burst[i]);
        const bool first = i == start;
        if (c != ETX || first) {
            if (!first)
                sum ^= c;
            if (c != ETX)
                continue;
        }
        // The frame ends here: at an ETX, with its checksum byte when the recording carries them. An
        // ETX that starts a frame takes none, as the player sends none after a line's first byte.
        SFrame frame;
        frame.nBurst = index;
        frame.line = burst.mid(start, i - start + 1);
        frame.bytes = frame.line;
        if (rule != RECORDED_NO_CHECKSUM && !first) {
            const unsigned char expected = rule == RECORDED_CHECKSUM_WITH_ETX ? sum ^ ETX : sum;
            if (i + 1 >= burst.size() || static_cast<unsigned char>(burst[i + 1]) != expected)
                return false;
            frame.bytes += burst[++i];
        }
        frames.push_back(frame);
        start = i + 1;
        sum = 0;
    }
    if (start < burst.size()) { // the rest, ended by the gap
        SFrame frame;
        frame.nBurst = index;
        frame.line = frame.bytes = burst.mid(start);
        frames.push_back(frame);
    }
    return true;
}

} // namespace

QByteArray ScriptNotation(const QByteArray& bytes) {
    QByteArray text;
    text.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        // The first byte is a token, for a script line begins with '<' (any other line is a remark).
        if (c >= 0x20 && c <= 0x7E && c != '<' && c != ';' && !text.isEmpty())
            text.append(byte);
        else
            text += QStringLiteral("<%1>").arg(c, 2, 16, QLatin1Char('0')).toUpper().toLatin1();
    }
    return text;
}

void CWireRecorder::Received(const QByteArray& source, qint64 atMs, const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    for (auto it = m_bursts.rbegin(); it != m_bursts.rend(); ++it) {
        if (it->source != source)
            continue;
        if (atMs - it->nEndMs < RECORD_FRAME_GAP_MS) {
            it->bytes += bytes;
            it->nEndMs = atMs;
            return;
        }
        break;
    }
    m_bursts.push_back(SBurst{source, atMs, atMs, bytes});
}

QList<QByteArray> CWireRecorder::Sources() const {
    QList<QByteArray> sources;
    for (const SBurst& burst : m_bursts) {
        if (!sources.contains(burst.source))
            sources << burst.source;
    }
    return sources;
}

SRecording CWireRecorder::Finish(const QList<QByteArray>& remarks,
                                 const std::function<QByteArray(ERecordedChecksum)>& closingRemark) const {
    SRecording recording;
    std::vector<SFrame> frames;
    bool anyEtx = false;
    for (const SBurst& burst : m_bursts)
        anyEtx = anyEtx || burst.bytes.indexOf(ETX, 1) > 0;
    // Checksums are taken out only when every ETX of the recording carries the right one.
    for (ERecordedChecksum rule :
         {RECORDED_CHECKSUM_WITHOUT_ETX, RECORDED_CHECKSUM_WITH_ETX, RECORDED_NO_CHECKSUM}) {
        if (rule != RECORDED_NO_CHECKSUM && !anyEtx)
            continue;
        frames.clear();
        bool fits = true;
        for (size_t b = 0; fits && b < m_bursts.size(); ++b)
            fits = SplitBurst(m_bursts[b].bytes, rule, b, frames);
        if (fits) {
            recording.checksum = rule;
            break;
        }
    }

    QByteArray& text = recording.text;
    QList<QByteArray> allRemarks = remarks;
    if (closingRemark)
        allRemarks << closingRemark(recording.checksum);
    for (const QByteArray& remark : allRemarks)
        text += remark + "\n";
    int lineNumber = int(allRemarks.size());
    const bool checksum = recording.checksum != RECORDED_NO_CHECKSUM;
    const bool withEtx = recording.checksum == RECORDED_CHECKSUM_WITH_ETX;
    for (size_t f = 0; f < frames.size(); ++f) {
        const SFrame& frame = frames[f];
        // A gap between bursts beyond the 500 ms that follow every line becomes a pause.
        if (f > 0 && frame.nBurst != frames[f - 1].nBurst) {
            const qint64 gap = m_bursts[frame.nBurst].nStartMs - m_bursts[frames[f - 1].nBurst].nEndMs;
            const qint64 beyond = gap - ORDER_LINE_DELAY_MS;
            if (beyond >= 750) {
                text += "<p>" + QByteArray::number(qint64(std::llround(double(beyond) / 1000.0))) + "\n";
                ++lineNumber;
            }
        }
        const QByteArray line = ScriptNotation(frame.line);
        text += line + "\n";
        ++lineNumber;
        ++recording.nFrames;
        const QByteArray prepared = PrepareScriptLine(line);
        if (PlanLine(prepared).kind == LINE_DATA &&
            EncodeLineBytes(prepared, checksum, withEtx) == frame.bytes)
            continue;
        recording.warnings << (frame.line.contains(';')
                                   ? QStringLiteral(
                                         "line %1: the byte 0x3B (;) is played as 0x00, the script "
                                         "format reads it as NUL")
                                         .arg(lineNumber)
                                   : QStringLiteral("line %1: the script format reads these bytes back as "
                                                    "others; the line does not play as received")
                                         .arg(lineNumber));
    }
    return recording;
}
