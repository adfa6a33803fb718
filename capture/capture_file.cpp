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
// line feed, and a last line without one was never written whole.
LineSource LinesOf(QIODevice& journal, const QString& name) {
    return [&journal, name](const LineTaker& take, QString* why) {
        if (!journal.isOpen())
            return true; // never made: no lines
        QByteArray chunk(1024 * 1024, Qt::Uninitialized);
        QByteArray partial;
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
                if (partial.isEmpty()) {
                    going = take(QByteArrayView(at, feed - at));
                } else {
                    partial.append(at, feed - at);
                    going = take(partial);
                    partial.clear();
                }
                if (!going)
                    return false;
            }
            partial.append(at, end - at);
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

template <class F> ECaptureWrite WriteWhole(const QString& path, QString* error, F writeContent) {
    if (RefuseTarget(path, error))
        return CAPTURE_CANNOT_OPEN;
    QSaveFile file(path);
    // A folder that takes no new file can still hold a file that may be rewritten.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
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
        return FormatPieces(tx, rx, why,
                            [&file](const QByteArray& piece) { return file.write(piece) == piece.size(); });
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
    return WriteWhole(
        path, error, [&content](QSaveFile& file, QString*) { return file.write(content) == content.size(); });
}
