#include "app/emulator_app.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <csignal>
#include <cstdio>

#include "app/tool_tip_style.h"
#include "script/pos_catalogue.h"
#include "transport/port_names.h"
#include "transport/socket_compat.h"
#include "ui/capture_save.h"
#include "ui/main_dialog.h"
#include "ui/setup_wizard.h"

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

int CEmulatorApp::InitInstance() {
#ifdef Q_OS_WIN
    if (!SocketStartup()) {
        std::printf("\nError in Startup session.\n");
        SocketCleanup();
        return 0;
    }
#else
    // A write to a peer that has gone must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    InstallToolTipStyle();
    const QString work = ChooseWorkFolder(QDir::currentPath(), InstalledPosFolder(), QDir::homePath());
    if (!work.isEmpty())
        QDir::setCurrent(work);
    LoadSettings();
    AssignAdapterPorts(); // a USB serial adapter is offered under a COM name of its own
    OfferAbandonedCaptures();
    if (m_settings.m_bShowWizard) {
        CSetupWizard wizard(this);
        wizard.exec();
        if (wizard.m_bQuit)
            return 0; // quitting the wizard stores nothing
    }
    {
        CMainDialog main(this);
        main.exec();
    }
    SaveSettings();
    return 0;
}
