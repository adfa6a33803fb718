#include "app/emulator_app.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <csignal>

CEmulatorApp theApp;

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

CEmulatorApp::CEmulatorApp() = default;

void CEmulatorApp::LoadSettings() {
    auto store = OpenProfileStore();
    LoadSettingsFrom(*store, m_settings);
    m_settings.m_strPosFolder = QDir::toNativeSeparators(QDir::currentPath() + QStringLiteral("/POS"));
}

void CEmulatorApp::SaveSettings() {
    auto store = OpenProfileStore();
    SaveSettingsTo(*store, m_settings);
    store->sync();
}

int CEmulatorApp::InitInstance() {
#ifndef Q_OS_WIN
    // A write to a peer that has gone must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    LoadSettings();
    SaveSettings();
    return 0;
}
