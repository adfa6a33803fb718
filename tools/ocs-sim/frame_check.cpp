#include "frame_check.h"

#include "capture/capture_log.h"

namespace {
QString Hex(unsigned char c) {
    return QStringLiteral("%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
}
} // namespace

QStringList CheckFrameChecksums(const QByteArray& frame) {
    QStringList verdicts;
    unsigned char withoutEtx = 0;
    unsigned char withEtx = 0;
    for (qsizetype i = 1; i < frame.size(); ++i) {
        const auto c = static_cast<unsigned char>(frame[i]);
        if (c != 0x03) {
            withoutEtx ^= c;
            withEtx ^= c;
            continue;
        }
        withEtx ^= 0x03;
        if (i + 1 >= frame.size()) {
            verdicts << QStringLiteral("no checksum after ETX");
            continue;
        }
        const auto sum = static_cast<unsigned char>(frame[i + 1]);
        if (sum == withoutEtx) {
            verdicts << QStringLiteral("checksum %1 ok (ETX excluded)").arg(Hex(sum));
            ++i;
        } else if (sum == withEtx) {
            verdicts << QStringLiteral("checksum %1 ok (ETX included)").arg(Hex(sum));
            ++i;
        } else {
            verdicts << QStringLiteral("checksum %1 WRONG (expected %2 without ETX or %3 with ETX)")
                            .arg(Hex(sum), Hex(withoutEtx), Hex(withEtx));
        }
    }
    return verdicts;
}

QByteArray DescribeFrame(const QByteArray& frame) {
    QByteArray text = frame;
    EscapeControlBytes(text);
    const QStringList verdicts = CheckFrameChecksums(frame);
    if (!verdicts.isEmpty())
        text += "  [" + verdicts.join(QStringLiteral("; ")).toLatin1() + "]";
    return text;
}
