#include "app/emulator_app.h"

#include <QSettings>
#include <QStandardPaths>

QString ProfileFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void LoadProfileSettings(CAppSettings& settings) {
    auto store = OpenProfileStore();
    LoadSettingsFrom(*store, settings);
}

void SaveProfileSettings(const CAppSettings& settings) {
    auto store = OpenProfileStore();
    SaveSettingsTo(*store, settings);
    store->sync();
}

QString UserWorkParent() {
    // The install folder is no user's to write in; the documents folder is, and is where they look.
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}
