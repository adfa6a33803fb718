#include "app/emulator_app.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

QString ProfileFolder() {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(PROFILE_COMPANY),
                    QString::fromLatin1(PROFILE_APPLICATION));
    return QFileInfo(store.fileName()).absolutePath();
}

void LoadProfileSettings(CAppSettings& settings) {
    LoadSettingsFromFile(OpenProfileStore()->fileName(), settings);
}

void SaveProfileSettings(const CAppSettings& settings) {
    {
        // Writing merges with the file as it is: a damaged entry must not be rebuilt then either.
        QFile file(OpenProfileStore()->fileName());
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray text = file.readAll();
            const QByteArray safe = SanitizeProfileText(text);
            file.close();
            if (safe != text && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(safe);
        }
    }
    auto store = OpenProfileStore();
    SaveSettingsTo(*store, settings);
    store->sync();
}

QString UserWorkParent() {
    return QDir::homePath();
}
