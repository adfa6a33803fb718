#include "app/emulator_app.h"

#include "script/pos_catalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

std::unique_ptr<QSettings> OpenProfileStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(PROFILE_COMPANY),
                                       QString::fromLatin1(PROFILE_APPLICATION));
}

QString ProfileFolder() {
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
#else
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(PROFILE_COMPANY),
                    QString::fromLatin1(PROFILE_APPLICATION));
    return QFileInfo(store.fileName()).absolutePath();
#endif
}

CEmulatorApp::CEmulatorApp() : m_ocsDetector(QByteArray(1, 0x06), QByteArray(1, 0x05), 5000, 5) {}

void CEmulatorApp::LoadSettings() {
#ifdef Q_OS_WIN
    auto store = OpenProfileStore();
    LoadSettingsFrom(*store, m_settings);
#else
    LoadSettingsFromFile(OpenProfileStore()->fileName(), m_settings);
#endif
    m_settings.m_strPosFolder = QDir::toNativeSeparators(QDir::currentPath() + QStringLiteral("/POS"));
}

void CEmulatorApp::SaveSettings() {
#ifndef Q_OS_WIN
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
#endif
    auto store = OpenProfileStore();
    SaveSettingsTo(*store, m_settings);
    store->sync();
}

bool CEmulatorApp::AutoDetectSerial(const DetectProgress& trying) {
    const SDetectResult result = SearchForOcs(m_ocsDetector, trying);
    ApplyDetectResult(m_settings, result);
    return result.bFound;
}

void CEmulatorApp::EnumPosNames(QStringList& names) const {
    EnumPosNamesIn(m_settings.m_strPosFolder, names);
}
