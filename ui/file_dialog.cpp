#include "ui/file_dialog.h"

#include <QFileDialog>

namespace {
SaveFileHandler& Handler() {
    static SaveFileHandler handler;
    return handler;
}
} // namespace

QString AskSaveFileName(const SSaveFileRequest& request) {
    const SaveFileHandler handler = Handler();
    if (handler)
        return handler(request);
    QFileDialog dialog(request.pOwner, request.strTitle, request.strFolder, request.strFilters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.strDefaultSuffix);
    dialog.selectFile(request.strProposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

SaveFileHandler SetSaveFileHandler(SaveFileHandler handler) {
    SaveFileHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}
