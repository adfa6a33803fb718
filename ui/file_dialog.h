#pragma once

#include <QString>
#include <functional>

class QWidget;

struct SSaveFileRequest {
    QWidget* pOwner = nullptr;
    QString strTitle;
    QString strFolder;
    QString strProposedName;
    QString strFilters;
    QString strDefaultSuffix;
};

using SaveFileHandler = std::function<QString(const SSaveFileRequest&)>;

// Asks for a file to write, with the overwrite question; empty when cancelled. The process's current
// folder stays as it is.
QString AskSaveFileName(const SSaveFileRequest& request);
// Replaces the dialog (tests); returns the previous handler. An empty handler restores the dialog.
SaveFileHandler SetSaveFileHandler(SaveFileHandler handler);
