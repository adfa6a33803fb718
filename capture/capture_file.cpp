#include "capture/capture_file.h"

#include "capture/capture_list.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {
const QByteArray RULE(46, '=');
const QByteArray CRLF("\r\n");

QByteArray Banner(const char* title) {
    return RULE + CRLF + title + CRLF + RULE + CRLF + CRLF;
}
const char TX_TITLE[] = "== [Tx] Data transmitted to OCS:            ==";
const char RX_TITLE[] = "== [Rx] Data received from OCS:             ==";

// Goes through the file's bytes a piece at a time; `take` gets each piece and says whether to go on.
template <class F> bool FormatPieces(const CCaptureLines& tx, const CCaptureLines& rx, F take) {
    constexpr qsizetype PIECE = 1024 * 1024;
    QByteArray piece = Banner(TX_TITLE);
    piece.reserve(PIECE + 4096);
    const auto lines = [&](const CCaptureLines& list) {
        const qsizetype count = list.Count();
        for (qsizetype i = 0; i < count; ++i) {
            piece += list.Line(i);
            piece += CRLF;
            if (piece.size() >= PIECE) {
                if (!take(piece))
                    return false;
                piece.clear();
            }
        }
        return true;
    };
    if (!lines(tx))
        return false;
    piece += CRLF + CRLF + Banner(RX_TITLE);
    return lines(rx) && take(piece);
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
    if (!writeContent(file) || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return CAPTURE_WRITE_FAILED;
    }
    return CAPTURE_WRITTEN;
}
} // namespace

QByteArray FormatCaptureFile(const CCaptureLines& tx, const CCaptureLines& rx) {
    QByteArray out;
    FormatPieces(tx, rx, [&out](const QByteArray& piece) {
        out += piece;
        return true;
    });
    return out;
}

ECaptureWrite WriteCaptureFile(const QString& path, const CCaptureLines& tx, const CCaptureLines& rx,
                               QString* error) {
    return WriteWhole(path, error, [&](QSaveFile& file) {
        return FormatPieces(tx, rx,
                            [&file](const QByteArray& piece) { return file.write(piece) == piece.size(); });
    });
}

ECaptureWrite WriteCaptureFile(const QString& path, const QByteArray& content, QString* error) {
    return WriteWhole(path, error,
                      [&content](QSaveFile& file) { return file.write(content) == content.size(); });
}
