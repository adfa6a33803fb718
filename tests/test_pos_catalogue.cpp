#include "app/emulator_app.h"
#include "script/pos_catalogue.h"
#include "test_support.h"

#include <QFile>
#include <QTemporaryDir>

class TestPosCatalogue : public QObject {
    Q_OBJECT

private slots:
    void strip_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folderStripped");
        QTest::addColumn<QString>("nameOnly");
        QTest::newRow("plain") << "POS/Alpha.vlq"
                               << "Alpha.vlq"
                               << "Alpha";
        QTest::newRow("backslash") << "C:\\x\\POS\\B.vlq"
                                   << "B.vlq"
                                   << "B";
        QTest::newRow("mixed") << "a\\b/c.d.e"
                               << "c.d.e"
                               << "c.d";
        QTest::newRow("dot first") << "POS/.vlq"
                                   << ".vlq"
                                   << ".vlq";
        QTest::newRow("no dot") << "vlq"
                                << "vlq"
                                << "vlq";
        QTest::newRow("trailing slash") << "POS/"
                                        << ""
                                        << "";
        QTest::newRow("dot in folder") << "a.b/c"
                                       << "c"
                                       << "c";
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
    }

    void missingFolderIsEmpty() {
        QStringList names;
        EnumPosNamesIn(QStringLiteral("/nonexistent/POS"), names);
        EnumPosNamesIn(QString(), names);
        QVERIFY(names.isEmpty());
    }

    // Where an installed program works when started without a POS folder at hand.
    void workFolder() {
        QTemporaryDir dir;
        const QString installed = dir.filePath("share/POS");
        QVERIFY(QDir().mkpath(installed));
        for (const char* name : {"PC-POS 3.vlq", "Lane.vlq", "notes.txt"}) {
            QFile file(installed + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(name);
        }
        const QString home = dir.filePath("home");
        QVERIFY(QDir().mkpath(home));
        const QString work = home + "/POS Emulator";

        QCOMPARE(ChooseWorkFolder(home, QString(), home), QString()); // not installed: stays
        QVERIFY(!QFileInfo::exists(work));
        QCOMPARE(ChooseWorkFolder(home, installed, home), work); // first run: samples copied
        QCOMPARE(QDir(work + "/POS").entryList(QDir::Files), (QStringList{"Lane.vlq", "PC-POS 3.vlq"}));
        QFile sample(work + "/POS/Lane.vlq");
        QVERIFY(sample.open(QIODevice::ReadOnly));
        QCOMPARE(sample.readAll(), QByteArray("Lane.vlq"));
        sample.close();

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

POSEMU_TEST_MAIN(TestPosCatalogue)
#include "test_pos_catalogue.moc"
