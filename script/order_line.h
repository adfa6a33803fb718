#pragma once

#include <QByteArray>

// What playing one prepared script line means, apart from any window or transport.
enum ELineKind { LINE_DATA, LINE_PAUSE, LINE_COMMENT };

constexpr int ORDER_LINE_DELAY_MS = 500;  // after a data or comment line
constexpr int ORDER_FINISH_DELAY_MS = 10; // per line while an order is being finished
constexpr int ORDER_IDLE_DELAY_MS = 500;  // while stepping or while the line is down

struct SLinePlan {
    ELineKind kind = LINE_DATA;
    // The [Tx] text: the display form; for a pause without its marker and with " second(s)" after
    // it, for a comment without its marker.
    QByteArray text;
    // Milliseconds before the next line; a pause may ask for a negative delay.
    qint64 nDelayMs = ORDER_LINE_DELAY_MS;
};

SLinePlan PlanLine(const QByteArray& prepared);

// The [Tx] kind a planned line is listed under, given the kind of the link it goes out on
// (TXLINE_SERIAL, TXLINE_NETWORK, or TXLINE_PLAIN with no link); only those two kinds send bytes.
int TxLineKind(const SLinePlan& plan, int linkKind);

// The bytes a data line puts on the wire: ';' as 0x00 and, when the checksum is on, after each ETX
// the XOR of the bytes from the second one up to it (the ETX itself only when includeEtx).
QByteArray EncodeLineBytes(const QByteArray& prepared, bool checksum, bool includeEtx);

// The delay a continuous play waits: negative pauses as 0, huge ones held to what a timer takes.
int ContinuousDelay(qint64 delayMs);
