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

CEmulatorApp::CEmulatorApp() : m_ocsDetector(DefaultOcsDetector()) {}

void CEmulatorApp::LoadSettings() {
    LoadProfileSettings(m_settings);
    m_settings.m_strPosFolder = QDir::toNativeSeparators(QDir::currentPath() + QStringLiteral("/POS"));
}

void CEmulatorApp::SaveSettings() {
    SaveProfileSettings(m_settings);
}

bool CEmulatorApp::AutoDetectSerial(const DetectProgress& trying) {
    const SDetectResult result = SearchForOcs(m_ocsDetector, trying);
    ApplyDetectResult(m_settings, result);
    return result.bFound;
}

void CEmulatorApp::EnumPosNames(QStringList& names) const {
    EnumPosNamesIn(m_settings.m_strPosFolder, names);
}
