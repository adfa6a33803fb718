// Draws the README's pictures offscreen: the setup wizard, and the main window after an order played
// to the simulated OCS with its details shown.   pos-screenshots OUTPUT_FOLDER
#include "app/emulator_app.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/pos_settings_page.h"
#include "ui/send_order_page.h"
#include "ui/setup_wizard.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {
// The offscreen platform cannot pass size limits on to a window system, and says so on every resize.
QtMessageHandler g_previousHandler = nullptr;
void DropPlatformNoise(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!message.contains(QLatin1String("does not support propagateSizeHints")) && g_previousHandler)
        g_previousHandler(type, context, message);
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The same fonts on every machine, so that drawing the pictures again changes them only where the
    // program changed.
    const QByteArray fonts = "/usr/share/fonts/truetype/dejavu";
    if (QDir(QString::fromLatin1(fonts)).exists())
        qputenv("QT_QPA_FONTDIR", fonts);
    g_previousHandler = qInstallMessageHandler(DropPlatformNoise);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit()); // the capture journals
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: pos-screenshots OUTPUT_FOLDER (run from the folder that holds POS/)\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    SetMessageBoxHandler([](const SMessageBox& box) {
        std::fprintf(stderr, "%s\n", qPrintable(box.strText));
        return CMessageBox::Ok;
    });

    CEmulatorApp emulator;
    emulator.LoadSettings();
    {
        CSetupWizard wizard(&emulator);
        wizard.show();
        wizard.OnNext();
        QComboBox* list = wizard.m_pagePos->PosList();
        list->setCurrentIndex(std::max(0, list->findText(QStringLiteral("PC-POS 3"))));
        list->activated(list->currentIndex());
        QApplication::processEvents();
        wizard.grab().save(out + QStringLiteral("/wizard.png"));
    }

    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../ocs-sim/ocs-sim"),
              {QStringLiteral("--listen"), QStringLiteral("127.0.0.45"), QStringLiteral("--reply"),
               QStringLiteral("<06>")});
    if (!sim.waitForStarted())
        return 1;
    emulator.m_settings.m_bUseNetwork = 1;
    emulator.m_settings.m_bUseSerial = 0;
    emulator.m_settings.m_strIpAddress = QStringLiteral("127.0.0.45");
    emulator.m_settings.m_strPosInterface = QStringLiteral("PC-POS 3");
    emulator.m_settings.m_bCalcChecksum = 1;
    CMainDialog window(&emulator);
    window.show();
    QTimer::singleShot(300, [&] {
        window.m_pageSendOrder->OnRun();
        window.OnDetailsArrow();
    });
    QTimer::singleShot(3900, [&] {
        window.grab().save(out + QStringLiteral("/main-window.png"));
        window.m_pageSendOrder->OnStop();
        QCoreApplication::exit(0);
    });
    app.exec();
    sim.terminate();
    sim.waitForFinished();
    std::fputs(sim.readAllStandardOutput().constData(), stdout);
    return 0;
}
