#include "app/emulator_app.h"
#include "capture/capture_file.h"
#include "capture/capture_journal.h"
#include "capture/capture_log.h"
#include "res/resource_ids.h"
#include "test_peer.h"
#include "test_support.h"
#include "transport/port_names.h"
#include "ui/dialog_builder.h"
#include "ui/file_dialog.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/program_style.h"
#include "ui/right_click_button.h"
#include "ui/send_order_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTabBar>
#include <QTimer>
#include <csignal>
#include <thread>

namespace {

// The reply bytes the [Rx] list shows, without times and keywords.
QByteArray RxTextShown(const CCaptureListModel& model) {
    QByteArray shown;
    for (qsizetype i = 0; i < model.Lines().Count(); ++i)
        shown += model.Lines().Line(i).mid(22);
    return shown;
}

QByteArray NumberedReplies(int count) {
    QByteArray replies;
    for (int i = 0; i < count; ++i)
        replies += "reply " + QByteArray::number(i) + ";";
    return replies;
}

QAccessible::State AccessibleState(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->state() : QAccessible::State();
}

QStringList Lines(const CCaptureListModel& model) {
    QStringList lines;
    for (qsizetype i = 0; i < model.Lines().Count(); ++i)
        lines << QString::fromLatin1(model.Lines().Line(i).mid(12)); // without the time
    return lines;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QList<SMessageBox> m_boxes;
    QList<CMessageBox::StandardButton> m_answers;
    std::unique_ptr<CEmulatorApp> m_app;
    std::unique_ptr<CMainDialog> m_dlg;
    std::unique_ptr<CTestListener> m_peer;

    void WritePos(const QString& name, const QByteArray& content) {
        QVERIFY(WriteFile(m_dir.filePath("POS/" + name + ".vlq"), content));
    }
    CMainDialog& Open() {
        m_dlg = std::make_unique<CMainDialog>(m_app.get());
        m_dlg->show();
        return *m_dlg;
    }
    CSendOrderPage& Page() { return *m_dlg->m_pageSendOrder; }
    // Opens the window and runs the script as an order over TCP to a peer listening at address (kept
    // in m_peer); the peer's end of the connection once the order runs, or -1.
    PeerHandle StartOrder(const char* address, const QString& pos, const QByteArray& script) {
        Prepare(pos, script, address);
        m_peer = std::make_unique<CTestListener>(address);
        Open();
        Page().OnRun();
        const PeerHandle fd = m_peer->Accept();
        if (fd == PEER_NONE ||
            !QTest::qWaitFor([this] { return m_dlg->IsRunning() != 0; }, TestTimeout(5000)))
            return PEER_NONE;
        return fd;
    }
    // The same for a one-line order ("A").
    PeerHandle StartPlainOrder(const char* address) { return StartOrder(address, "Plain", "<41>\n"); }
    void UseNetwork(const char* address) {
        m_app->m_settings.m_bUseNetwork = 1;
        m_app->m_settings.m_bUseSerial = 0;
        m_app->m_settings.m_strIpAddress = address;
    }
    void Select(const QString& pos, int checksum = 0) {
        m_app->m_settings.m_strPosInterface = pos;
        m_app->m_settings.m_bCalcChecksum = checksum;
    }
    // The settings choose a POS file of this script, played over TCP to address when one is given.
    void Prepare(const QString& pos, const QByteArray& script, const char* address = nullptr,
                 int checksum = 0) {
        WritePos(pos, script);
        Select(pos, checksum);
        if (address)
            UseNetwork(address);
    }

private slots:
    void initTestCase() {
        InstallNoiseFilter();
        IgnoreBrokenPipes();
        QVERIFY(QDir(m_dir.path()).mkpath("POS"));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        SetMessageBoxHandler([this](const SMessageBox& box) {
            m_boxes << box;
            return m_answers.isEmpty() ? CMessageBox::Ok : m_answers.takeFirst();
        });
    }
    void init() {
        MaskAllComPorts();
        m_boxes.clear();
        m_answers.clear();
        m_app = std::make_unique<CEmulatorApp>();
        m_app->LoadSettings();
    }
    void cleanup() {
        m_dlg.reset();
        m_peer.reset();
        m_app.reset();
    }

    // Collapsed at start, the details below the window's edge and only the lamps' lower parts above the
    // tab row; the details slide open 10 pixels a step (a second click keeps the direction) and the
    // hint follows. Shown, the window grows; the lists take the room, the rest keeps its place; scroll
    // bars only when there is something to scroll ([Tx] lines are 1300 pixels wide at least).
    void details() {
        m_app->m_settings.m_bShowWizard = 1;
        CMainDialog& dlg = Open();
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize()); // collapsed: fixed
        QCOMPARE(dlg.height(), dlg.m_rcCollapsed.height());
        for (QWidget* hidden : {(QWidget*)dlg.m_listRx, (QWidget*)dlg.m_listTx, (QWidget*)dlg.m_btnSave,
                                (QWidget*)dlg.m_checkShowWizard})
            QVERIFY(hidden->geometry().top() >= dlg.height());
        QVERIFY(dlg.m_tabCtrl->geometry().bottom() < dlg.height() && dlg.m_checkShowWizard->isChecked());
        QVERIFY(Page().isVisible() && !dlg.m_pagePos->isVisible());
        QVERIFY(dlg.m_iconTx->y() < 0 && dlg.m_iconTx->geometry().bottom() > 0);
        const auto* hint = Control<QLabel>(&dlg, IDC_MAIN_DETAILS_HINT);
        QCOMPARE(hint->text(), QStringLiteral("To see details, click the arrow..."));
        const QRect tx = dlg.m_listTx->geometry(), rx = dlg.m_listRx->geometry();
        const QRect save = dlg.m_btnSave->geometry(), tabs = dlg.m_tabCtrl->geometry();
        QList<int> heights{dlg.height()};
        struct SRecorder : QObject {
            QList<int>* p;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Resize)
                    p->append(static_cast<QResizeEvent*>(e)->size().height());
                return false;
            }
        } recorder;
        recorder.p = &heights;
        dlg.installEventFilter(&recorder);
        QTest::mouseClick(dlg.m_btnDetails, Qt::LeftButton);
        QTest::mouseClick(dlg.m_btnDetails, Qt::LeftButton);
        QTRY_VERIFY(dlg.m_bExpanded);
        dlg.removeEventFilter(&recorder);
        for (int i = 1; i < heights.size(); ++i)
            QVERIFY(heights[i] - heights[i - 1] == 10 || i == heights.size() - 1);
        QCOMPARE(hint->text(), QStringLiteral("To hide details, click the arrow..."));
        QCOMPARE(dlg.minimumSize(), dlg.m_rcExpanded.size());
        QVERIFY(dlg.maximumHeight() > 4000 && dlg.maximumWidth() > 4000);
        QScrollBar* vertical = dlg.m_listTx->verticalScrollBar();
        QScrollBar* horizontal = dlg.m_listTx->horizontalScrollBar();
        QTest::qWait(50);
        QVERIFY(!vertical->isVisible() && !horizontal->isVisible());
        dlg.AddTxLine("short", TXLINE_NETWORK);
        QTRY_VERIFY(horizontal->isVisible());
        QVERIFY(!vertical->isVisible());

        dlg.resize(dlg.m_rcExpanded.width() + 200, dlg.m_rcExpanded.height() + 301);
        QCOMPARE(dlg.m_listTx->geometry(), tx.adjusted(0, 0, 200, 150));
        QCOMPARE(dlg.m_listRx->geometry(), rx.adjusted(0, 150, 200, 301));
        QCOMPARE(dlg.m_btnSave->geometry(), save.translated(200, 150));
        QCOMPARE(dlg.m_tabCtrl->geometry(), tabs);
        QVERIFY(dlg.m_btnSave->geometry().bottom() < dlg.m_listRx->y());
        QCOMPARE(dlg.m_listRx->geometry().bottom(),
                 dlg.height() - 1 - (dlg.m_rcExpanded.height() - 1 - rx.bottom()));
        dlg.resize(1500, dlg.height()); // wider than the lines: nothing to scroll sideways
        QTRY_VERIFY(!horizontal->isVisible());
        for (int i = 0; i < 50; ++i)
            dlg.AddTxLine("line", TXLINE_NETWORK);
        QTRY_VERIFY(vertical->isVisible());
        QVERIFY(!dlg.m_listRx->verticalScrollBar()->isVisible());

        dlg.OnDetailsArrow(); // collapse: back to the template's width at once, the height slides
        QCOMPARE(dlg.width(), dlg.m_rcExpanded.width());
        QTRY_VERIFY(!dlg.m_bExpanded);
        QCOMPARE(dlg.size(), dlg.m_rcCollapsed.size());
        QCOMPARE(hint->text(), QStringLiteral("To see details, click the arrow..."));
        dlg.OnDetailsArrow();
        QTRY_VERIFY(dlg.m_bExpanded);
        QCOMPARE(dlg.size(), dlg.m_rcExpanded.size());
        QCOMPARE(dlg.m_listRx->geometry(), rx);
        QCOMPARE(dlg.m_btnSave->geometry(), save);
    }

    // Labels are heard by their current text: the status (described as such), the connection summary,
    // the expand button.
    void namesFollowText() {
        UseNetwork("127.0.0.34");
        CMainDialog& dlg = Open();
        auto* status = FindControl(&Page(), IDC_ORDER_STATUS);
        QCOMPARE(AccessibleName(status), QString());
        Page().SetStatusText(QStringLiteral("Connection Error!"));
        QCOMPARE(AccessibleName(status), QStringLiteral("Connection Error!"));
        QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Description),
                 QStringLiteral("Status"));
        QCOMPARE(AccessibleName(FindControl(&Page(), IDC_ORDER_LINK_KIND)),
                 QStringLiteral("Network Interface"));
        QCOMPARE(AccessibleName(FindControl(&Page(), IDC_ORDER_LINK_DETAIL)), QStringLiteral("127.0.0.34"));
        QCOMPARE(AccessibleName(FindControl(&dlg, IDC_MAIN_DETAILS_HINT)),
                 QStringLiteral("To see details, click the arrow... (the arrow is the Details button)"));
        // Run tells the connection it will use, and follows a change on the Communications page.
        QCOMPARE(Page().RunButton()->accessibleDescription(),
                 QStringLiteral("Send order data to OCS: Network 127.0.0.34"));
        dlg.SelectTab(2);
        auto* expand = Control<QPushButton>(dlg.m_pageComm, IDC_COMM_EXPAND);
        QCOMPARE(AccessibleName(expand), QStringLiteral(">>"));
        expand->click();
        QCOMPARE(AccessibleName(expand), QStringLiteral("<<"));
        Control<QRadioButton>(dlg.m_pageComm, IDC_COMM_SERIAL)->click();
        dlg.SelectTab(0);
        QCOMPARE(Page().RunButton()->accessibleDescription(),
                 QStringLiteral("Send order data to OCS: Serial COM1 at 9600 baud"));
    }

    // Enter on a focused push button presses it, exactly once, and never closes the window; Escape
    // asks to quit from the focused control of any page, as from the window itself.
    void keysOnControls_data() {
        QTest::addColumn<int>("page"); // -1 the window itself, 0..2 the tab
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("key");
        QTest::newRow("Stop") << 0 << int(IDC_ORDER_STOP) << int(Qt::Key_Return);
        QTest::newRow("Run, keypad Enter") << 0 << int(IDC_ORDER_RUN) << int(Qt::Key_Enter);
        QTest::newRow("Save") << -1 << int(IDC_MAIN_SAVE) << int(Qt::Key_Return);
        QTest::newRow("details arrow") << -1 << int(IDC_MAIN_DETAILS) << int(Qt::Key_Enter);
        QTest::newRow("expand >>") << 2 << int(IDC_COMM_EXPAND) << int(Qt::Key_Return);
        QTest::newRow("Detect Now") << 2 << int(IDC_COMM_DETECT_NOW) << int(Qt::Key_Return);
        QTest::newRow("Escape on Run") << 0 << int(IDC_ORDER_RUN) << int(Qt::Key_Escape);
        QTest::newRow("Escape on the POS list") << 1 << int(IDC_POS_LIST) << int(Qt::Key_Escape);
        QTest::newRow("Escape on Serial") << 2 << int(IDC_COMM_SERIAL) << int(Qt::Key_Escape);
        QTest::newRow("Escape on >>") << 2 << int(IDC_COMM_EXPAND) << int(Qt::Key_Escape);
    }
    void keysOnControls() {
        QFETCH(int, page);
        QFETCH(int, id);
        QFETCH(int, key);
        m_app->m_settings.m_bUseNetwork = 0; // Run is refused without a POS: it only says so
        CMainDialog& dlg = Open();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QWidget* parent = page == -1  ? static_cast<QWidget*>(&dlg)
                          : page == 0 ? static_cast<QWidget*>(&Page())
                          : page == 1 ? dlg.m_pagePos
                                      : dlg.m_pageComm;
        if (page > 0)
            dlg.SelectTab(page);
        if (page == 2 && id == IDC_COMM_DETECT_NOW)
            Control<QPushButton>(parent, IDC_COMM_EXPAND)->click();
        if (page == 0)
            Page().SetButtonStates(true, true); // as in step mode: both usable
        if (id == IDC_MAIN_SAVE) {
            dlg.OnDetailsArrow(); // Save shows with the details
            QTRY_VERIFY(dlg.m_bExpanded);
        }
        QWidget* control = FindControl(parent, id);
        control->setFocus();
        QVERIFY(control->isVisible() && control->isEnabled() && control->hasFocus());
        auto* button = qobject_cast<QPushButton*>(control);
        QSignalSpy clicks(button ? button : control, button ? SIGNAL(clicked()) : SIGNAL(destroyed()));
        m_answers = {CMessageBox::No};
        QTest::keyClick(control, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(clicks.size(), key == Qt::Key_Escape ? 0 : 1);
        if (key == Qt::Key_Escape) // (Save without data says so in a box)
            QCOMPARE(m_boxes.value(0).strText, QStringLiteral("Are you sure you want to quit?"));
        QVERIFY(dlg.isVisible());
    }

    // The finishing dialog closes on Enter as on Escape; the pass still finishes behind it.
    void finishDialogKeys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
    }
    void finishDialogKeys() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QByteArray script; // 52 lines: half a second of finishing at 10 ms a line
        for (int round = 0; round < 2; ++round) {
            for (char c = 'a'; c <= 'z'; ++c)
                script += "<" + QByteArray::number(c, 16).toUpper() + ">\n";
        }
        const PeerHandle fd = StartOrder("127.0.0.35", "Long", script);
        QVERIFY(fd != PEER_NONE);
        CMainDialog& dlg = *m_dlg;
        CPeerReader reader(fd);
        QTRY_VERIFY(reader.Data().startsWith("a"));
        bool closedEarly = false;
        QTimer press;
        QObject::connect(&press, &QTimer::timeout, [&] {
            if (QApplication::activeModalWidget() == &dlg.m_finishDialog) {
                press.stop();
                QTest::keyClick(&dlg.m_finishDialog, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
                closedEarly = dlg.IsConnected();
            }
        });
        press.start(0);
        Page().OnStop(); // returns once the dialog is gone
        QVERIFY(closedEarly);
        QVERIFY(!dlg.m_finishDialog.isVisible());
        QTRY_VERIFY(!dlg.IsConnected()); // the pass finished behind it
        QVERIFY(reader.Data().endsWith("z"));
        ClosePeer(fd);
    }

    // The Tx lamp over three ticks each: a flash shows once, an alarm blinks; the Rx lamp stays idle.
    void lamps() {
        CMainDialog& dlg = Open();
        dlg.OnTimer(TIMER_INDICATOR); // the lamps' first tick: idle
        QCOMPARE(dlg.m_nTxIndicator.load(), int(IND_IDLE));
        QList<int> seen;
        for (int state : {IND_FLASH, IND_ALARM_ON}) {
            dlg.m_nTxIndicator = state;
            for (int i = 0; i < 3; ++i) {
                dlg.OnTimer(TIMER_INDICATOR);
                seen << dlg.m_iconTx->property("iconId").toInt();
            }
        }
        QCOMPARE(seen, (QList<int>{IDI_TX_ACTIVITY, IDI_TX_IDLE, IDI_TX_IDLE, IDI_TX_ALARM, IDI_TX_IDLE,
                                   IDI_TX_ALARM}));
        QCOMPARE(dlg.m_iconRx->property("iconId").toInt(), int(IDI_RX_IDLE));
    }

    void quitQuestion() {
        m_app->m_settings.m_bShowWizard = 1;
        CMainDialog& dlg = Open();
        dlg.m_checkShowWizard->setChecked(false);
        QTest::keyClick(&dlg, Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QVERIFY(m_boxes.isEmpty());
        m_answers = {CMessageBox::No, CMessageBox::Cancel};
        QTest::keyClick(&dlg, Qt::Key_Escape);
        dlg.close();
        QVERIFY(dlg.isVisible());
        QCOMPARE(m_app->m_settings.m_bShowWizard, 1);
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes[0].strCaption + ": " + m_boxes[0].strText, "Quit: Are you sure you want to quit?");
        QCOMPARE(m_boxes[0].buttons, CMessageBox::Yes | CMessageBox::No | CMessageBox::Cancel);
        m_answers = {CMessageBox::Yes};
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(m_app->m_settings.m_bShowWizard, 0);
    }

    // A Run that cannot start: the design's words on the status line, said again at each try with
    // what to do next; Run stays usable.
    void refusedRuns_data() {
        QTest::addColumn<QString>("pos");
        QTest::addColumn<bool>("deleteFile");
        QTest::addColumn<int>("transport"); // 0 none, 1 serial, 2 network
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("wayOut"); // said after the status
        QTest::newRow("no POS chosen") << "" << false << 2 << "Warning: Go to POS Settings to select POS"
                                       << "";
        QTest::newRow("file deleted")
            << "Deleted" << true << 2 << "Error: Unable to find POS data"
            << QDir::toNativeSeparators(
                   " The file POS/Deleted.vlq is gone: choose a POS on the POS Settings page.");
        QTest::newRow("no transport")
            << "Plain" << false << 0
            << "Unable to Initiate Comms! Choose Serial or Network on the Communications page."
            << "";
        QTest::newRow("serial port absent")
            << "Plain" << false << 1
            << QString("Unable to Initiate Comms! COM1%1: no such device (not plugged in?)")
                   .arg(OnWindows() ? "" : " (/nonexistent/no-such-device)")
            << "";
    }
    void refusedRuns() {
        QFETCH(QString, pos);
        QFETCH(int, transport);
        QFETCH(QString, status);
        QFETCH(QString, wayOut);
        if (!pos.isEmpty())
            WritePos(pos, "<41>\n");
        Select(pos);
        m_app->m_settings.m_bUseSerial = transport == 1;
        m_app->m_settings.m_bUseNetwork = transport == 2;
        CMainDialog& dlg = Open();
        QFETCH(bool, deleteFile);
        if (deleteFile)
            QVERIFY(QFile::remove(m_dir.filePath("POS/" + pos + ".vlq")));
        CAccessibleRecorder recorder;
        Page().OnRun();
        Page().OnRun();
        QCOMPARE(Page().StatusText(), status);
        QCOMPARE(recorder.Announced(), QStringList(2, status + wayOut + " | Status"));
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(Page().m_bRunEnabled, 1);
        QVERIFY(!AccessibleState(Page().RunButton()).disabled);
        QVERIFY(AccessibleState(Control<QPushButton>(&Page(), IDC_ORDER_STOP)).disabled);
        QVERIFY(!dlg.IsRunning() && dlg.SettingsEnabled());
    }

    // An order file that cannot be read (a FIFO) is told in a box and played as an empty order: the
    // link opens and closes again, then Run is usable with the focus on it and the status says why
    // nothing was sent.
    void unreadableOrderFile() {
        SKIP_ON_WINDOWS("no FIFOs");
        const QString fifo = m_dir.filePath("POS/Fifo.vlq");
        QVERIFY(MakeSpecialFile(fifo, "fifo"));
        Select("Fifo");
        UseNetwork("127.0.0.39");
        CTestListener peer("127.0.0.39");
        CMainDialog& dlg = Open();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        CAccessibleRecorder recorder;
        QTest::keyClick(Page().RunButton(), Qt::Key_Return);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].strText, QStringLiteral("Unable to read Order file \"POS/Fifo.vlq\". "));
        const PeerHandle fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        const QString why = "Nothing was sent: the order file could not be read.";
        QTRY_COMPARE(Page().StatusText(), why);
        QCOMPARE(recorder.Announced().last(), why + " | Status");
        QCOMPARE(ReadFor(fd, 1, 1000), QByteArray()); // closed, nothing sent
        QCOMPARE(Page().m_bRunEnabled, 1);
        QCOMPARE(Page().m_bStopEnabled, 0);
        QCOMPARE(QApplication::focusWidget(), Page().RunButton());
        ClosePeer(fd);
        QFile::remove(fifo);
    }

    // An order by ear: Run, the order's start, a step by keyboard, Stop and a lost link are each said;
    // the button a screen reader finds usable is the one drawn so, and the focus follows it.
    void orderToldByEar() {
        Prepare("Ear", "<41>\n<42>\n", "127.0.0.38");
        CTestListener peer("127.0.0.38");
        CMainDialog& dlg = Open();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QWidget* run = Page().RunButton();
        auto* stop = Control<QPushButton>(&Page(), IDC_ORDER_STOP);
        QCOMPARE(QApplication::focusWidget(), run); // the window's first task
        CAccessibleRecorder recorder;
        QTest::keyClick(run, Qt::Key_Return);
        PeerHandle fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        QTRY_VERIFY(dlg.IsRunning());
        QCOMPARE(recorder.Announced(),
                 (QStringList{"Connecting to the OCS at 127.0.0.38 | Status", "Order running | Status"}));
        QVERIFY(AccessibleState(run).disabled);
        QVERIFY(!AccessibleState(stop).disabled);
        QCOMPARE(QApplication::focusWidget(), stop); // Enter, Enter: run, then stop
        recorder.Clear();
        Page().OnStop();
        // Said once the finishing dialog is gone, when the window's return has been spoken.
        QTRY_COMPARE(recorder.Announced(), QStringList{"Order stopped, connection closed | Status"});
        QVERIFY(!AccessibleState(run).disabled);
        QVERIFY(AccessibleState(stop).disabled);
        QCOMPARE(dlg.focusWidget(), run); // where the focus comes back to once the finishing dialog goes
        ClosePeer(fd);

        // Step mode from the keyboard: Shift+F10, the Menu key, and Run's action for screen readers.
        QSignalSpy steps(Page().RunButton(), SIGNAL(StepRequested()));
        QTest::keyClick(run, Qt::Key_F10, Qt::ShiftModifier);
        fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        QTRY_VERIFY(dlg.IsConnected());
        CPeerReader reader(fd);
        QTest::keyClick(run, Qt::Key_Menu);
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(run);
        QVERIFY(face->actionInterface());
        QVERIFY(face->actionInterface()->actionNames().contains("Step"));
        face->actionInterface()->doAction("Step");
        QCOMPARE(steps.size(), 3);
        // The first step may find the link still opening (its line is logged, not sent); the two
        // after it go out.
        QTRY_VERIFY(reader.Data().size() >= 2);
        // Line 1 is said as not sent when it found the link still opening, and then it is not sent.
        const QString first = recorder.Announced().filter(QRegularExpression("^Line")).value(0);
        QCOMPARE(reader.Data().startsWith("A"), first == "Line 1 of 2 played | Status");
        QVERIFY2(reader.Data().startsWith("A") ||
                     first == "Line 1 of 2 not sent: the connection is still being made | Status",
                 qPrintable(first));
        QCOMPARE(
            recorder.Announced().filter(QRegularExpression("^Line")).mid(1),
            (QStringList{"Line 2 of 2 played | Status", "Line 1 of 2 played, back at the start | Status"}));
        QVERIFY(!AccessibleState(run).disabled && !AccessibleState(stop).disabled); // both usable
        QTest::keyClick(run, Qt::Key_Return); // Run while stepping says how to go on
        QVERIFY2(recorder.Announced().last().startsWith("Stepping: each right click"),
                 qPrintable(recorder.Announced().last()));
        recorder.Clear();
        ResetAndClose(fd); // the OCS goes away
        const QString lost = "Connection Error! The OCS closed the connection.";
        QTRY_COMPARE(Page().StatusText(), lost);
        QCOMPARE(recorder.Announced().last(), lost + " Press Stop, then Run to start again. | Status");
    }

    // With the details hidden they are out of the tab chain and out of a screen reader's view; the
    // Details button says collapsed or expanded, and the change is said; Tab runs top to bottom.
    void detailsByKeyboard() {
        InstallProgramStyle();
        CMainDialog& dlg = Open();
        const auto chain = [&dlg] {
            QStringList names;
            for (QWidget* w = dlg.m_tabCtrl; names.size() < 20; w = w->nextInFocusChain()) {
                if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
                    names << AccessibleName(w);
                if (w->nextInFocusChain() == dlg.m_tabCtrl)
                    break;
            }
            return names;
        };
        QCOMPARE(chain(), (QStringList{"Send Order", "Run", "POS Interface:", "Details"}));
        QVERIFY(AccessibleState(dlg.m_btnDetails).expandable);
        QVERIFY(AccessibleState(dlg.m_btnDetails).collapsed);
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.m_btnDetails->setFocus();
        CAccessibleRecorder recorder;
        QTest::keyClick(dlg.m_btnDetails, Qt::Key_Space);
        QTRY_VERIFY(dlg.m_bExpanded);
        QVERIFY(AccessibleState(dlg.m_btnDetails).expanded);
        QCOMPARE(recorder.Announced(), QStringList{"Details expanded"});
        QCOMPARE(chain(), (QStringList{"Send Order", "Run", "POS Interface:", "Details", "Save",
                                       "[Tx] Data transmitted to OCS:", "[Rx] Data received from OCS:",
                                       "Show POS Emulator Setup Wizard at startup"}));
        // Every push button shows a mark when it has the focus, the picture-only and flat ones too.
        for (QWidget* button : {Page().RunButton(), (QWidget*)dlg.m_btnSave, (QWidget*)dlg.m_btnDetails}) {
            dlg.m_tabCtrl->setFocus();
            const QImage plain = button->grab().toImage();
            button->setFocus();
            QVERIFY(button->hasFocus() && button->grab().toImage() != plain);
        }
        QTest::keyClick(dlg.m_btnDetails, Qt::Key_Space);
        QTRY_VERIFY(!dlg.m_bExpanded);
        QCOMPARE(recorder.Announced().last(), QStringLiteral("Details collapsed"));
        QVERIFY(!dlg.m_btnSave->isVisible() && !dlg.m_listTx->isVisible());
    }

    // The window's side of an order: the buttons and pages follow it, the lists show what went and
    // came, Stop finishes the pass, and each Run reads the POS file afresh and starts with fresh lists.
    void tcpOrder() {
        Prepare("PC-POS T", "<c>start\r\n<02>AB<03>\r\n<02>Z<03>\r\n", "127.0.0.21", 1);
        CTestListener peer("127.0.0.21");
        CMainDialog& dlg = Open();
        Page().OnRun();
        QVERIFY(!Page().m_bRunEnabled && Page().m_bStopEnabled);
        PeerHandle fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        QTRY_VERIFY(dlg.IsRunning());
        dlg.SelectTab(2); // a settings page shows greyed while the order runs
        QVERIFY(dlg.m_pageComm->isVisible() && !dlg.m_pageComm->isEnabled());
        dlg.SelectTab(0);
        CPeerReader reader(fd);
        QTRY_COMPARE(reader.Data(), ScriptBytes("<02>AB<03><03>"));
        WriteBytes(fd, QByteArray("\x06OK\x00hidden", 10));
        QTRY_COMPARE(Lines(dlg.RxModel()), QStringList{"NETWORK:  <06>OK<00>hidden"});
        Page().OnStop(); // returns when the pass is finished
        QVERIFY(!dlg.IsRunning() && Page().m_bRunEnabled);
        QCOMPARE(reader.Data(), ScriptBytes("<02>AB<03><03><02>Z<03>Z"));
        QCOMPARE(Lines(dlg.TxModel()),
                 (QStringList{"COMMENT:  start", "NETWORK   <02>AB<03>", "NETWORK   <02>Z<03>"}));
        dlg.SelectTab(1);
        QVERIFY(dlg.m_pagePos->isEnabled());
        dlg.SelectTab(0);
        ClosePeer(fd);

        WritePos("PC-POS T", "<42>\n");
        Page().OnRun();
        fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        CPeerReader again(fd);
        QTRY_COMPARE(again.Data(), QByteArray("BB"));
        QCOMPARE(Lines(dlg.TxModel()).value(0), QStringLiteral("NETWORK   B"));
        QCOMPARE(Lines(dlg.RxModel()), QStringList());
        Page().OnStop();
        ClosePeer(fd);
    }

    void connectFailure() {
        Prepare("Plain", "<41>\n", "127.0.0.22"); // nothing listens
        CMainDialog& dlg = Open();
        Page().OnRun();
        QTRY_COMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].strCaption, QStringLiteral("Unable to connect to OCS"));
        QVERIFY(
            m_boxes[0].strText.startsWith("Unable to connect to OCS.  Check to make sure the OCS exists"));
        QCOMPARE(m_boxes[0].pOwner, &dlg);
        QCOMPARE(Page().StatusText(), QStringLiteral("Connection Error!"));
        QVERIFY(Page().m_bRunEnabled && !Page().m_bStopEnabled && dlg.m_nRxIndicator == IND_ALARM_ON);
        QVERIFY(!dlg.IsStepMode() && !dlg.IsRunning() && !dlg.IsConnecting());
        QVERIFY(!QGuiApplication::overrideCursor());

        // A host name is never looked up: it fails the same way.
        UseNetwork("localhost");
        m_boxes.clear();
        Page().OnRunStep();
        QTRY_COMPARE(m_boxes.size(), 1);
        QVERIFY(!dlg.IsStepMode());
    }

    // The serial device goes away in the middle of an order: the window closes the link and says
    // so; a Run while it is gone is refused and keeps the capture.
    void serialDeviceVanishes() {
        SKIP_WITHOUT_PTY();
        Prepare("Serial", "<41>\n");
        m_app->m_settings.m_bUseSerial = 1;
        m_app->m_settings.m_strPort = "COM4";
        auto pty = std::make_unique<CTestPty>("COM4");
        CMainDialog& dlg = Open();
        Page().OnRun();
        QVERIFY(dlg.IsConnected());
        CPeerReader reader(pty->Master());
        QTRY_COMPARE(reader.Data().left(1), QByteArray("A"));
        pty.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsConnected(), TestTimeout(5000));
        QCOMPARE(Page().StatusText(), QStringLiteral("Connection Error! COM4 went away (unplugged?)."));
        QCOMPARE(Lines(dlg.TxModel()).last(),
                 QStringLiteral("COMMENT:  Connection Error!")); // where it ended
        Page().OnStop();
        Page().OnRun();
        QCOMPARE(
            Page().StatusText(),
            QStringLiteral("Unable to Initiate Comms! COM4 (/nonexistent/no-such-device): no such device "
                           "(not plugged in?)"));
        QVERIFY(Lines(dlg.TxModel()).contains("SERIAL    A"));
        MaskAllComPorts();
    }

    // Right-click steps when released on Run, not when dragged off it first; a left click runs; a
    // stored POS whose file is gone is cleared at start.
    void rightClick() {
        Select("Gone Away");
        Open();
        QCOMPARE(m_app->m_settings.m_strPosInterface, QString());
        auto* run = static_cast<CRightClickButton*>(Page().RunButton());
        QSignalSpy steps(run, &CRightClickButton::StepRequested);
        QSignalSpy clicks(run, &QPushButton::clicked);
        const QPoint inside = run->rect().center(), outside(run->width() + 20, inside.y());
        const auto move = [run](QPoint to) {
            QMouseEvent e(QEvent::MouseMove, to, run->mapToGlobal(to), Qt::NoButton, Qt::RightButton, {});
            QCoreApplication::sendEvent(run, &e);
        };
        QTest::mousePress(run, Qt::RightButton, {}, inside);
        QVERIFY(run->isDown());
        QTest::mousePress(run, Qt::RightButton, {}, inside); // a second press changes nothing
        QTest::mouseRelease(run, Qt::RightButton, {}, inside);
        QCOMPARE(steps.count(), 1);
        QTest::mousePress(run, Qt::RightButton, {}, inside);
        move(outside);
        QVERIFY(!run->isDown());
        move(inside);
        QVERIFY(run->isDown());
        move(outside);
        QTest::mouseRelease(run, Qt::RightButton, {}, outside);
        QTest::mouseClick(run, Qt::LeftButton, {}, inside);
        QCOMPARE(steps.count(), 1); // released outside: no step
        QVERIFY(!run->isDown() && clicks.count() == 1);
        QCOMPARE(Page().StatusText(), QStringLiteral("Warning: Go to POS Settings to select POS"));
    }

    // A name typed in the save dialog: what exists is used as typed (a device or FIFO then meets the
    // writer's refusal instead of becoming "null.TXT"); only a new name without extension gets one.
    void savePathForChosenName_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const char* chosen, const char* expected) {
            QTest::newRow(tag) << QString(chosen) << QString(expected);
        };
        row("device", "/dev/null", "/dev/null");
        // Windows' device names, in any folder and with any extension: refused, whatever the path.
        for (const char* device : {"NUL", "COM5", "con", "aux.log"})
            QTest::newRow(qPrintable(QStringLiteral("Windows device %1").arg(device)))
                << QStringLiteral("@/%1").arg(device) << "-";
        row("new name", "@/capture", "@/capture.TXT");
        row("new name with extension", "@/capture.log", "@/capture.log");
        row("the extension's case aside, an existing file", "@/lower", "@/lower.txt");
        row("existing file without extension", "@/existing", "@/existing");
        row("fifo", "@/fifo", "@/fifo");
        row("dangling link", "@/link", "@/link");
    }
    void savePathForChosenName() {
        QFETCH(QString, chosen);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(WriteFile(dir.filePath("existing"), "old") && WriteFile(dir.filePath("lower.txt"), "old"));
        const bool windowsDevice = expected == "-";
        if (windowsDevice && !OnWindows())
            QSKIP("a name of a Windows device is a plain name elsewhere");
        if (chosen == "/dev/null" || chosen.endsWith("fifo") || chosen.endsWith("link"))
            SKIP_ON_WINDOWS("no devices in folders, FIFOs nor symbolic links a user may make on Windows");
        // Where they cannot be made (Windows) the rows that need them are skipped; elsewhere they fail.
        MakeSpecialFile(dir.filePath("fifo"), "fifo");
        QFile::link(dir.filePath("nowhere"), dir.filePath("link"));
        chosen.replace('@', dir.path());
        expected.replace('@', dir.path());
        if (!windowsDevice)
            QCOMPARE(SavePathFor(chosen, "TXT"), expected);
        else // saving there is refused, never written to the device
            QCOMPARE(WriteCaptureFile(SavePathFor(chosen, "TXT"), "line\r\n"), CAPTURE_CANNOT_OPEN);
    }

    void saveCapture() {
        CMainDialog& dlg = Open();
        QString chosen;
        SSaveFileRequest asked;
        SetSaveFileHandler([&](const SSaveFileRequest& r) {
            asked = r;
            return chosen;
        });
        dlg.OnSaveCapture();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].strCaption, QStringLiteral("No Data Captured"));
        QCOMPARE(m_boxes[0].strText,
                 QStringLiteral("There is no data to save.\n\nSend orders to the OCS to capture data."));
        QVERIFY(asked.strTitle.isEmpty());

        dlg.AddTxLine("\x02"
                      "A",
                      TXLINE_NETWORK);
        dlg.AddRxLine("\x06", false);
        dlg.OnSaveCapture(); // cancelled
        QCOMPARE((QStringList{asked.strTitle, asked.strProposedName, asked.strFilters, asked.strDefaultSuffix,
                              asked.strFolder}),
                 (QStringList{"Save Rx and Tx Data to Disk", "DataCapture.txt",
                              "Text Files (*.txt);;All Files (*.*)", "TXT", "."}));

        chosen = m_dir.filePath("capture.txt");
        CAccessibleRecorder recorder;
        dlg.OnSaveCapture();
        QCOMPARE(recorder.Announced(), QStringList{"Capture saved to capture.txt"});
        const QByteArray content = ReadAll(chosen);
        QCOMPARE(content, FormatCaptureFile(dlg.TxModel().Lines(), dlg.RxModel().Lines()));
        QVERIFY(content.contains("NETWORK   <02>A\r\n"));
        QVERIFY(content.endsWith("NETWORK:  <06>\r\n"));
        QCOMPARE(QDir::currentPath(), QDir(m_dir.path()).canonicalPath());

        chosen = m_dir.path(); // a folder cannot be written; the box says why
        dlg.OnSaveCapture();
        QVERIFY2(m_boxes.last().strText.startsWith("Unable to open file.\n\n" +
                                                   QDir::toNativeSeparators(m_dir.path()) +
                                                   ": Not a regular file"),
                 qPrintable(m_boxes.last().strText));
        QCOMPARE(m_boxes.last().strCaption, QStringLiteral("Error"));
        QCOMPARE(recorder.Announced().size(), 1); // a failure is not said to be a save

        SetSaveFileHandler(nullptr);
    }

    // Journals that cannot be kept (their folder cannot be made): the order plays, the lists fill in
    // memory, and the user is told once.
    void journalFolderNotWritable() {
        const QString folder = CaptureJournalsFolder();
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QDir().mkpath(QFileInfo(folder).absolutePath()));
        {
            QFile blocker(folder); // a file where the folder should be
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        const PeerHandle fd = StartPlainOrder("127.0.0.36");
        QVERIFY(fd != PEER_NONE);
        CPeerReader reader(fd);
        for (int i = 0; i < 3; ++i)
            WriteBytes(fd, "\x06");
        QTRY_VERIFY_WITH_TIMEOUT(reader.Data().size() >= 3, 5000);
        QTRY_VERIFY(m_dlg->m_modelRx.rowCount() >= 1);
        QCOMPARE(m_dlg->m_modelTx.rowCount(), int(m_dlg->m_modelTx.Lines().Count()));
        QVERIFY(Lines(m_dlg->m_modelTx).count("NETWORK   A") >= 3);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].strCaption, QStringLiteral("Capture"));
        QVERIFY(m_boxes[0].strText.startsWith("The capture cannot be kept on disk ("));
        QVERIFY(m_boxes[0].strText.contains("held in memory only"));
        Page().OnStop();
        ClosePeer(fd);
        m_dlg.reset();
        QVERIFY(QFile::remove(folder));
    }

    // Every control the operator has, in every state of the engine: nothing hangs or crashes, and
    // afterwards the next order plays (or, after quitting, the OCS sees the connection end).
    void everyActionInEveryState_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("action");
        for (const char* state : {"idle", "connecting", "playing", "stepping", "closed by OCS"}) {
            for (const char* action : {"stop", "run", "step", "quit"})
                QTest::addRow("%s, %s", state, action) << state << action;
        }
    }
    void everyActionInEveryState() {
        QFETCH(QString, state);
        QFETCH(QString, action);
        Prepare("Plain", "<41>\n<42>\n", "127.0.0.51");
        const bool connecting = state == QLatin1String("connecting");
        CTestListener peer("127.0.0.51", connecting ? 0 : 8);
        COcsClient occupier; // fills the backlog, so that a connect stays under way
        if (connecting) {
            QCOMPARE(occupier.Connect("127.0.0.51", OCS_TCP_PORT), 0);
            QTRY_VERIFY(occupier.IsConnected());
        }
        CMainDialog& dlg = Open();
        PeerHandle fd = PEER_NONE;
        if (state != QLatin1String("idle")) {
            if (state == QLatin1String("stepping"))
                Page().OnRunStep();
            else
                Page().OnRun();
            if (connecting) {
                QVERIFY(dlg.IsConnecting());
            } else {
                fd = peer.Accept();
                QVERIFY(fd != PEER_NONE);
                QTRY_VERIFY(dlg.IsRunning());
            }
            if (state == QLatin1String("closed by OCS")) {
                ResetAndClose(fd);
                fd = -1;
                QTRY_VERIFY(!dlg.IsRunning());
            }
        }

        if (action == QLatin1String("stop")) {
            Page().OnStop();
        } else if (action == QLatin1String("run")) {
            Page().OnRun();
        } else if (action == QLatin1String("step")) {
            Page().OnRunStep();
        } else {
            m_answers << CMessageBox::Yes;
            dlg.reject();
            QCOMPARE(dlg.result(), int(QDialog::Accepted));
            m_dlg.reset();
            if (fd != PEER_NONE) {
                QByteArray rest;
                long n;
                while ((n = ReadWithin(fd, 3000, rest)) > 0) {
                }
                QCOMPARE(n, 0L); // closed, neither reset nor left open
                ClosePeer(fd);
            }
            return;
        }

        if (fd == PEER_NONE && !connecting && dlg.IsConnecting()) { // the action started an order
            fd = peer.Accept();
            QVERIFY(fd != PEER_NONE);
            QTRY_VERIFY(!dlg.IsConnecting());
        }
        if (connecting) { // lets a connect still under way through
            const PeerHandle occupied = peer.Accept();
            QVERIFY(occupied != PEER_NONE);
            ClosePeer(occupied);
            occupier.Close();
            // A SYN dropped while the backlog was full is retried after a second or more; one the
            // kernel may have dropped for good is ended by Stop below.
            if (!QTest::qWaitFor([&] { return !dlg.IsConnecting(); }, TestTimeout(5000)))
                Page().OnStop();
            QVERIFY(!dlg.IsConnecting());
            fd = peer.Accept(dlg.IsRunning() ? 5000 : 0);
        }
        for (int i = 0; i < 3 && (dlg.IsRunning() || dlg.IsStepMode() || !Page().m_bRunEnabled); ++i)
            Page().OnStop();
        QVERIFY(!dlg.IsRunning());
        QVERIFY(!dlg.IsStepMode());
        QCOMPARE(Page().m_bRunEnabled, 1);
        if (fd != PEER_NONE)
            ClosePeer(fd);
        // An attempt Stop ended may still have been taken by the kernel once the backlog had room.
        for (PeerHandle stale; connecting && (stale = peer.Accept(300)) != PEER_NONE;)
            ClosePeer(stale);

        Page().OnRun();
        const PeerHandle next = peer.Accept();
        QVERIFY(next != PEER_NONE);
        CPeerReader reader(next);
        QTRY_COMPARE(reader.Data().left(1), QByteArray("A"));
        Page().OnStop();
        QVERIFY(!dlg.IsRunning());
        ClosePeer(next);
    }

    // Saving while replies pour in writes the lists as they stand at that moment, and the lists go on
    // taking every byte.
    void saveWhileReceiving() {
        const PeerHandle fd = StartPlainOrder("127.0.0.52");
        QVERIFY(fd != PEER_NONE);
        CMainDialog& dlg = *m_dlg;
        const QByteArray sent = NumberedReplies(50000);
        std::thread flood([&] { WriteBytes(fd, sent); });
        const QString path = m_dir.filePath("flood.txt");
        SetSaveFileHandler([&](const SSaveFileRequest&) { return path; });
        QTRY_VERIFY(dlg.RxModel().Lines().Count() > 10);
        dlg.OnSaveCapture();
        const QByteArray expected = FormatCaptureFile(dlg.TxModel().Lines(), dlg.RxModel().Lines());
        const qsizetype savedLines = dlg.RxModel().Lines().Count();
        SetSaveFileHandler(nullptr);
        QCOMPARE(ReadAll(path), expected);

        QTRY_VERIFY_WITH_TIMEOUT(RxTextShown(dlg.RxModel()).size() >= sent.size(), 30000);
        flood.join();
        QCOMPARE(RxTextShown(dlg.RxModel()), sent);
        QVERIFY(dlg.RxModel().Lines().Count() >= savedLines);
        QVERIFY(m_boxes.isEmpty());
        Page().OnStop();
        ClosePeer(fd);
    }
};

POSEMU_TEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
