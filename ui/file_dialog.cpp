#include "ui/file_dialog.h"

#include "ui/message_box.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {
SaveFileHandler& Handler() {
    static SaveFileHandler handler;
    return handler;
}
} // namespace

QString SavePathFor(const QString& chosen, const QString& defaultSuffix) {
    const QFileInfo info(chosen);
    if (chosen.isEmpty() || defaultSuffix.isEmpty() || info.exists() || info.isSymLink() ||
        !info.suffix().isEmpty())
        return chosen;
    // A file whose name differs only in the case of the extension ("cap.txt" for "cap.TXT") is the
    // one meant: it is replaced (after the question), not joined by a second file.
    const QString named = info.fileName() + QLatin1Char('.') + defaultSuffix;
    const QDir folder = info.absoluteDir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.compare(named, Qt::CaseInsensitive) == 0)
            return info.path() + QLatin1Char('/') + name;
    }
    return chosen + QLatin1Char('.') + defaultSuffix;
}

QString AskSaveFileName(const SSaveFileRequest& request) {
    const SaveFileHandler handler = Handler();
    if (handler)
        return handler(request);
    if (request.bChooseFolder)
        return QFileDialog::getExistingDirectory(request.pOwner, request.strTitle, request.strFolder);
    QFileDialog dialog(request.pOwner, request.strTitle, request.strFolder, request.strFilters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(request.strProposedName);
    // The extension is added here, not by the dialog: a path that exists is used as typed.
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        const QString chosen = dialog.selectedFiles().constFirst();
        const QString path = SavePathFor(chosen, request.strDefaultSuffix);
        if (path == chosen || !QFileInfo::exists(path))
            return path; // the dialog has asked about replacing what it was given
        const auto answer =
            ShowMessageBox(request.pOwner,
                           QStringLiteral("%1 already exists.\nDo you want to replace it?")
                               .arg(QDir::toNativeSeparators(path)),
                           request.strTitle, CMessageBox::Yes | CMessageBox::No, CMessageBox::Warning);
        if (answer == CMessageBox::Yes)
            return path;
        dialog.selectFile(QFileInfo(path).fileName());
    }
}

SaveFileHandler SetSaveFileHandler(SaveFileHandler handler) {
    SaveFileHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
