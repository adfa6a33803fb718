#pragma once

#include <QByteArray>
#include <QDateTime>

// Kinds of [Tx] lines.
enum { TXLINE_PLAIN = 0, TXLINE_COMMENT = 1, TXLINE_PAUSE = 2, TXLINE_SERIAL = 3, TXLINE_NETWORK = 4 };

// Rewrites every byte outside 0x20..0x7E as "<%02X>".
void EscapeControlBytes(QByteArray& text);

// The bytes a text in the capture notation stands for: "<HH>" (two hex digits, either case) is that
// byte, every other character itself. The inverse of EscapeControlBytes.
QByteArray ParseCaptureNotation(const QByteArray& text);

// A prepared script line as the [Tx] list shows it: like EscapeControlBytes, and ';' (the NUL
// placeholder) as "<00>".
QByteArray ScriptLineDisplayForm(const QByteArray& line);

// "%H:%M:%S    ": 12 characters; with ms, "%H:%M:%S.mmm    " (pos-player --timestamps ms).
QByteArray CaptureTimeField(const QDateTime& time, bool ms = false);

// The 10-character keyword of a [Tx] kind; empty for plain and unknown kinds.
QByteArray TxKeyword(int kind);
// "SERIAL:   " or "NETWORK:  ".
QByteArray RxKeyword(bool serial);

// A whole capture line: time, keyword, escaped text.
QByteArray FormatTxLine(QByteArray text, int kind, const QDateTime& time);
QByteArray FormatRxLine(QByteArray text, bool serial, const QDateTime& time);
// The same, at the current local time.
QByteArray CurrentTimeField(bool ms = false);
QByteArray FormatTxLine(QByteArray text, int kind, bool ms = false);
QByteArray FormatRxLine(QByteArray text, bool serial, bool ms = false);
