#include "app/emulator_app.h"
#include "res/resource_ids.h"
#include "test_peer.h"
#include "test_support.h"
#include "transport/port_names.h"
#include "ui/comm_settings_page.h"
#include "ui/dialog_builder.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/pos_settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabBar>
#include <QTimer>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}
// The controls' enabled state in a fixed order: IDC_COMM_AUTODETECT IDC_COMM_DETECT_NOW IDC_COMM_PORT
// IDC_COMM_PORT_LABEL 1007.
QString EnableState(const QWidget* page) {
    QString s;
    for (int id :
         {IDC_COMM_AUTODETECT, IDC_COMM_DETECT_NOW, IDC_COMM_PORT, IDC_COMM_PORT_LABEL, IDC_COMM_IP_ADDRESS})
        s += FindControl(page, id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}
} // namespace

// The profile store and the pages that edit it.
class TestSettings : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<CEmulatorApp> m_app;
    QList<SMessageBox> m_boxes;

    void Touch(const QString& name) { QVERIFY(WriteFile(m_dir.filePath("POS/" + name), "<41>\n")); }
    void ClearStore() {
        auto store = OpenProfileStore();
        store->clear();
        store->sync();
        QFile::remove(store->fileName());
    }
    void WriteStoreText(const QByteArray& text) { QVERIFY(WriteProfileText(text)); }

private slots:
    void initTestCase() {
        InstallNoiseFilter();
        QVERIFY(QDir(m_dir.path()).mkpath("POS"));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        for (const char* name : {"beta.vlq", "Alpha.VLQ", "PC-POS 3.vlq", "Pc-Pos lite.vlq", "zeta one.vlq"})
            Touch(name);
        SetMessageBoxHandler([this](const SMessageBox& box) {
            m_boxes << box;
            return CMessageBox::Ok;
        });
    }
    void init() {
        ClearStore();
        MaskAllComPorts();
        m_boxes.clear();
        m_app = std::make_unique<CEmulatorApp>();
        m_app->LoadSettings();
    }

    // An adapter plugged in while the program runs gets its COM name when the page is shown or the
    // COM list is opened, and the list's tooltip says which adapter it is.
    void commAdapterAppears_data() {
        QTest::addColumn<bool>("byOpeningList");
        QTest::newRow("page shown") << false;
        QTest::newRow("list opened") << true;
    }
    void commAdapterAppears() {
        SKIP_WITHOUT_PTY();
        QFETCH(bool, byOpeningList);
        QDir byId(qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID"));
        QVERIFY(byId.removeRecursively() && QDir().mkpath(byId.path()));
        QVERIFY(QFile::remove(PortsFolder() + "/COM3"));
        m_app->m_settings.m_strPort = "COM3";
        CCommSettingsPage page(m_app.get(), nullptr);
        page.ShowPage(true);
        QComboBox* list = Control<QComboBox>(&page, IDC_COMM_PORT);
        QVERIFY2(list->toolTip().startsWith("COM3 ") && list->toolTip().contains(" /dev/ttyS2"),
                 qPrintable(list->toolTip()));
        CTestPty adapter;
        const QString id = "usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";
        QVERIFY(QFile::link(QString::fromLatin1(adapter.SlavePath()), byId.filePath(id)));
        if (byOpeningList) {
            list->showPopup();
            list->hidePopup();
        } else {
            page.ShowPage(false);
            page.ShowPage(true);
        }
        QCOMPARE(list->toolTip(), "COM3 is the USB adapter " + id + " on this machine");
        // Each item shows what it names; the value stays the name.
        QCOMPARE(list->itemText(2), QStringLiteral("COM3 - FTDI FT232R USB UART A10K1234"));
        QCOMPARE(list->itemText(3), QStringLiteral("COM4 - not connected"));
        QCOMPARE(list->currentData().toString(), QStringLiteral("COM3"));
        QCOMPARE(QFile::symLinkTarget(PortsFolder() + "/COM3"), byId.filePath(id));
        QCOMPARE(Items(list).size(), 14); // the items stay COM1..COM14
        QVERIFY(byId.removeRecursively());
    }

    // Every list and field is tied to its label: the label's buddy and labelled-by relation, and its
    // text as the description Orca reads after the value a combo box is named by. Orca reads a labelled
    // list by its label: the label carries the value, and says a new one.
    void fieldsTiedToLabels() {
        CPosSettingsPage pos(m_app.get(), nullptr);
        CCommSettingsPage comm(m_app.get(), nullptr);
        QStringList tied;
        for (QWidget* page : {static_cast<QWidget*>(&pos), static_cast<QWidget*>(&comm)}) {
            page->show();
            QApplication::setActiveWindow(page);
            QVERIFY(QTest::qWaitForWindowActive(page));
            for (QLabel* label : page->findChildren<QLabel*>()) {
                QWidget* field = label->buddy();
                if (!field)
                    continue;
                tied << field->accessibleDescription();
                QVERIFY(!tied.last().isEmpty() && label->text().startsWith(tied.last()));
                bool labelled = false;
                for (const auto& relation :
                     QAccessible::queryAccessibleInterface(field)->relations(QAccessible::Label))
                    labelled = labelled || relation.first->object() == label;
                QVERIFY2(labelled, qPrintable(tied.last()));
                auto* combo = qobject_cast<QComboBox*>(field);
                if (!combo || combo->count() < 2)
                    continue;
                combo->setCurrentIndex(0);
                QCOMPARE(label->accessibleName(), tied.last() + ": " + combo->itemText(0));
                combo->setEnabled(true);
                combo->setVisible(true);
                combo->setFocus();
                QVERIFY(combo->hasFocus());
                CAccessibleRecorder recorder;
                combo->setCurrentIndex(1);
                QCOMPARE(label->accessibleName(), tied.last() + ": " + combo->itemText(1));
                QCOMPARE(recorder.Announced(), QStringList{combo->itemText(1)});
            }
        }
        tied.sort();
        QCOMPARE(tied, (QStringList{"Baud rate", "COM port", "Data bits", "Flow ctrl", "OCS IP address",
                                    "POS", "Parity", "Stop bits"}));
    }

    // Tab stops at the chosen connection only; the other is reached with the arrow keys.
    void chosenRadioIsTabStop() {
        for (bool network : {false, true}) {
            m_app->m_settings.m_bUseNetwork = network;
            m_app->m_settings.m_bUseSerial = !network;
            CCommSettingsPage page(m_app.get(), nullptr);
            auto* serial = Control<QRadioButton>(&page, IDC_COMM_SERIAL);
            auto* net = Control<QRadioButton>(&page, IDC_COMM_NETWORK);
            QCOMPARE(bool(net->focusPolicy() & Qt::TabFocus), network);
            (network ? serial : net)->click(); // chosen by the arrow keys or a click: the tab stop moves
            QCOMPARE(bool(serial->focusPolicy() & Qt::TabFocus), network);
            QCOMPARE(bool(net->focusPolicy() & Qt::TabFocus), !network);
        }
    }

    // Detect Now is told as it starts and as it moves from port to port; a search that finds nothing
    // leaves what the user set and has not applied yet (Serial, manual settings, 19200), and the focus
    // on Detect Now.
    void detectNowTold_data() {
        QTest::addColumn<bool>("storedNetwork");
        QTest::newRow("serial stored") << false;
        QTest::newRow("network stored") << true;
    }
    void detectNowTold() {
        QFETCH(bool, storedNetwork);
        m_app->m_settings.m_bUseNetwork = storedNetwork;
        m_app->m_settings.m_bUseSerial = !storedNetwork;
        CCommSettingsPage page(m_app.get(), nullptr);
        page.show();
        Control<QRadioButton>(&page, IDC_COMM_SERIAL)->click(); // Serial, not stored yet
        Control<QPushButton>(&page, IDC_COMM_EXPAND)->click();  // the details, where Detect Now is
        Control<QCheckBox>(&page, IDC_COMM_AUTODETECT)->click();
        auto* baud = Control<QComboBox>(&page, IDC_COMM_BAUD);
        baud->setCurrentIndex(baud->findText("19200"));
        auto* detect = Control<QPushButton>(&page, IDC_COMM_DETECT_NOW);
        CAccessibleRecorder recorder;
        page.OnDetectNow();   // every COM name is masked: nothing answers
        QThread::msleep(300); // the fast failures all wait for this thread at once, as under Wine
        QTRY_COMPARE(m_boxes.size(), 1);
        const QStringList said = recorder.Announced();
        QCOMPARE(said.value(0), QStringLiteral("Searching the serial ports for an OCS | Detect Now"));
        QStringList tried;
        for (int n = 1; n <= 11; ++n)
            tried << QStringLiteral("Trying COM%1 at 9600 baud").arg(n)
                  << QStringLiteral("Trying COM%1 at 19200 baud").arg(n);
        QCOMPARE(said.mid(1, 22), tried); // in the order tried, also when they all come at once
        QCOMPARE(m_boxes.value(0).strCaption, QStringLiteral("OCS Not Found"));
        QCOMPARE(said.size(), 23);
        QCOMPARE(page.focusWidget(), detect);
        QVERIFY(page.IsSerialSelected() && !Control<QCheckBox>(&page, IDC_COMM_AUTODETECT)->isChecked());
        QCOMPARE(baud->currentText(), QStringLiteral("19200"));
        QCOMPARE(m_app->m_settings.m_bUseNetwork, int(storedNetwork)); // nothing stored either
    }

    void commEnableRules_data() {
        QTest::addColumn<bool>("network");
        QTest::addColumn<bool>("autodetect");
        QTest::addColumn<QString>("state");
        QTest::newRow("serial, auto") << false << true << "11000";
        QTest::newRow("serial, manual") << false << false << "11110";
        QTest::newRow("network") << true << false << "00001";
    }
    void commEnableRules() {
        QFETCH(bool, network);
        QFETCH(bool, autodetect);
        QFETCH(QString, state);
        CCommSettingsPage page(m_app.get(), nullptr);
        if (network)
            QTest::mouseClick(Control<QRadioButton>(&page, IDC_COMM_NETWORK), Qt::LeftButton);
        if (Control<QCheckBox>(&page, IDC_COMM_AUTODETECT)->isChecked() != autodetect)
            Control<QCheckBox>(&page, IDC_COMM_AUTODETECT)->click();
        QCOMPARE(EnableState(&page), state);
    }

    void commStoredValues() {
        CAppSettings& s = m_app->m_settings;
        s.m_strPort = "com3";
        s.m_strBaud = "38400";
        s.m_strParity = "";
        s.m_bUseNetwork = 5;
        s.m_bUseSerial = 0;
        s.m_strIpAddress = "not an address ";
        CCommSettingsPage page(m_app.get(), nullptr);
        QVERIFY(page.IsNetworkSelected());
        QCOMPARE(Control<QComboBox>(&page, IDC_COMM_PORT)->currentData().toString(), QStringLiteral("COM3"));
        QCOMPARE(Items(Control<QComboBox>(&page, IDC_COMM_BAUD)), (QStringList{"9600", "19200", "38400"}));
        QCOMPARE(Control<QComboBox>(&page, IDC_COMM_PARITY)->currentText(), QString());
        QCOMPARE(page.m_bModified, 0);
        QCOMPARE(Control<QComboBox>(&page, IDC_COMM_PORT)->toolTip(),
                 QStringLiteral("COM3 stands for %1, which is not connected").arg(PortDeviceShown("COM3")));
        page.LoadFromSettings(); // appended items stay, and are not appended twice
        QCOMPARE(Items(Control<QComboBox>(&page, IDC_COMM_BAUD)).size(), 3);
        page.SaveToSettings();
        QCOMPARE(s.m_strPort, QStringLiteral("COM3"));
        QCOMPARE(s.m_strBaud, QStringLiteral("38400"));
        QCOMPARE(s.m_strParity, QString());
        QCOMPARE(s.m_bUseNetwork, 1);
        QCOMPARE(s.m_bUseSerial, 0);
        QCOMPARE(s.m_strIpAddress, QStringLiteral("not an address "));

        s.m_strPort = "COM15";
        page.LoadFromSettings();
        QCOMPARE(Control<QComboBox>(&page, IDC_COMM_PORT)->count(), 15);
        QCOMPARE(Control<QComboBox>(&page, IDC_COMM_PORT)->currentIndex(), 14);
    }

    void commModifiedRules() {
        { // the checked Serial radio differs from the stored 0: any change marks the page
            CCommSettingsPage page(m_app.get(), nullptr);
            QVERIFY(page.IsSerialSelected() && page.m_bModified == 0);
            Control<QComboBox>(&page, IDC_COMM_BAUD)->activated(0);
            QCOMPARE(page.m_bModified, 1);
        }
        m_app->m_settings.m_bUseSerial = 1;
        CCommSettingsPage page(m_app.get(), nullptr);
        QCOMPARE(page.m_bModified, 0);
        page.OnSettingChanged(); // equal: not marked
        QCOMPARE(page.m_bModified, 0);
        Control<QLineEdit>(&page, IDC_COMM_IP_ADDRESS)->setText("127.0.0.2"); // typing alone marks the page
        QCOMPARE(page.m_bModified, 1);
        Control<QLineEdit>(&page, IDC_COMM_IP_ADDRESS)
            ->setText("127.0.0.1"); // equality never clears the flag
        QCOMPARE(page.m_bModified, 1);
        page.SaveToSettings();
        QCOMPARE(page.m_bModified, 0);
        m_app->m_settings.m_bAutodetect = 7; // stored flags other than 0/1 always differ
        page.OnSettingChanged();
        QCOMPARE(page.m_bModified, 1);
    }

    void commExpandAndDisable() {
        CCommSettingsPage page(m_app.get(), nullptr);
        page.show();
        auto* expand = Control<QPushButton>(&page, IDC_COMM_EXPAND);
        QVERIFY(!FindControl(&page, IDC_COMM_PORT)->isVisible());
        QCOMPARE(expand->accessibleDescription(), QStringLiteral("Shows the serial details"));
        QTest::mouseClick(expand, Qt::LeftButton);
        QCOMPARE(expand->text(), QStringLiteral("<<"));
        QCOMPARE(expand->accessibleDescription(), QStringLiteral("Hides the serial details"));
        QVERIFY(QAccessible::queryAccessibleInterface(expand)->state().expanded);
        QVERIFY(FindControl(&page, IDC_COMM_PORT)->isVisible());
        QVERIFY(!FindControl(&page, IDC_COMM_SERIAL_NOTE)->isVisible());
        QTest::mouseClick(expand, Qt::LeftButton);
        QCOMPARE(expand->text(), QStringLiteral(">>"));
        page.setEnabled(false);
        QCOMPARE(expand->text(), QStringLiteral("<<"));
        QVERIFY(FindControl(&page, IDC_COMM_PORT)->isVisible());
        page.setEnabled(true);
        QCOMPARE(expand->text(), QStringLiteral("<<"));
        QCOMPARE(EnableState(&page), QStringLiteral("11000"));
        QTest::keyClick(&page, Qt::Key_Escape);
        QTest::keyClick(&page, Qt::Key_Return);
        QVERIFY(page.isVisible());
    }

    // Detect Now finds a simulated OCS answering on COM3 at 19200 and the page shows it.
    void detectNow() {
        SKIP_WITHOUT_PTY();
        CTestPty pty("COM3");
        CSerialPeer ocs(pty, [](int, int baud) { return QByteArray(baud == 19200 ? 1 : 0, 0x06); });
        m_app->m_ocsDetector = COcsDetector(QByteArray(1, 6), QByteArray(1, 5), 300, 5);
        m_app->m_settings.m_bUseNetwork = 1;
        CCommSettingsPage page(m_app.get(), nullptr);
        QTest::mouseClick(Control<QRadioButton>(&page, IDC_COMM_NETWORK), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(&page, IDC_COMM_DETECT_NOW),
                          Qt::LeftButton); // disabled on Network
        QCOMPARE(m_boxes.size(), 0);
        QTest::mouseClick(Control<QRadioButton>(&page, IDC_COMM_SERIAL), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(&page, IDC_COMM_DETECT_NOW), Qt::LeftButton);
        QVERIFY(page.IsDetecting()); // the page stays responsive meanwhile
        QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, TestTimeout(15000));
        QCOMPARE(m_boxes[0].strCaption, QStringLiteral("OCS Found"));
        // The design's text, then where and how it answered.
        const QString text = m_boxes[0].strText;
        QVERIFY2(
            text.startsWith("An OCS unit has been found. \n\nYour connection settings have been changed to "
                            "match the detected OCS's settings.\n\nFound on COM3 (/dev/") &&
                text.endsWith(") at 19200 baud, parity Odd, 8 data bits, 1 stop bit."),
            qPrintable(text));
        QVERIFY(page.IsSerialSelected() && page.m_bModified == 0);
        QCOMPARE(Control<QComboBox>(&page, IDC_COMM_PORT)->currentText() + " " +
                     Control<QComboBox>(&page, IDC_COMM_BAUD)->currentText() + " " +
                     Control<QComboBox>(&page, IDC_COMM_PARITY)->currentText() + " " + EnableState(&page),
                 QStringLiteral("COM3 19200 Odd 11000")); // auto-detect checked, its details greyed
    }

    // Escape on the search's dialog cancels it within a second: no box, the settings as they were.
    void detectNowCancelled() {
        SKIP_WITHOUT_PTY();
        CTestPty pty("COM1"); // there, never answering
        m_app->m_ocsDetector = COcsDetector(QByteArray(1, 6), QByteArray(1, 5), 5000, 5);
        m_app->m_settings.m_bUseNetwork = 1;
        const CAppSettings before = m_app->m_settings;
        CCommSettingsPage page(m_app.get(), nullptr);
        page.show();
        QTest::mouseClick(Control<QRadioButton>(&page, IDC_COMM_SERIAL), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(&page, IDC_COMM_DETECT_NOW), Qt::LeftButton);
        QProgressDialog* progress = page.findChild<QProgressDialog*>();
        QVERIFY(progress);
        QTRY_COMPARE(progress->labelText(), QStringLiteral("Trying COM1 at 9600 baud"));
        QVERIFY(QGuiApplication::overrideCursor());
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(progress, Qt::Key_Escape);
        QTRY_VERIFY(!page.IsDetecting());
        QVERIFY2(clock.elapsed() < TestTimeout(2000), qPrintable(QString::number(clock.elapsed())));
        QVERIFY(m_boxes.isEmpty());
        QTRY_VERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(m_app->m_settings.m_bUseNetwork, before.m_bUseNetwork);
        QCOMPARE(m_app->m_settings.m_strPort, before.m_strPort);
    }

    void posList() {
        m_app->m_settings.m_strPosInterface = "pc-pos 3";
        CPosSettingsPage page(m_app.get(), nullptr);
        QCOMPARE(Items(page.PosList()),
                 (QStringList{"Alpha", "beta", "PC-POS 3", "Pc-Pos lite", "zeta one"}));
        QCOMPARE(page.GetSelectedPos(), QStringLiteral("PC-POS 3"));
        QCOMPARE(page.m_bModified, 0);
        // The stored name under another letter case does not mark the page.
        page.PosList()->activated(2);
        QCOMPARE(page.m_bModified, 0);
        QVERIFY(page.ChecksumBox()->isChecked());

        m_app->m_settings.m_strPosInterface = "Gone";
        page.LoadFromSettings();
        QCOMPARE(page.PosList()->currentIndex(), -1);
        QCOMPARE(page.GetSelectedPos(), QString());
        QCOMPARE(page.PosList()->count(), 5);
        Touch("New.vlq");
        page.LoadFromSettings();
        QCOMPARE(page.PosList()->count(), 6);
        QFile::remove(m_dir.filePath("POS/New.vlq"));
    }

    void pcPosRule_data() {
        QTest::addColumn<QString>("pos");
        QTest::addColumn<int>("checksum");
        QTest::newRow("PC-POS") << "PC-POS 3" << 1;
        QTest::newRow("mixed case") << "Pc-Pos lite" << 1;
        QTest::newRow("other") << "Alpha" << 0;
    }
    void pcPosRule() {
        QFETCH(QString, pos);
        QFETCH(int, checksum);
        m_app->m_settings.m_bCalcChecksum = 1;
        m_app->m_settings.m_bIncludeEtx = 1;
        CPosSettingsPage page(m_app.get(), nullptr);
        page.PosList()->setCurrentIndex(FindStringExact(page.PosList(), pos));
        page.PosList()->activated(page.PosList()->currentIndex());
        QCOMPARE(page.m_bModified, 1);
        page.SaveToSettings();
        QCOMPARE(m_app->m_settings.m_strPosInterface, pos);
        QCOMPARE(m_app->m_settings.m_bCalcChecksum, checksum);
        QCOMPARE(m_app->m_settings.m_bIncludeEtx, 0);
    }

    void posFlagsSurviveWithoutSelection() {
        m_app->m_settings.m_bCalcChecksum = 1;
        m_app->m_settings.m_bIncludeEtx = 1;
        m_app->m_settings.m_strPosInterface = "PC-POS 3";
        CPosSettingsPage page(m_app.get(), nullptr);
        // The misspelt box keeps its text on screen and says what it means.
        QCOMPARE(page.EtxBox()->text() + " | " + page.EtxBox()->accessibleDescription(),
                 QStringLiteral("Inlcude ETX | Include ETX in checksum"));
        page.SaveToSettings();
        QCOMPARE(m_app->m_settings.m_bIncludeEtx, 1);
        QCOMPARE(m_app->m_settings.m_bCalcChecksum, 1);
        // Re-enabling with the checksum off unchecks ETX.
        page.ChecksumBox()->setChecked(false);
        page.EtxBox()->setChecked(true);
        page.setEnabled(false);
        page.setEnabled(true);
        QVERIFY(!page.EtxBox()->isChecked());
    }

    // In the main window: leaving a tab stores its edits; coming back reloads them; a connection
    // disables both pages.
    void tabsStoreAndReload() {
        m_app->m_settings.m_bUseSerial = 1;
        CMainDialog dlg(m_app.get());
        dlg.show();
        dlg.SelectTab(2);
        QVERIFY(dlg.m_pageComm->isVisible());
        auto* ip = Control<QLineEdit>(dlg.m_pageComm, IDC_COMM_IP_ADDRESS);
        QTest::mouseClick(Control<QRadioButton>(dlg.m_pageComm, IDC_COMM_NETWORK), Qt::LeftButton);
        ip->setText("127.0.0.99");
        dlg.SelectTab(1);
        QCOMPARE(m_app->m_settings.m_strIpAddress, QStringLiteral("127.0.0.99"));
        QCOMPARE(m_app->m_settings.m_bUseNetwork, 1);
        QCOMPARE(m_app->m_settings.m_bUseSerial, 0);
        auto* pos = static_cast<CPosSettingsPage*>(dlg.m_pagePos);
        pos->PosList()->setCurrentIndex(1);
        pos->PosList()->activated(1);
        m_app->m_settings.m_strIpAddress = "127.0.0.98"; // changed elsewhere, shown on return
        dlg.SelectTab(2);
        QCOMPARE(m_app->m_settings.m_strPosInterface, QStringLiteral("beta"));
        QCOMPARE(ip->text(), QStringLiteral("127.0.0.98"));
        dlg.SelectTab(0);
        QVERIFY(!dlg.m_pageComm->isVisible() && !dlg.m_pagePos->isVisible());
    }

    // Without the wizard, start-up goes straight to the main window; a run that ends there writes all
    // 14 entries, even if nothing changed, under their sections, the wizard flag at the top level.
    void runWritesAllEntriesInPlace() {
        WriteStoreText("[General]\nShow%20Wizard%20on%20Startup=0\n");
        auto previous = SetMessageBoxHandler([](const SMessageBox&) { return CMessageBox::Yes; });
        QString shown;
        QTimer::singleShot(300, [&shown] {
            if (QWidget* window = QApplication::activeModalWidget()) {
                shown = window->metaObject()->className();
                window->close();
            }
        });
        QCOMPARE(theApp.InitInstance(), 0);
        SetMessageBoxHandler(previous);
        QCOMPARE(shown, QStringLiteral("CMainDialog"));
        auto store = OpenProfileStore();
        QCOMPARE(store->allKeys().size(), 14);
        QCOMPARE(store->value("Show Wizard on Startup").toString(), QStringLiteral("0"));
        QCOMPARE(store->childGroups(), QStringList({"Communications", "Point of Sale"}));
#ifdef _WIN32
        // Numbers as REG_DWORD, texts as REG_SZ, in the key of the company and program.
        const auto type = [](const wchar_t* section, const wchar_t* name) {
            DWORD kind = 0;
            const std::wstring key = std::wstring(L"Software\\Veltrin Applications\\pos-emulator") + section;
            return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY, &kind, nullptr, nullptr) ==
                           ERROR_SUCCESS
                       ? kind
                       : DWORD(REG_NONE);
        };
        QCOMPARE(type(L"", L"Show Wizard on Startup"), DWORD(REG_DWORD));
        QCOMPARE(type(L"\\Communications", L"Use Serial"), DWORD(REG_DWORD));
        QCOMPARE(type(L"\\Communications", L"Baud Selection"), DWORD(REG_SZ));
        QCOMPARE(type(L"\\Point of Sale", L"POS Interface"), DWORD(REG_SZ));
#else
        QVERIFY(ReadAll(store->fileName()).startsWith("[General]\nShow%20Wizard%20on%20Startup=0\n"));
#endif
    }

    void storedValuesRoundTrip_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("read"); // use serial, show wizard, baud
        QTest::addColumn<QByteArray>("writtenSerial");
        const auto row = [](const char* tag, const QByteArray& text, const QList<int>& read,
                            const char* serial) {
            QTest::newRow(tag) << text << read << QByteArray(serial);
        };
        row("flag 5 kept", "[Communications]\nUse%20Serial=5\n", {5, 1, 9600}, "5");
        row("negative flag", "[Communications]\nUse%20Serial=-3\n", {-3, 1, 9600}, "-3");
        row("not a number", "[Communications]\nUse%20Serial=yes\n", {0, 1, 9600}, "0");
        row("too large", "[Communications]\nUse%20Serial=99999999999\n", {0, 1, 9600}, "0");
        row("wizard off", "[General]\nShow%20Wizard%20on%20Startup=0\n", {0, 0, 9600}, "0");
        row("odd baud kept", "[Communications]\nBaud%20Selection=38400\n", {0, 1, 38400}, "0");
        row("corrupt file", QByteArray("\x01\xff[[[=\n\0\0garbage=\"unterminated\n", 30), {0, 1, 9600}, "0");
    }
    void storedValuesRoundTrip() {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, read);
        WriteStoreText(text);
        CEmulatorApp app;
        app.LoadSettings();
        const CAppSettings& s = app.m_settings;
        QCOMPARE((QList<int>{s.m_bUseSerial, s.m_bShowWizard, s.m_strBaud.toInt()}), read);
        app.SaveSettings();
        QTEST(OpenProfileStore()->value("Communications/Use Serial").toByteArray(), "writtenSerial");
        CEmulatorApp again;
        again.LoadSettings();
        QCOMPARE(again.m_settings.m_bUseSerial, read[0]);
    }

    // The fuzzer's input: a serialized value whose size field asks for gigabytes. It reads as the
    // default, and saving drops it instead of rebuilding it.
    void serializedVariantIsNotRebuilt() {
        SKIP_ON_WINDOWS("the registry holds no INI text");
        QFile input(QFINDTESTDATA("fuzz/settings/oom-variant"));
        QVERIFY(input.open(QIODevice::ReadOnly));
        WriteStoreText(input.readAll());
        CEmulatorApp app;
        app.LoadSettings();
        QCOMPARE(app.m_settings.m_strBaud, QStringLiteral("9600"));
        app.SaveSettings();
        const QByteArray text = ReadAll(OpenProfileStore()->fileName());
        QVERIFY(!text.contains("@Variant("));
        QVERIFY(text.contains("Baud%20Selection=9600"));
    }

    // The line settings as numbers, read as atoi and the design's tables read them; the fields are
    // port, baud, parity, data bits and stop bits, apart by "|".
    void getters_data() {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("defaults") << "COM1|9600|None|8|1" << QList<int>{1, 9600, 0, 8, 0};
        QTest::newRow("COM10") << "COM10|19200|Space|7|1.5" << QList<int>{10, 19200, 4, 7, 1};
        QTest::newRow("no digits") << "COM||none|x|1,5" << QList<int>{0, 0, -1, 0, -1};
        QTest::newRow("atoi rules") << "COM 12x|  -42abc|Odd|+5|2" << QList<int>{12, -42, 1, 5, 2};
        QTest::newRow("case and blanks") << "com3|9600 |EVEN|8| 2" << QList<int>{3, 9600, -1, 8, -1};
        QTest::newRow("mark") << "AB|99999999999|Mark|8|2" << QList<int>{0, INT_MAX, 3, 8, 2};
    }
    void getters() {
        QFETCH(QString, fields);
        const QStringList f = fields.split('|');
        CAppSettings s;
        s.m_strPort = f[0];
        s.m_strBaud = f[1];
        s.m_strParity = f[2];
        s.m_strDataBits = f[3];
        s.m_strStopBits = f[4];
        const QList<int> got{s.GetPortNumber(), s.GetBaudRate(), s.GetParityIndex(), s.GetDataBits(),
                             s.GetStopBitsIndex()};
        QTEST(got, "expected");
    }
};

POSEMU_TEST_MAIN(TestSettings)
#include "test_settings.moc"
