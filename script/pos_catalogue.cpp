#include "script/pos_catalogue.h"

#include "app/emulator_app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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

bool PosUsesChecksum(const QString& posName) {
    return posName.toUpper().contains(QLatin1String("PC-POS"));
}

QString InstalledPosFolder() {
#ifdef POSEMU_SHARE_FROM_BIN
    const QString folder = QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                                           QStringLiteral(POSEMU_SHARE_FROM_BIN) + QStringLiteral("/POS"));
    if (QFileInfo(folder).isDir())
        return folder;
#endif
    return QString();
}

QString ChooseWorkFolder(const QString& current, const QString& installedPos, const QString& home) {
    if (installedPos.isEmpty() || home.isEmpty())
        return QString();
    // Started in its own installation folder (the Windows Start menu does that), it works in the
    // user's folder like anywhere else without a POS folder of its own.
    const QFileInfo here(current + QStringLiteral("/POS"));
    if (here.isDir() && here.canonicalFilePath() != QFileInfo(installedPos).canonicalFilePath())
        return QString();
    const QString work = home + QStringLiteral("/POS Emulator");
    const QString pos = work + QStringLiteral("/POS");
    if (!QFileInfo(pos).isDir()) {
        if (!QDir().mkpath(pos))
            return QString();
        // Only when the folder is new: samples the operator deleted stay deleted.
        const QDir samples(installedPos);
        for (const QString& name : samples.entryList({QStringLiteral("*.vlq")}, QDir::Files))
            QFile::copy(samples.filePath(name), pos + QLatin1Char('/') + name);
    }
    return work;
}
