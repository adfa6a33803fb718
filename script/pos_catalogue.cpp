#include "script/pos_catalogue.h"

#include "app/emulator_app.h"
#include "app/wait_cursor.h"

#include <QDir>
#include <QFileInfo>

QString StripFolder(const QString& path) {
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString StripFolderAndExtension(const QString& path) {
    const QString name = StripFolder(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 1 ? name.left(dot) : name;
}

void EnumPosNamesIn(const QString& folder, QStringList& names) {
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            continue;
        const QString fileName = entry.fileName();
        const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
        const QString extension = dot < 0 ? fileName : fileName.mid(dot + 1);
        if (extension.compare(QLatin1String("vlq"), Qt::CaseInsensitive) != 0)
            continue;
        const QString name = StripFolderAndExtension(fileName);
        if (!name.isEmpty())
            names.append(name);
    }
}

QString PosScriptPath(const QString& posName) {
    return QStringLiteral("POS/") + posName + QStringLiteral(".vlq");
}

void CEmulatorApp::EnumPosNames(QStringList& names) const {
    CWaitCursor wait;
    EnumPosNamesIn(m_settings.m_strPosFolder, names);
}

bool PosUsesChecksum(const QString& posName) {
    return posName.toUpper().contains(QLatin1String("PC-POS"));
}
