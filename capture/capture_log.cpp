#include "capture/capture_log.h"

#include <cstring>

#include <algorithm>

namespace {
const char HEX_DIGITS[] = "0123456789ABCDEF";

void AppendEscape(QByteArray& out, unsigned char c) {
    out.append('<');
    out.append(HEX_DIGITS[c >> 4]);
    out.append(HEX_DIGITS[c & 0x0F]);
    out.append('>');
}

bool IsPrintable(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}
} // namespace

void EscapeControlBytes(QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() && IsPrintable(static_cast<unsigned char>(text[i])))
        ++i;
    if (i == text.size())
        return;
    QByteArray out = text.left(i);
    out.reserve(text.size() + 16);
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (IsPrintable(c))
            out.append(static_cast<char>(c));
        else
            AppendEscape(out, c);
    }
    text = out;
}

QByteArray ScriptLineDisplayForm(const QByteArray& line) {
    QByteArray out;
    out.reserve(line.size() + 16);
    for (const char ch : line) {
        const auto c = static_cast<unsigned char>(ch);
        if (!IsPrintable(c))
            AppendEscape(out, c);
        else if (c == ';')
            out.append("<00>");
        else
            out.append(ch);
    }
    return out;
}

QByteArray CaptureTimeField(const QDateTime& time, bool ms) {
    return time.toString(ms ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss")).toLatin1() +
           "    ";
}

QByteArray TxKeyword(int kind) {
    switch (kind) {
    case TXLINE_COMMENT:
        return QByteArrayLiteral("COMMENT:  ");
    case TXLINE_PAUSE:
        return QByteArrayLiteral("PAUSE:    ");
    case TXLINE_SERIAL:
        return QByteArrayLiteral("SERIAL    ");
    case TXLINE_NETWORK:
        return QByteArrayLiteral("NETWORK   ");
    default:
        return QByteArray();
    }
}

QByteArray RxKeyword(bool serial) {
    return serial ? QByteArrayLiteral("SERIAL:   ") : QByteArrayLiteral("NETWORK:  ");
}

QByteArray FormatTxLine(QByteArray text, int kind, const QDateTime& time) {
    EscapeControlBytes(text);
    return CaptureTimeField(time) + TxKeyword(kind) + text;
}

QByteArray FormatRxLine(QByteArray text, bool serial, const QDateTime& time) {
    EscapeControlBytes(text);
    return CaptureTimeField(time) + RxKeyword(serial) + text;
}

QByteArray CurrentTimeField(bool ms) {
    if (ms)
        return CaptureTimeField(QDateTime::currentDateTime(), true);
    // Formatting the local time costs more than the rest of a line; it changes once a second. Plain
    // bytes, not a QByteArray: MinGW frees a thread's thread_local storage before running the
    // destructors of what it holds, which corrupted the heap as a lane's thread ended.
    constexpr int FIELD_SIZE = 12;
    thread_local qint64 s_nSecond = -1;
    thread_local char s_field[FIELD_SIZE];
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != s_nSecond) {
        const QByteArray field = CaptureTimeField(QDateTime::fromSecsSinceEpoch(second));
        if (field.size() != FIELD_SIZE) // not a time of the usual form: nothing to keep
            return field;
        std::memcpy(s_field, field.constData(), FIELD_SIZE);
        s_nSecond = second;
    }
    return QByteArray(s_field, FIELD_SIZE);
}

QByteArray FormatTxLine(QByteArray text, int kind, bool ms) {
    EscapeControlBytes(text);
    return CurrentTimeField(ms) + TxKeyword(kind) + text;
}

QByteArray FormatRxLine(QByteArray text, bool serial, bool ms) {
    EscapeControlBytes(text);
    return CurrentTimeField(ms) + RxKeyword(serial) + text;
}

QByteArray ParseCaptureNotation(const QByteArray& text) {
    const auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '<' && i + 3 < text.size() && text[i + 3] == '>' && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            bytes.append(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 3;
        } else {
            bytes.append(text[i]);
        }
    }
    return bytes;
}
