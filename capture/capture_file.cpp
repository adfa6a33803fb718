#include "capture/capture_file.h"

#include "capture/capture_list.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {
const QByteArray RULE(46, '=');
const QByteArray CRLF("\r\n");

void AppendLines(QByteArray& out, const CCaptureLines& lines) {
    const qsizetype count = lines.Count();
    for (qsizetype i = 0; i < count; ++i)
        out += lines.Line(i) + CRLF;
}
} // namespace

QByteArray FormatCaptureFile(const CCaptureLines& tx, const CCaptureLines& rx) {
    QByteArray out;
    out += RULE + CRLF;
    out += "== [Tx] Data transmitted to OCS:            ==" + CRLF;
    out += RULE + CRLF + CRLF;
    AppendLines(out, tx);
    out += CRLF + CRLF;
    out += RULE + CRLF;
    out += "== [Rx] Data received from OCS:             ==" + CRLF;
    out += RULE + CRLF + CRLF;
    AppendLines(out, rx);
    return out;
}

ECaptureWrite WriteCaptureFile(const QString& path, const QByteArray& content, QString* error) {
    // A FIFO or a device is never replaced by a regular file, nor written: a FIFO without a reader
    // would hold the caller up, and a capture has no business on a device.
    const QFileInfo info(path);
    if (path.isEmpty() || (info.exists() && !info.isFile())) {
        if (error)
            *error =
                path.isEmpty() ? QStringLiteral("No file name given") : QStringLiteral("Not a regular file");
        return CAPTURE_CANNOT_OPEN;
    }
    QSaveFile file(path);
    // A folder that takes no new file can still hold a file that may be rewritten.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return CAPTURE_CANNOT_OPEN;
    }
    if (file.write(content) != content.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return CAPTURE_WRITE_FAILED;
    }
    return CAPTURE_WRITTEN;
}
