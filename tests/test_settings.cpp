#include "app/emulator_app.h"
#include "test_support.h"
#include "ui/message_box.h"

#include <QFile>
#include <QSettings>
#include <QTimer>

#ifdef _WIN32
#include <windows.h>
#endif

class TestSettings : public QObject {
    Q_OBJECT

    void ClearStore() {
        auto store = OpenProfileStore();
        store->clear();
        store->sync();
        QFile::remove(store->fileName());
    }
    void WriteStoreText(const QByteArray& text) { QVERIFY(WriteProfileText(text)); }

private slots:
    void init() { ClearStore(); }

    void emptyStoreGivesDefaults() {
        CEmulatorApp app;
        app.LoadSettings();
        const CAppSettings& s = app.m_settings;
        QCOMPARE(s.m_bUseSerial, 0);
        QCOMPARE(s.m_bUseNetwork, 0);
        QCOMPARE(s.m_strPort, QStringLiteral("COM1"));
        QCOMPARE(s.m_strBaud, QStringLiteral("9600"));
        QCOMPARE(s.m_strDataBits, QStringLiteral("8"));
        QCOMPARE(s.m_strParity, QStringLiteral("None"));
        QCOMPARE(s.m_strStopBits, QStringLiteral("1"));
        QCOMPARE(s.m_strFlowControl, QStringLiteral("None"));
        QCOMPARE(s.m_bAutodetect, 1);
        QCOMPARE(s.m_bShowWizard, 1);
        QCOMPARE(s.m_strPosInterface, QString());
        QCOMPARE(s.m_strIpAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(s.m_bCalcChecksum, 0);
        QCOMPARE(s.m_bIncludeEtx, 0);
        QCOMPARE(s.m_strPosFolder, QDir::toNativeSeparators(QDir::currentPath() + "/POS"));
    }

    // After one save all 14 entries exist, under their sections, the wizard flag at the top level.
    void saveWritesAllEntriesInPlace() {
        CEmulatorApp app;
        app.LoadSettings();
        app.SaveSettings();
        auto store = OpenProfileStore();
        QCOMPARE(store->allKeys().size(), 14);
        QVERIFY(store->contains("Show Wizard on Startup"));
        QVERIFY(!store->contains("Communications/Show Wizard on Startup"));
        QVERIFY(!store->contains("Point of Sale/Show Wizard on Startup"));
        QCOMPARE(store->childGroups(), QStringList({"Communications", "Point of Sale"}));
        QCOMPARE(store->value("Communications/Port Selection").toString(), QStringLiteral("COM1"));
        QCOMPARE(store->value("Point of Sale/POS Interface").toString(), QString());
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
        const QByteArray text = ReadAll(store->fileName());
        QVERIFY(text.contains("[General]"));
        QVERIFY(text.contains("[Communications]"));
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

    // A run that ends through the main window writes every entry, even if nothing changed.
    void initInstanceWritesAllEntries() {
        WriteStoreText("[General]\nShow%20Wizard%20on%20Startup=0\n");
        auto previous = SetMessageBoxHandler([](const SMessageBox&) { return CMessageBox::Yes; });
        QTimer::singleShot(300, [] {
            if (QWidget* window = QApplication::activeModalWidget())
                window->close();
        });
        QCOMPARE(theApp.InitInstance(), 0);
        SetMessageBoxHandler(previous);
        QCOMPARE(OpenProfileStore()->allKeys().size(), 14);
    }
};

POSEMU_TEST_MAIN(TestSettings)
#include "test_settings.moc"
