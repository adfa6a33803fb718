// Start-up and shutdown of the window: the one part of the application object that needs widgets.
#include "app/emulator_app.h"

#include "script/pos_catalogue.h"
#include "transport/port_names.h"
#include "transport/socket_compat.h"
#include "ui/capture_save.h"
#include "ui/main_dialog.h"
#include "ui/program_style.h"
#include "ui/setup_wizard.h"

#include <QDir>
#include <cstdio>

CEmulatorApp theApp;

int CEmulatorApp::InitInstance() {
    if (!SocketStartup()) {
        std::printf("\nError in Startup session.\n");
        SocketCleanup();
        return 0;
    }
    InstallProgramStyle();
    const QString work = ChooseWorkFolder(QDir::currentPath(), InstalledPosFolder(), UserWorkParent());
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
