#include "app/emulator_app.h"
#include "capture/capture_journal.h"
#include "res/resource_ids.h"
#include "test_peer.h"
#include "test_support.h"
#include "transport/port_names.h"
#include "ui/comm_settings_page.h"
#include "ui/dialog_builder.h"
#include "ui/file_dialog.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/pos_settings_page.h"
#include "ui/setup_wizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStyle>
#include <QTimer>
#include <functional>

class TestWizard : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QList<SMessageBox> m_boxes;
    QList<CMessageBox::StandardButton> m_answers;

    // Runs start-up; `act` is given each modal window as it comes up.
    int RunStartUp(std::function<void(QWidget*)> act) {
        QTimer driver;
        QPointer<QWidget> last; // windows of later steps may take the place of earlier ones
        QObject::connect(&driver, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != last) {
                last = modal;
                act(modal);
            }
        });
        driver.start(30);
        return theApp.InitInstance();
    }

private slots:
    void initTestCase() {
        InstallNoiseFilter();
        QVERIFY(QDir(m_dir.path()).mkpath("POS"));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QFile pos(m_dir.filePath("POS/PC-POS 3.vlq"));
        QVERIFY(pos.open(QIODevice::WriteOnly));
        SetMessageBoxHandler([this](const SMessageBox& box) {
            m_boxes << box;
            return m_answers.isEmpty() ? CMessageBox::Ok : m_answers.takeFirst();
        });
    }
    void init() {
        m_boxes.clear();
        m_answers.clear();
        QVERIFY(WriteProfileText(QByteArray()));
        // A capture left by an earlier run that failed would be offered at every start-up here.
        QDir(CaptureJournalsFolder()).removeRecursively();
    }

    void opensOnStepOne() {
        CEmulatorApp app;
        app.LoadSettings();
        CSetupWizard wizard(&app);
        wizard.show();
        QCOMPARE(wizard.m_nStep, 0);
        QVERIFY(!wizard.m_btnPrev->isEnabled());
        QCOMPARE(wizard.m_btnNext->text(), QStringLiteral("Next >"));
        QVERIFY(wizard.m_checkStartup->isChecked());
        QVERIFY(wizard.m_pageWelcome->isVisible());
        QCOMPARE(wizard.m_pages[0]->windowTitle(), QStringLiteral("Welcome"));
        QCOMPARE(wizard.windowTitle(), QStringLiteral("POS Emulator Setup Wizard (BETA)"));
        QTest::keyClick(&wizard, Qt::Key_Return);
        QVERIFY(wizard.isVisible());
        // Escape asks to quit from whatever has the focus on each step (a control of the page).
        QApplication::setActiveWindow(&wizard);
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        for (int step = 0; step < 4; ++step) {
            if (step > 0)
                wizard.OnNext();
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused && wizard.isAncestorOf(focused));
            QVERIFY(step == 0 || wizard.m_pages[step]->isAncestorOf(focused));
            m_answers = {CMessageBox::No};
            QTest::keyClick(focused, Qt::Key_Escape);
            QCOMPARE(m_boxes.size(), step + 1);
            QCOMPARE(m_boxes.last().strCaption + ": " + m_boxes.last().strText,
                     QStringLiteral("Quit: Quit without saving settings?"));
        }
        QVERIFY(wizard.isVisible() && !wizard.m_bQuit);
        const QImage header = wizard.grab().toImage();
        const QColor right = header.pixelColor(header.width() - 5, 5);
        QVERIFY(right.blue() > right.red() + 40); // the header's gradient turns blue towards the right
        QVERIFY(header.pixelColor(2, 5).lightness() > 245);
    }

    // The serial step: a stored port that is not there gives way to the USB adapter plugged in.
    void serialStepPrefersPresentAdapter() {
        SKIP_WITHOUT_PTY();
        MaskAllComPorts();
        QDir byId(qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID"));
        QVERIFY(byId.removeRecursively() && QDir().mkpath(byId.path()));
        QVERIFY(QFile::remove(PortsFolder() + "/COM3"));
        CTestPty adapter;
        QVERIFY(
            QFile::link(QString::fromLatin1(adapter.SlavePath()), byId.filePath("usb-FTDI_X1-if00-port0")));
        CEmulatorApp app;
        app.LoadSettings(); // COM1, masked: not there
        CSetupWizard wizard(&app);
        wizard.show();
        wizard.OnNext();
        wizard.OnNext();
        auto* ports = Control<QComboBox>(wizard.m_pageComm, IDC_COMM_PORT);
        QCOMPARE(ports->currentData().toString(), QStringLiteral("COM3"));
        QCOMPARE(ports->currentText(), QStringLiteral("COM3 - FTDI X1"));
        QCOMPARE(app.m_settings.m_strPort, QStringLiteral("COM1")); // stored when the wizard finishes
        MaskAllComPorts();
        QVERIFY(byId.removeRecursively());
    }

    // Each page change says the new step and page and puts the focus on the page's first control. The
    // summary shows and reads what was chosen, its lines reached with Tab; a grey Finish says in words
    // what is missing; once a POS is chosen, Finish stores the choices.
    void pagesAndSummary() {
        CEmulatorApp app;
        app.LoadSettings();
        CSetupWizard wizard(&app);
        wizard.show();
        QCOMPARE(wizard.accessibleDescription(), QStringLiteral("Step 1 of 4: Welcome"));
        CAccessibleRecorder recorder;
        const auto focus = [&wizard] {
            return wizard.focusWidget() ? wizard.focusWidget()->objectName().toInt() : 0;
        };
        const auto summary = [&wizard](int text, int icon) { // as read, and the picture beside it
            return AccessibleName(FindControl(wizard.m_pageSummary, text)) + " / " +
                   QString::number(FindControl(wizard.m_pageSummary, icon)->property("iconId").toInt());
        };
        wizard.OnNext();
        QCOMPARE(recorder.Announced(), QStringList{"Step 2 of 4: Point-of-Sale Configuration"});
        QCOMPARE(wizard.accessibleDescription(), QStringLiteral("Step 2 of 4: Point-of-Sale Configuration"));
        QCOMPARE(focus(), int(IDC_POS_LIST));
        wizard.OnNext();
        QCOMPARE(focus(), int(IDC_COMM_SERIAL)); // the chosen connection
        wizard.OnNext();
        QCOMPARE(recorder.Announced().last(),
                 QStringLiteral("Step 4 of 4: Summary. Choose a POS in step 2 to finish"));
        QCOMPARE(focus(), int(IDC_SUMMARY_POS)); // the summary's first line, read whole
        QCOMPARE(summary(IDC_SUMMARY_POS, IDC_SUMMARY_POS_ICON),
                 QStringLiteral("POS Selection: Not Selected / %1").arg(IDI_NOT_CONFIGURED));
        QCOMPARE(summary(IDC_SUMMARY_COMM, IDC_SUMMARY_COMM_ICON),
                 QStringLiteral("Communications: Serial / %1").arg(IDI_CONFIGURED));
        for (int id : {IDC_SUMMARY_POS, IDC_SUMMARY_COMM})
            QVERIFY(FindControl(wizard.m_pageSummary, id)->focusPolicy() & Qt::TabFocus);
        QCOMPARE(AccessibleName(wizard.m_btnNext), QStringLiteral("Finish"));
        QVERIFY(!wizard.m_btnNext->isEnabled());
        auto* hint = wizard.findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(hint && hint->isVisible() && hint->text() == "Choose a POS in step 2 to finish");
        QCOMPARE(wizard.m_btnNext->accessibleDescription(), hint->text());

        wizard.OnPrev();
        QCOMPARE(AccessibleName(wizard.m_btnNext), QStringLiteral("Next >"));
        QTest::mouseClick(Control<QRadioButton>(wizard.m_pageComm, IDC_COMM_NETWORK), Qt::LeftButton);
        wizard.OnPrev();
        wizard.m_pagePos->PosList()->setCurrentIndex(0);
        wizard.m_pagePos->PosList()->activated(0);
        wizard.OnNext();
        wizard.OnNext();
        QCOMPARE(recorder.Announced().last(), QStringLiteral("Step 4 of 4: Summary. Next is now Finish"));
        QVERIFY(wizard.m_btnNext->isEnabled() && !hint->isVisible());
        QCOMPARE(wizard.m_btnNext->accessibleDescription(), QString());
        QCOMPARE(summary(IDC_SUMMARY_POS, IDC_SUMMARY_POS_ICON),
                 QStringLiteral("POS Selection: PC-POS 3 / %1").arg(IDI_CONFIGURED));
        QCOMPARE(AccessibleName(FindControl(wizard.m_pageSummary, IDC_SUMMARY_COMM)),
                 QStringLiteral("Communications: Network"));
        QCOMPARE(AccessibleName(wizard.m_checkStartup), QStringLiteral("Show this window on startup"));
        wizard.m_checkStartup->setChecked(false);
        wizard.OnNext(); // Finish
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
        const CAppSettings& s = app.m_settings;
        QCOMPARE(s.m_strPosInterface, QStringLiteral("PC-POS 3"));
        QCOMPARE((QList<int>{s.m_bCalcChecksum, s.m_bUseNetwork, s.m_bUseSerial, s.m_bShowWizard}),
                 (QList<int>{1, 1, 0, 0}));
    }

    // Enter on a focused push button presses it, once; Enter elsewhere keeps the wizard's own path.
    void enterPressesButton_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("stepAfter");
        QTest::newRow("Next, Return") << int(IDC_WIZARD_NEXT) << 0 << int(Qt::Key_Return) << 1;
        QTest::newRow("Next, keypad Enter") << int(IDC_WIZARD_NEXT) << 1 << int(Qt::Key_Enter) << 2;
        QTest::newRow("Prev") << int(IDC_WIZARD_PREV) << 2 << int(Qt::Key_Return) << 1;
        QTest::newRow("Skip") << int(IDC_WIZARD_SKIP) << 1 << int(Qt::Key_Return) << 1; // asks, answered No
        QTest::newRow("Finish") << int(IDC_WIZARD_NEXT) << 3 << int(Qt::Key_Return) << 3;
    }
    void enterPressesButton() {
        QFETCH(int, id);
        QFETCH(int, step);
        QFETCH(int, key);
        QFETCH(int, stepAfter);
        CEmulatorApp app;
        app.LoadSettings();
        app.m_settings.m_strPosInterface = "PC-POS 3";
        CSetupWizard wizard(&app);
        wizard.show();
        for (int i = 0; i < step; ++i)
            wizard.OnNext();
        auto* button = Control<QPushButton>(&wizard, id);
        QSignalSpy clicks(button, &QPushButton::clicked);
        m_answers = {CMessageBox::No};
        QTest::keyClick(button, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(wizard.m_nStep, stepAfter);
        if (id == IDC_WIZARD_SKIP)
            QCOMPARE(m_boxes.value(0).strCaption, QStringLiteral("Bypass POS Emulator Setup Wizard"));
        QCOMPARE(wizard.isVisible(), !(id == IDC_WIZARD_NEXT && step == 3)); // Finish ends the wizard
    }

    void skip() {
        CEmulatorApp app;
        app.LoadSettings();
        app.m_settings.m_strPosInterface = "Kept";
        CSetupWizard wizard(&app);
        wizard.show();
        wizard.OnNext();
        wizard.m_pagePos->PosList()->setCurrentIndex(0);
        wizard.m_pagePos->PosList()->activated(0);
        wizard.m_checkStartup->setChecked(false);
        m_answers = {CMessageBox::No, CMessageBox::Cancel};
        wizard.OnSkip();
        wizard.OnSkip();
        QVERIFY(wizard.isVisible());
        QCOMPARE(wizard.m_nStep, 1);
        QCOMPARE(m_boxes[0].strCaption, QStringLiteral("Bypass POS Emulator Setup Wizard"));
        QVERIFY(
            m_boxes[0].strText.startsWith("You are about to skip the Setup Wizard and go directly to the POS "
                                          "Emulator.  \nAny changes"));
        m_answers = {CMessageBox::Yes};
        wizard.OnSkip();
        QVERIFY(!wizard.isVisible());
        QCOMPARE(m_boxes.size(), 3); // no quit question after Skip
        QVERIFY(!wizard.m_bQuit);
        QCOMPARE(app.m_settings.m_bShowWizard, 0);
        QCOMPARE(app.m_settings.m_strPosInterface, QStringLiteral("Kept"));
    }

    // Quitting the wizard ends the program and leaves the store exactly as it was.
    void startUpQuitFromWizard() {
        QVERIFY(WriteProfileText("[Communications]\nUse%20Serial=5\n"));
        const QByteArray before = StoredEntries();
        QCOMPARE(before, QByteArray("Communications/Use Serial=5\n"));
        m_answers = {CMessageBox::Yes};
        const int code = RunStartUp([](QWidget* modal) {
            QVERIFY(qobject_cast<CSetupWizard*>(modal));
            modal->close();
        });
        QCOMPARE(code, 0);
        QCOMPARE(StoredEntries(), before);
    }

    void startUpFinishThenQuit() {
        QStringList seen;
        QList<int> delays;
        m_answers = {CMessageBox::Yes};
        RunStartUp([&](QWidget* modal) {
            // Tooltips everywhere wait 1500 ms before they show.
            for (QWidget* w : modal->findChildren<QWidget*>()) {
                if (!w->toolTip().isEmpty())
                    delays << w->style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay, nullptr, w);
            }
            if (auto* wizard = qobject_cast<CSetupWizard*>(modal)) {
                seen << "wizard";
                wizard->OnNext();
                wizard->m_pagePos->PosList()->setCurrentIndex(0);
                wizard->m_pagePos->PosList()->activated(0);
                wizard->OnNext();
                QTest::mouseClick(Control<QRadioButton>(wizard->m_pageComm, IDC_COMM_NETWORK),
                                  Qt::LeftButton);
                wizard->OnNext();
                wizard->OnNext();
            } else if (auto* main = qobject_cast<CMainDialog*>(modal)) {
                seen << "main";
                main->close();
            }
        });
        QCOMPARE(seen, (QStringList{"wizard", "main"}));
        QVERIFY(delays.size() >= 6); // the Communications page's four, Run, Stop, the arrow, Save
        QCOMPARE(delays, QList<int>(delays.size(), 1500));
        auto store = OpenProfileStore();
        QCOMPARE(store->allKeys().size(), 14);
        QCOMPARE(store->value("Point of Sale/POS Interface").toString(), QStringLiteral("PC-POS 3"));
        QCOMPARE(store->value("Communications/Use Network").toInt(), 1);
        QCOMPARE(store->value("Show Wizard on Startup").toInt(), 1);
    }

    // A capture left by a program that did not end normally is offered before the wizard; one whose
    // save was cancelled is kept for the next start.
    void startUpOffersLeftCapture_data() {
        QTest::addColumn<bool>("cancelSave"); // then the capture is kept for the next start
        QTest::newRow("saved") << false;
        QTest::newRow("save cancelled") << true;
    }
    void startUpOffersLeftCapture() {
        QFETCH(bool, cancelSave);
        const QDir base(CaptureJournalsFolder());
        QVERIFY(base.mkpath("20260101-000000-99999-0"));
        for (const auto& [name, text] : {std::pair{"tx.journal", "07:00:00    NETWORK   <02>A<03>\n"},
                                         std::pair{"rx.journal", "07:00:00    NETWORK:  <06>\npartial"}}) {
            QVERIFY(WriteFile(base.filePath(QStringLiteral("20260101-000000-99999-0/") + name), text));
        }
        const QString target = m_dir.filePath("left.txt");
        QFile::remove(target);
        QStringList order;
        SetSaveFileHandler([&](const SSaveFileRequest& request) {
            order << "save " + request.strProposedName;
            return cancelSave ? QString() : target;
        });
        m_answers = {CMessageBox::Yes, CMessageBox::Yes};
        RunStartUp([&](QWidget* modal) {
            order << modal->metaObject()->className();
            modal->close();
        });
        SetSaveFileHandler(nullptr);
        QCOMPARE(m_boxes.value(0).strText,
                 QStringLiteral(
                     "POS Emulator did not close normally last time. Save the capture it was holding?"));
        QCOMPARE(order, (QStringList{"save DataCapture-20260101-000000.txt", "CSetupWizard"}));
        QCOMPARE(QFileInfo::exists(target), !cancelSave);
        if (!cancelSave) {
            const QByteArray capture = ReadAll(target);
            QVERIFY(capture.contains("NETWORK   <02>A<03>\r\n"));
            QVERIFY(capture.endsWith("NETWORK:  <06>\r\n")); // a line never written whole is left out
        }
        QCOMPARE(base.exists("20260101-000000-99999-0"), cancelSave);
        QCOMPARE(CCaptureJournal::FindAbandoned().size(), size_t(cancelSave ? 1 : 0));
        QVERIFY(QDir(base.filePath("20260101-000000-99999-0")).removeRecursively());
    }
};

POSEMU_TEST_MAIN(TestWizard)
#include "test_wizard.moc"
