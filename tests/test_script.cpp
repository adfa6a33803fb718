// Script lines, script files and the POS catalogue: what is read from a POS definition and how it goes out.
#include "app/emulator_app.h"
#include "script/order_line.h"
#include "script/order_script.h"
#include "script/pos_catalogue.h"
#include "test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <climits>

class TestScript : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString WriteFile(const QString& name, const QByteArray& content) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(content);
        return path;
    }

private slots:
    void encode_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("checksum");
        QTest::addColumn<bool>("includeEtx");
        QTest::addColumn<QByteArray>("wire");
        const auto row = [](const char* tag, const char* line, bool checksum, bool etx, const char* wire) {
            QTest::newRow(tag) << ScriptBytes(line) << checksum << etx << ScriptBytes(wire);
        };
        row("checksum without ETX", "<02>AB<03>", true, false, "<02>AB<03><03>");
        row("checksum with ETX", "<02>AB<03>", true, true, "<02>AB<03><00>");
        row("no checksum", "<02>AB<03>", false, false, "<02>AB<03>");
        row("include alone does nothing", "<02>AB<03>", false, true, "<02>AB<03>");
        row("placeholder in checksum", "<02>A;B<03>", true, false, "<02>A<00>B<03><03>");
        row("placeholder plain", ";x;", false, false, "<00>x<00>");
        row("no ETX no checksum", "<02>AB", true, true, "<02>AB");
        row("two ETX, running sum", "<02>A<03>B<03>", true, false, "<02>A<03>AB<03><03>");
        row("two ETX with ETX", "<02>A<03>B<03>", true, true, "<02>A<03><42>B<03><03>");
        row("first byte ETX", "<03>A", true, true, "<03>A");
        row("first byte not summed", "<7F>A<03>", true, false, "<7F>A<03>A");
        row("empty", "", true, false, "");
    }
    void encode() {
        QFETCH(QByteArray, line);
        QFETCH(bool, checksum);
        QFETCH(bool, includeEtx);
        QFETCH(QByteArray, wire);
        QCOMPARE(EncodeLineBytes(line, checksum, includeEtx), wire);
    }

    void plan_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("delay");
        const auto row = [](const char* line, int kind, const char* text, qint64 delay) {
            QTest::newRow(line) << ScriptBytes(line) << kind << QByteArray(text) << delay;
        };
        row("<02>O;K<03>", LINE_DATA, "<02>O<00>K<03>", 500);
        row("<p>3", LINE_PAUSE, "3 second(s)", 3000);
        row("<p>", LINE_PAUSE, " second(s)", 0);
        row("<p>  12abc", LINE_PAUSE, "  12abc second(s)", 12000);
        row("<p>-2", LINE_PAUSE, "-2 second(s)", -2000);
        row("<p>99999999999999999999", LINE_PAUSE, "99999999999999999999 second(s)", 1099511627776000);
        row("<c>Start <02>", LINE_COMMENT, "Start <02>", 500);
        row("<P>5", LINE_DATA, "<P>5", 500);   // an upper-case marker is data
        row(" <p>5", LINE_DATA, " <p>5", 500); // so is one not at the start
    }
    void plan() {
        QFETCH(QByteArray, line);
        QFETCH(int, kind);
        QFETCH(QByteArray, text);
        QFETCH(qint64, delay);
        const SLinePlan p = PlanLine(line);
        QCOMPARE(int(p.kind), kind);
        QCOMPARE(p.text, text);
        QCOMPARE(p.nDelayMs, delay);
    }

    void continuousDelay() {
        QCOMPARE(ContinuousDelay(-2000), 0);
        QCOMPARE(ContinuousDelay(0), 0);
        QCOMPARE(ContinuousDelay(3000), 3000);
        QCOMPARE(ContinuousDelay(qint64(1) << 50), INT_MAX);
    }

    void tokens_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("prepared");
        QTest::newRow("frame") << QByteArray("<02>ORDER 12<0D><03>") << QByteArray("\x02ORDER 12\r\x03");
        QTest::newRow("nul placeholder") << QByteArray("<00>A") << QByteArray(";A");
        QTest::newRow("3B is ;") << QByteArray("<3B>") << QByteArray(";");
        QTest::newRow("literal ;") << QByteArray("a;b") << QByteArray("a;b");
        QTest::newRow("lower-case hex stays") << QByteArray("<0d><0D>") << QByteArray("<0d>\r");
        QTest::newRow("high bytes") << QByteArray("<A1><A2><FF><80>") << QByteArray("\xA1\xA2\xFF\x80");
        QTest::newRow("cascade forward") << QByteArray("<3C>41>") << QByteArray("A");
        QTest::newRow("no cascade backward") << QByteArray("<41>3C>") << QByteArray("A3C>");
        QTest::newRow("passed value stays") << QByteArray("<3C>20>") << QByteArray("<20>");
        QTest::newRow("hex digit cascade") << QByteArray("<<34>1>") << QByteArray("A");
        QTest::newRow("gt cascade") << QByteArray("<41<3E>") << QByteArray("A");
        QTest::newRow("no rescan within a pass") << QByteArray("<3C>3C>41>") << QByteArray("<3C>41>");
        QTest::newRow("pause passes") << QByteArray("<p>5") << QByteArray("<p>5");
        QTest::newRow("comment passes") << QByteArray("<c>Start <02>") << QByteArray("<c>Start \x02");
        QTest::newRow("upper markers are text") << QByteArray("<P>5<C>") << QByteArray("<P>5<C>");
        QTest::newRow("incomplete") << QByteArray("<0") << QByteArray("<0");
        QTest::newRow("adjacent") << QByteArray("<01><02><03>") << QByteArray("\x01\x02\x03");
        QTest::newRow("raw nul kept") << QByteArray("<\0X", 3) << QByteArray("<\0X", 3);
    }
    void tokens() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, prepared);
        QCOMPARE(PrepareScriptLine(line), prepared);
    }

    void fileLines_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QList<QByteArray>>("lines");
        const QList<QByteArray> two{"\x02"
                                    "A",
                                    "<p>3"};
        QTest::newRow("LF") << QByteArray("<02>A\n<p>3\n") << two;
        QTest::newRow("CRLF") << QByteArray("<02>A\r\n<p>3\r\n") << two;
        QTest::newRow("no final end") << QByteArray("<02>A\r\n<p>3") << two;
        QTest::newRow("remarks") << QByteArray("Heading\n\n <02>x\n<02>A\r\n\r\nremark <p>\n<p>3") << two;
        QTest::newRow("only remarks") << QByteArray("one\n\n two\r\n") << QList<QByteArray>{};
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
        QTest::newRow("lone CR kept") << QByteArray("<41>\rB\n") << QList<QByteArray>{"A\rB"};
        QTest::newRow("trailing CR at end") << QByteArray("<41>\r") << QList<QByteArray>{"A\r"};
        QTest::newRow("raw high bytes") << QByteArray("<\x80\xff\n") << QList<QByteArray>{"<\x80\xff"};
    }
    void fileLines() {
        QFETCH(QByteArray, content);
        QFETCH(QList<QByteArray>, lines);
        const QString path = WriteFile("script.vlq", content);
        COrderScript script;
        QVERIFY(script.LoadOrderFile(path));
        QCOMPARE(script.Lines(), lines);
        QCOMPARE(script.GetLineCount(), lines.size());
    }

    // A load that fails keeps the lines; one that works replaces them and keeps the index; the name is
    // found whatever its letter case.
    void reloads() {
        COrderScript script;
        QVERIFY(script.LoadOrderFile(WriteFile("a.vlq", "<41>\n<42>\n<43>\n")));
        QVERIFY(!script.LoadOrderFile(m_dir.filePath("absent.vlq")));
        QVERIFY(!script.LoadOrderFile(m_dir.path())); // a folder
        QCOMPARE(script.GetLineCount(), 3);
        QByteArray line;
        QVERIFY(script.GetNextLine(line, false) && script.GetNextLine(line, false));
        QVERIFY(!WriteFile("Foo.VLQ", "<44>\n").isEmpty());
        QVERIFY(script.LoadOrderFile(m_dir.filePath("foo.vlq")));
        QCOMPARE(script.Lines(), QList<QByteArray>{"D"});
        QCOMPARE(script.GetLineIndex(), 1);
        QVERIFY(!script.LoadOrderFile(m_dir.filePath("fo.vlq")));

        // Past the end: without wrapping each call fails and moves on, the line untouched; with it, line 1.
        QVERIFY(script.LoadOrderFile(m_dir.filePath("a.vlq")));
        QStringList steps;
        for (bool wrap : {false, false, false, true}) {
            const bool got = script.GetNextLine(line, wrap);
            steps << QStringLiteral("%1%2%3")
                         .arg(got)
                         .arg(QString::fromLatin1(line))
                         .arg(script.GetLineIndex());
        }
        QCOMPARE(steps.join(' '), QStringLiteral("1C2 0C3 0C4 1A0"));
        COrderScript empty;
        QVERIFY(!empty.GetNextLine(line, true) && empty.GetLineIndex() == 0);
    }

    // An entry that is not a regular file warns and loads as empty, at once: a FIFO would block the
    // open, a device (or a link to one) could be read without end.
    void specialFileWarns_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("socket") << "socket";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("zero device") << "zero";
        QTest::newRow("link to a zero device") << "link";
    }
    void specialFileWarns() {
        QFETCH(QString, kind);
        const QString path = m_dir.filePath(kind + ".vlq");
        if (kind == "socket") {
            if (!MakeSpecialFile(path, "socket"))
                QSKIP("cannot make a socket here");
        } else if (kind == "link") {
            const QString device = m_dir.filePath("zero-device");
            if (!QFile::exists(device) && !MakeSpecialFile(device, "zero"))
                QSKIP("cannot make a device here");
            QVERIFY(QFile::link(device, path));
        } else if (!MakeSpecialFile(path, kind)) {
            QSKIP("cannot make the special file here");
        }

        COrderScript script;
        QString unreadable;
        QVERIFY(script.LoadOrderFile(WriteFile("x.vlq", "<41>\n"), &unreadable));
        QVERIFY(unreadable.isEmpty());
        QVERIFY(script.LoadOrderFile(path, &unreadable));
        QFile::remove(path);
        QCOMPARE(script.GetLineCount(), 0); // an empty order, and the reason to tell
        QCOMPARE(unreadable, QStringLiteral("Unable to read Order file \"%1\". ").arg(path));
    }

    // Large and hostile files load without crash, one character per byte.
    void largeAndBinaryFiles() {
        QByteArray junk;
        quint32 seed = 7;
        for (int i = 0; i < 2'000'000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            junk.append(char(seed >> 24));
        }
        COrderScript script;
        QVERIFY(script.LoadOrderFile(WriteFile("junk.vlq", junk)));
        const QList<QByteArray> expected = PrepareScript(junk);
        QCOMPARE(script.GetLineCount(), expected.size());

        QByteArray longLine("<");
        for (int i = 0; i < 5 * 1024 * 1024 / 4; ++i)
            longLine += "<4" + QByteArray(1, "0123456789ABCDEF"[i % 16]) + ">";
        QVERIFY(script.LoadOrderFile(WriteFile("long.vlq", longLine)));
        QCOMPARE(script.GetLineCount(), 1);
        QCOMPARE(script.Lines()[0].size(), 1 + 5 * 1024 * 1024 / 4);
        QCOMPARE(script.Lines()[0].mid(1, 4), QByteArray("@ABC"));
    }

    void strip_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folderStripped");
        QTest::addColumn<QString>("nameOnly");
        const auto row = [](const char* tag, const char* path, const char* stripped, const char* name) {
            QTest::newRow(tag) << QString(path) << QString(stripped) << QString(name);
        };
        row("plain", "POS/Alpha.vlq", "Alpha.vlq", "Alpha");
        row("backslash", "C:\\x\\POS\\B.vlq", "B.vlq", "B");
        row("mixed", "a\\b/c.d.e", "c.d.e", "c.d");
        row("dot first", "POS/.vlq", ".vlq", ".vlq");
        row("no dot", "vlq", "vlq", "vlq");
        row("trailing slash", "POS/", "", "");
        row("dot in folder", "a.b/c", "c", "c");
    }
    void strip() {
        QFETCH(QString, path);
        QFETCH(QString, folderStripped);
        QFETCH(QString, nameOnly);
        QCOMPARE(StripFolder(path), folderStripped);
        QCOMPARE(StripFolderAndExtension(path), nameOnly);
    }

    void enumerate() {
        QTemporaryDir dir;
        const QStringList files{"Alpha.vlq",   "beta.VLQ",  "Gamma.Vlq", "A.B.vlq",         ".vlq",
                                "vlq",         "x.vlq.bak", "noext",     "Ümlaut name.vlq", "PC-POS 3.vlq",
                                "pc-pos 3.vlq"};
        for (const QString& name : files) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(dir.path()).mkdir("Folder.vlq"));

        CEmulatorApp app;
        app.m_settings.m_strPosFolder = dir.path();
        QStringList names;
        app.EnumPosNames(names);
        names.sort();
        QStringList expected{"Alpha", "beta",        "Gamma",    "A.B",     ".vlq",
                             "vlq",   "Ümlaut name", "PC-POS 3", "pc-pos 3"};
        // Where names differ in case only (Windows), "pc-pos 3.vlq" opened the file "PC-POS 3.vlq" made.
        if (QFileInfo::exists(dir.filePath("ALPHA.VLQ")))
            expected.removeAll("pc-pos 3");
        expected.sort();
        QCOMPARE(names, expected);

        QStringList again;
        app.EnumPosNames(again);
        again.sort();
        QCOMPARE(again, names);

        QFile added(dir.filePath("Late.vlq"));
        QVERIFY(added.open(QIODevice::WriteOnly));
        added.close();
        QStringList later{"kept"};
        app.EnumPosNames(later);
        QCOMPARE(later.size(), names.size() + 2);
        QCOMPARE(later.first(), QStringLiteral("kept"));
        QVERIFY(later.contains("Late"));
        QStringList none; // a missing folder has none
        EnumPosNamesIn(QStringLiteral("/nonexistent/POS"), none);
        EnumPosNamesIn(QString(), none);
        QVERIFY(none.isEmpty());
    }

    // Where an installed program works when started without a POS folder at hand.
    void workFolder() {
        QTemporaryDir dir;
        const QString installed = dir.filePath("share/POS");
        QVERIFY(QDir().mkpath(installed));
        for (const char* name : {"PC-POS 3.vlq", "Lane.vlq", "notes.txt"})
            QVERIFY(::WriteFile(installed + "/" + name, name));
        const QString home = dir.filePath("home");
        QVERIFY(QDir().mkpath(home));
        const QString work = home + "/POS Emulator";

        QCOMPARE(ChooseWorkFolder(home, QString(), home), QString()); // not installed: stays
        QVERIFY(!QFileInfo::exists(work));
        QCOMPARE(ChooseWorkFolder(home, installed, home), work); // first run: samples copied
        QCOMPARE(QDir(work + "/POS").entryList(QDir::Files), (QStringList{"Lane.vlq", "PC-POS 3.vlq"}));
        QCOMPARE(ReadAll(work + "/POS/Lane.vlq"), QByteArray("Lane.vlq"));

        QVERIFY(QFile::remove(work + "/POS/Lane.vlq")); // the operator's choice is kept
        QCOMPARE(ChooseWorkFolder(home, installed, home), work);
        QCOMPARE(QDir(work + "/POS").entryList(QDir::Files), QStringList{"PC-POS 3.vlq"});

        QCOMPARE(ChooseWorkFolder(work, installed, home), QString()); // a folder with POS: stays
        QVERIFY(QDir().mkpath(dir.filePath("elsewhere/POS")));
        QCOMPARE(ChooseWorkFolder(dir.filePath("elsewhere"), installed, home), QString());
        // Started in its installation folder (a Start menu entry): the user's folder, not the install's.
        QCOMPARE(ChooseWorkFolder(dir.filePath("share"), installed, home), work);
    }
};

POSEMU_TEST_MAIN(TestScript)
#include "test_script.moc"
