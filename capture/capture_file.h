#pragma once

#include <QByteArray>
#include <QString>

class CCaptureLines;
class QIODevice;

// The capture file: a banner and the lines of each list, every line ending in CR LF.
QByteArray FormatCaptureFile(const CCaptureLines& tx, const CCaptureLines& rx);

// The most of one line that is read back from a journal left behind; the rest of a longer line is left
// out and the line marked as cut.
constexpr qint64 CAPTURE_JOURNAL_LINE_MAX = 1024 * 1024;

enum ECaptureWrite { CAPTURE_WRITTEN, CAPTURE_CANNOT_OPEN, CAPTURE_WRITE_FAILED };

// Writes the file whole or not at all: a failed write leaves any earlier file of that name as it was.
// Where the folder takes no new file, an existing file is rewritten in place. A path that exists
// and is not a regular file (a FIFO, a device) is refused with CAPTURE_CANNOT_OPEN.
ECaptureWrite WriteCaptureFile(const QString& path, const QByteArray& content, QString* error = nullptr);
// The same for the capture file of the two lists (FormatCaptureFile's bytes), streamed from where the
// lines are kept: a list of any length costs a little memory only. A line that cannot be read back
// whole fails the write (CAPTURE_WRITE_FAILED, the reason naming the journal).
ECaptureWrite WriteCaptureFile(const QString& path, const CCaptureLines& tx, const CCaptureLines& rx,
                               QString* error = nullptr);
// The same from the journals a program left behind, read from where they stand to their last whole
// line; a journal that is not open holds no lines.
ECaptureWrite WriteCaptureFile(const QString& path, QIODevice& txJournal, QIODevice& rxJournal,
                               QString* error = nullptr);
