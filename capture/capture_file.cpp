#include "capture/capture_file.h"

#include "capture/capture_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <functional>

namespace {
const QByteArray RULE(46, '=');
const QByteArray CRLF("\r\n");

QByteArray Banner(const char* title) {
    return RULE + CRLF + title + CRLF + RULE + CRLF + CRLF;
}
const char TX_TITLE[] = "== [Tx] Data transmitted to OCS:            ==";
const char RX_TITLE[] = "== [Rx] Data received from OCS:             ==";

// Hands each line of a list to `take`, which says whether to go on; false when a line could not be
// read (why says) or take said stop.
using LineTaker = std::function<bool(QByteArrayView)>;
using LineSource = std::function<bool(const LineTaker& take, QString* why)>;

LineSource LinesOf(const CCaptureLines& list) {
    return [&list](const LineTaker& take, QString* why) {
        const qsizetype count = list.Count();
        QByteArray line;
        for (qsizetype i = 0; i < count; ++i) {
            if (!list.ReadLine(i, &line, why) || !take(line))
                return false;
        }
        return true;
    };
}

// The whole lines of a journal left behind, read straight from the file: a line is what ends in a
// line feed, and a last line without one was never written whole. At most one line is held, and no
// more of it than CAPTURE_JOURNAL_LINE_MAX bytes: the rest of a longer one is left out and said.
LineSource LinesOf(QIODevice& journal, const QString& name) {
    return [&journal, name](const LineTaker& take, QString* why) {
        if (!journal.isOpen())
            return true; // never made: no lines
        QByteArray chunk(1024 * 1024, Qt::Uninitialized);
        QByteArray partial;
        qint64 partialBytes = 0; // of the line under way, also those left out
        const auto keep = [&](const char* from, const char* to) {
            partial.append(from, std::min<qint64>(to - from, CAPTURE_JOURNAL_LINE_MAX - partial.size()));
            partialBytes += to - from;
        };
        const auto takePartial = [&]() {
            if (partialBytes > partial.size())
                partial += QByteArrayLiteral(" [line cut: ") + QByteArray::number(partialBytes) +
                           QByteArrayLiteral(" bytes in all]");
            const bool going = take(partial);
            partial.clear();
            partialBytes = 0;
            return going;
        };
        for (;;) {
            const qint64 n = journal.read(chunk.data(), chunk.size());
            if (n < 0) {
                if (why)
                    *why =
                        QStringLiteral("the journal %1 cannot be read: %2").arg(name, journal.errorString());
                return false;
            }
            if (n == 0)
                return true;
            const char* at = chunk.constData();
            const char* const end = at + n;
            for (const char* feed; (feed = std::find(at, end, '\n')) != end; at = feed + 1) {
                bool going;
                if (partialBytes == 0 && feed - at <= CAPTURE_JOURNAL_LINE_MAX) {
                    going = take(QByteArrayView(at, feed - at));
                } else {
                    keep(at, feed);
                    going = takePartial();
                }
                if (!going)
                    return false;
            }
            keep(at, end);
        }
    };
}

// Goes through the file's bytes a piece at a time; `take` gets each piece and says whether to go on.
template <class F> bool FormatPieces(const LineSource& tx, const LineSource& rx, QString* why, F take) {
    constexpr qsizetype PIECE = 1024 * 1024;
    QByteArray piece = Banner(TX_TITLE);
    piece.reserve(PIECE + 4096);
    bool taken = true;
    const LineTaker line = [&](QByteArrayView text) {
        piece += text;
        piece += CRLF;
        if (piece.size() >= PIECE) {
            taken = take(piece);
            piece.clear();
        }
        return taken;
    };
    if (!tx(line, why))
        return false;
    piece += CRLF + CRLF + Banner(RX_TITLE);
    return rx(line, why) && take(piece);
}

// A FIFO or a device is never replaced by a regular file, nor written: a FIFO without a reader
// would hold the caller up, and a capture has no business on a device.
bool RefuseTarget(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (!path.isEmpty() && !(info.exists() && !info.isFile()))
        return false;
    if (error)
        *error = path.isEmpty() ? QStringLiteral("No file name given") : QStringLiteral("Not a regular file");
    return true;
}

// Writes on after a short write, so that a disk that fills up fails the next write with its reason.
bool WriteAll(QIODevice& file, const QByteArray& bytes) {
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

template <class F> ECaptureWrite WriteWhole(const QString& path, QString* error, F writeContent) {
    if (RefuseTarget(path, error))
        return CAPTURE_CANNOT_OPEN;
    QSaveFile file(path);
    // A folder that takes no new file can still hold a file that may be rewritten.
    file.setDirectWriteFallback(true);
    // Unbuffered, so that a write the disk refuses fails here with the system's reason: a buffer
    // flushed only when the file closes loses its failure, and the file is committed cut short.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return CAPTURE_CANNOT_OPEN;
    }
    QString why;
    if (!writeContent(file, &why) || !file.commit()) {
        if (error)
            *error = why.isEmpty() ? file.errorString() : why;
        file.cancelWriting();
        return CAPTURE_WRITE_FAILED;
    }
    return CAPTURE_WRITTEN;
}

ECaptureWrite WriteStreamed(const QString& path, const LineSource& tx, const LineSource& rx, QString* error) {
    return WriteWhole(path, error, [&](QSaveFile& file, QString* why) {
        return FormatPieces(tx, rx, why, [&file](const QByteArray& piece) { return WriteAll(file, piece); });
    });
}
} // namespace

QByteArray FormatCaptureFile(const CCaptureLines& tx, const CCaptureLines& rx) {
    QByteArray out;
    FormatPieces(LinesOf(tx), LinesOf(rx), nullptr, [&out](const QByteArray& piece) {
        out += piece;
        return true;
    });
    return out;
}

ECaptureWrite WriteCaptureFile(const QString& path, const CCaptureLines& tx, const CCaptureLines& rx,
                               QString* error) {
    return WriteStreamed(path, LinesOf(tx), LinesOf(rx), error);
}

ECaptureWrite WriteCaptureFile(const QString& path, QIODevice& txJournal, QIODevice& rxJournal,
                               QString* error) {
    const auto name = [](QIODevice& device) {
        auto* file = qobject_cast<QFile*>(&device);
        return file ? QDir::toNativeSeparators(file->fileName()) : QStringLiteral("(journal)");
    };
    return WriteStreamed(path, LinesOf(txJournal, name(txJournal)), LinesOf(rxJournal, name(rxJournal)),
                         error);
}

ECaptureWrite WriteCaptureFile(const QString& path, const QByteArray& content, QString* error) {
    return WriteWhole(path, error, [&content](QSaveFile& file, QString*) { return WriteAll(file, content); });
}
