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
    bool bChooseFolder = false; // an existing folder is asked for, not a file
};

using SaveFileHandler = std::function<QString(const SSaveFileRequest&)>;

// The path to write for a name chosen in the save dialog: a path that exists is used as it stands (a
// device or a FIFO then meets the writer's refusal); a new name without an extension gets the
// default one.
QString SavePathFor(const QString& chosen, const QString& defaultSuffix);
// Asks for a file to write, with the overwrite question (or for a folder, see bChooseFolder); empty
// when cancelled. The process's current folder stays as it is.
QString AskSaveFileName(const SSaveFileRequest& request);
// Replaces the dialog (tests); returns the previous handler. An empty handler restores the dialog.
SaveFileHandler SetSaveFileHandler(SaveFileHandler handler);
