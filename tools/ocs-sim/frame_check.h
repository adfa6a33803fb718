#pragma once

#include <QByteArray>
#include <QStringList>

// What a frame's checksum bytes say: one verdict per ETX after the first byte, checking the XOR of the
// bytes from the second one up to the ETX both without and with the ETX itself.
QStringList CheckFrameChecksums(const QByteArray& frame);

// A frame as one line of output: the bytes in capture notation, then the verdicts.
QByteArray DescribeFrame(const QByteArray& frame);
