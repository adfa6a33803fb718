#include "capture/capture_file.h"
#include "capture/capture_log.h"
#include "test_support.h"
#include "ui/capture_list_model.h"

#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>

class TestCapture : public QObject {
    Q_OBJECT
    const QDateTime m_time{QDate(2026, 12, 6), QTime(7, 5, 9)};

private slots:
    // Every byte value has exactly one rendering, and only printable ASCII comes out; in a line, each
    // byte renders as it does alone.
    void everyByteValue() {
        QByteArray all;
        QByteArray rendered;
        for (int v = 0; v < 256; ++v) {
            QByteArray one(1, char(v));
            EscapeControlBytes(one);
            const bool printable = v >= 0x20 && v <= 0x7e;
            QCOMPARE(one, printable ? QByteArray(1, char(v))
                                    : "<" + QByteArray::number(v, 16).toUpper().rightJustified(2, '0') + ">");
            const QByteArray display = ScriptLineDisplayForm(QByteArray(1, char(v)));
            QCOMPARE(display, v == ';' ? QByteArray("<00>") : one);
            all += char(v);
            rendered += one;
        }
        EscapeControlBytes(all);
        QCOMPARE(all, rendered);
        QByteArray empty;
        EscapeControlBytes(empty);
        QVERIFY(empty.isEmpty());
    }

    void txLines_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << 0 << QByteArray("07:05:09    <02>A");
        QTest::newRow("comment") << 1 << QByteArray("07:05:09    COMMENT:  <02>A");
        QTest::newRow("pause") << 2 << QByteArray("07:05:09    PAUSE:    <02>A");
        QTest::newRow("serial") << 3 << QByteArray("07:05:09    SERIAL    <02>A");
        QTest::newRow("network") << 4 << QByteArray("07:05:09    NETWORK   <02>A");
        QTest::newRow("unknown kind") << 5 << QByteArray("07:05:09    <02>A");
        QTest::newRow("negative kind") << -1 << QByteArray("07:05:09    <02>A");
    }
    void txLines() {
        QFETCH(int, kind);
        QFETCH(QByteArray, line);
        QCOMPARE(FormatTxLine("\x02"
                              "A",
                              kind, m_time),
                 line);
    }

    void rxLines() {
        QCOMPARE(FormatRxLine("\x06OK", true, m_time), QByteArray("07:05:09    SERIAL:   <06>OK"));
        QCOMPARE(FormatRxLine("", false, m_time), QByteArray("07:05:09    NETWORK:  "));
    }

    void captureFile_data() {
        QTest::addColumn<QList<QByteArray>>("tx");
        QTest::addColumn<QList<QByteArray>>("rx");
        QTest::addColumn<QByteArray>("file");
        const QByteArray rule(46, '=');
        const QByteArray txHead =
            rule + "\r\n== [Tx] Data transmitted to OCS:            ==\r\n" + rule + "\r\n\r\n";
        const QByteArray rxHead =
            rule + "\r\n== [Rx] Data received from OCS:             ==\r\n" + rule + "\r\n\r\n";
        QTest::newRow("one tx line") << QList<QByteArray>{"T1"} << QList<QByteArray>{}
                                     << txHead + "T1\r\n" + "\r\n\r\n" + rxHead;
        QTest::newRow("both") << QList<QByteArray>{"T1", "T2"} << QList<QByteArray>{"R1"}
                              << txHead + "T1\r\nT2\r\n\r\n\r\n" + rxHead + "R1\r\n";
        QTest::newRow("only rx") << QList<QByteArray>{} << QList<QByteArray>{"R1"}
                                 << txHead + "\r\n\r\n" + rxHead + "R1\r\n";
    }
    void captureFile() {
        QFETCH(QList<QByteArray>, tx);
        QFETCH(QList<QByteArray>, rx);
        QFETCH(QByteArray, file);
        CCaptureLines txLines, rxLines;
        for (const QByteArray& l : tx)
            txLines.Append(l);
        for (const QByteArray& l : rx)
            rxLines.Append(l);
        const QByteArray content = FormatCaptureFile(txLines, rxLines);
        QCOMPARE(content, file);
        QCOMPARE(content.count('\n'), content.count("\r\n"));
    }

    void writeFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("capture.txt");
        QCOMPARE(WriteCaptureFile(path, "abc\r\n"), CAPTURE_WRITTEN);
        QCOMPARE(ReadAll(path), QByteArray("abc\r\n"));
        QString error;
        QCOMPARE(WriteCaptureFile(dir.path(), "x", &error), CAPTURE_CANNOT_OPEN); // a folder
        QVERIFY(!error.isEmpty());
        QCOMPARE(WriteCaptureFile(dir.filePath("no/such/folder/x.txt"), "x", &error), CAPTURE_CANNOT_OPEN);
        QVERIFY2(!error.isEmpty() && error != "Unknown error", qPrintable(error)); // the system's reason
    }

    // A disk that fills up while a capture is saved over an older one: the older file stays whole and
    // the system's reason is given (once a buffered write lost its failure and the file was cut).
    void fullDiskKeepsTheOlderFile() {
        if (!CanLimitFileSize())
            QSKIP("no limit on a file's size to set here");
        QTemporaryDir dir;
        const QString path = dir.filePath("capture.txt");
        const QByteArray older(52000, 'o');
        QVERIFY(WriteFile(path, older));
        QString error;
        const auto written =
            WithFileSizeLimit(65536, [&] { return WriteCaptureFile(path, QByteArray(100000, 'n'), &error); });
        QCOMPARE(written, CAPTURE_WRITE_FAILED);
        QCOMPARE(error, QStringLiteral("File too large"));
        QCOMPARE(ReadAll(path), older);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"capture.txt"});
    }

    // What is not a regular file is never replaced nor written; an empty path is no file.
    void specialTargets_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("device") << "null";
        QTest::newRow("empty path") << "";
    }
    void specialTargets() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = kind.isEmpty() ? QString() : dir.filePath("target");
        if (!kind.isEmpty() && !MakeSpecialFile(path, kind))
            QSKIP("cannot make the special file here");
        QString error;
        QCOMPARE(WriteCaptureFile(path, "abc\r\n", &error), CAPTURE_CANNOT_OPEN); // returns at once
        QVERIFY(!error.isEmpty());
        if (!kind.isEmpty())
            QVERIFY(IsSpecialFile(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size(),
                 kind.isEmpty() ? 0 : 1);
    }

    // A folder that takes no new file: an existing file is rewritten in place, a new one cannot be made.
    void readOnlyFolder() {
        SKIP_ON_WINDOWS("folder modes: on Windows a folder's rights are access lists");
        QTemporaryDir dir;
        const QString folder = dir.filePath("locked");
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/capture.txt";
        QVERIFY(WriteFile(path, "an older and longer capture\r\n"));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                                QFile::WriteOther));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther));
        const auto written = AsUnprivileged([&] { return WriteCaptureFile(path, "new\r\n"); });
        const auto refused = AsUnprivileged([&] { return WriteCaptureFile(folder + "/new.txt", "x"); });
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(written, CAPTURE_WRITTEN);
        QCOMPARE(refused, CAPTURE_CANNOT_OPEN);
        QCOMPARE(ReadAll(path), QByteArray("new\r\n"));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
    }

    // The same lines read back whether kept in memory or in a journal: across commits, past the
    // read cache, after a clear, and from the journal as a program left it.
    void linesStore_data() {
        QTest::addColumn<bool>("journal");
        QTest::newRow("memory") << false;
        QTest::newRow("journal") << true;
    }
    void linesStore() {
        QFETCH(bool, journal);
        QTemporaryDir dir;
        const QString path = dir.filePath("tx.journal");
        CCaptureLines lines;
        if (journal)
            QVERIFY(lines.AttachJournal(path));
        QCOMPARE(lines.IsJournaled(), journal);
        lines.Append("one");
        lines.Append("");
        lines.Commit();
        lines.Append("three"); // not committed yet
        QCOMPARE(lines.Count(), 3);
        QCOMPARE(lines.Line(0), QByteArray("one"));
        QCOMPARE(lines.Line(1), QByteArray());
        QCOMPARE(lines.Line(2), QByteArray("three"));
        QCOMPARE(lines.Line(3), QByteArray());
        QCOMPARE(lines.LongestLine(), 5);
        if (journal)
            QCOMPARE(QFileInfo(path).size(), 5); // "one\n\n"

        QList<QByteArray> expected{"one", "", "three"};
        for (int i = 0; i < 30000; ++i) { // beyond a commit's and the cache's size
            expected << "line " + QByteArray::number(i) + QByteArray(i % 97, '.');
            lines.Append(expected.last());
            if (i % 1000 == 999) { // reading between writes, as the view does
                lines.Commit();
                QCOMPARE(lines.Line(i / 2), expected[i / 2]);
            }
        }
        lines.Commit();
        for (qsizetype i : {qsizetype(0), qsizetype(2), qsizetype(17000), qsizetype(3), qsizetype(30002)})
            QCOMPARE(lines.Line(i), expected[i]);
        if (journal) { // as the next start finds it: saved straight from the file
            QFile left(path), none;
            QVERIFY(left.open(QIODevice::ReadOnly));
            QCOMPARE(WriteCaptureFile(dir.filePath("left.txt"), left, none), CAPTURE_WRITTEN);
            QCOMPARE(ReadAll(dir.filePath("left.txt")), FormatCaptureFile(lines, CCaptureLines()));
        }
        lines.Clear();
        QCOMPARE(lines.Count(), 0);
        if (journal)
            QCOMPARE(QFileInfo(path).size(), 0); // truncated, not copied
        lines.Append("after");
        QCOMPARE(lines.Line(0), QByteArray("after"));
    }

    // A journal that stops taking lines (a full disk) loses none: they and all later ones stay in memory.
    void fullDiskKeepsEveryLine() {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("no /dev/full here");
        CCaptureLines lines;
        QVERIFY(lines.AttachJournal("/dev/full"));
        for (int i = 0; i < 1000; ++i) {
            lines.Append("line " + QByteArray::number(i));
            if (i % 100 == 0)
                lines.Commit();
        }
        QVERIFY(!lines.JournalError().isEmpty());
        QVERIFY(!lines.IsJournaled());
        QCOMPARE(lines.Count(), 1000);
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(lines.Line(i), "line " + QByteArray::number(i));

        CCaptureListModel model; // the list tells of it once
        QSignalSpy failed(&model, &CCaptureListModel::JournalFailed);
        QVERIFY(model.AttachJournal("/dev/full"));
        for (int i = 0; i < 3; ++i)
            model.Append("x");
        QTRY_COMPARE(model.rowCount(), 3);
        model.Append("y");
        QTRY_COMPARE(model.rowCount(), 4);
        QCOMPARE(failed.size(), 1);
    }

    // Saving streams from the journals the very bytes the format has always had.
    void savedFromJournals() {
        QTemporaryDir dir;
        CCaptureLines tx, rx;
        QVERIFY(tx.AttachJournal(dir.filePath("tx")));
        QVERIFY(rx.AttachJournal(dir.filePath("rx")));
        for (const char* line :
             {"07:05:09    COMMENT:  Order 1047 opens", "07:05:09    NETWORK   <02>O1047<1C>LANE 1<03>",
              "07:05:10    PAUSE:    2 second(s)", "07:05:12    NETWORK   <02>A<00>B<03>", ""})
            tx.Append(line);
        tx.Commit();
        rx.Append("07:05:09    NETWORK:  <06>");
        rx.Commit();
        rx.Append(FormatRxLine(QByteArray("\x06OK\0hidden", 10), false,
                               QDateTime(QDate(2026, 1, 1), QTime(7, 5, 10))));
        rx.Append(FormatRxLine("\x15\xff", true, QDateTime(QDate(2026, 1, 1), QTime(7, 5, 12))));
        const QByteArray bytes = ReadAll(QFINDTESTDATA("data/capture_expected.txt"));
        QCOMPARE(FormatCaptureFile(tx, rx), bytes);
        const QString path = dir.filePath("DataCapture.txt");
        QCOMPARE(WriteCaptureFile(path, tx, rx), CAPTURE_WRITTEN);
        QCOMPARE(ReadAll(path), bytes);
    }

    // A journal cut short or changed under the program: the save fails and names the journal, an
    // earlier file of that name stays, and the lines still held read back as before.
    void journalChangedUnderneath_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("truncated") << "truncate";
        QTest::newRow("emptied, then grown other lines") << "regrow";
        QTest::newRow("line feeds moved") << "shift";
    }
    void journalChangedUnderneath() {
        QFETCH(QString, change);
        QTemporaryDir dir;
        const QString path = dir.filePath("tx.journal");
        CCaptureLines tx, rx;
        QVERIFY(tx.AttachJournal(path));
        for (int i = 0; i < 100; ++i)
            tx.Append("07:05:09    NETWORK   line " + QByteArray::number(i));
        tx.Commit();
        QFile file(path);
        const bool opened = file.open(QIODevice::ReadWrite);
        if (!opened)
            SKIP_ON_WINDOWS("a journal is shared for reading only: no other program can change it");
        QVERIFY(opened);
        if (change == "truncate") {
            QVERIFY(file.resize(file.size() / 2));
        } else if (change == "regrow") {
            QVERIFY(file.resize(0));
            file.close();
            tx.Append("short");
            tx.Commit(); // appended at the journal's new end, far before where the old lines were
        } else {
            QVERIFY(file.seek(40));
            file.write("xxxxxxxxxxxxxxxxxxxxxx\nxxxxxxxx");
        }
        file.close();
        const QString target = dir.filePath("DataCapture.txt");
        QVERIFY(WriteFile(target, "old"));
        QString why;
        QCOMPARE(WriteCaptureFile(target, tx, rx, &why), CAPTURE_WRITE_FAILED);
        QVERIFY2(why.contains(QDir::toNativeSeparators(path)), qPrintable(why));
        QCOMPARE(ReadAll(target), QByteArray("old"));
        QCOMPARE(tx.Count(), change == "regrow" ? 101 : 100);
    }

    // A million journaled lines: the view asks only for the rows it shows, scrolls, paints.
    void millionLinesScrollAndPaint() {
        QTemporaryDir dir;
        QListView view;
        view.setUniformItemSizes(true);
        view.resize(400, 200);
        CCaptureListModel model;
        model.AttachView(&view, true);
        QVERIFY(model.AttachJournal(dir.filePath("tx")));
        view.show();
        constexpr int COUNT = 1'000'000;
        for (int i = 0; i < COUNT; ++i)
            model.Append(QByteArray::number(i).rightJustified(7, '0') + QByteArray(73, '.'));
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), COUNT, 20000);
        QCOMPARE(QFileInfo(dir.filePath("tx")).size(), qint64(COUNT) * 81);
        for (int row : {500000, 999999, 0, 123456}) {
            view.scrollTo(model.index(row), QAbstractItemView::PositionAtCenter);
            QVERIFY(!view.grab().isNull());
            const QModelIndex shown = view.indexAt(view.viewport()->rect().center());
            const QRect target = view.visualRect(model.index(row));
            QVERIFY(target.top() >= 0 && target.bottom() < view.viewport()->height());
            QVERIFY(qAbs(shown.row() - row) <= 10);
            QCOMPARE(shown.data().toString().left(7), QString::number(shown.row()).rightJustified(7, '0'));
        }
    }

    // Lines reach the view in order; a view at its end follows, one scrolled up stays put.
    void modelFollowsNewest() {
        QListView view;
        view.resize(300, 120);
        CCaptureListModel model;
        model.AttachView(&view, true);
        view.show();
        for (int i = 0; i < 200; ++i)
            model.Append("line " + QByteArray::number(i));
        QCOMPARE(model.Lines().Count(), 200);
        QTRY_COMPARE(model.rowCount(), 200);
        QCOMPARE(model.data(model.index(199), Qt::DisplayRole).toString(), QStringLiteral("line 199"));
        QScrollBar* bar = view.verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
        bar->setValue(0);
        model.Append("more");
        QTRY_COMPARE(model.rowCount(), 201);
        QCOMPARE(bar->value(), 0);
        model.Append(QByteArray(3000, 'w')); // longer than the 1300-pixel extent
        QTRY_COMPARE(model.rowCount(), 202);
        QVERIFY(model.data(model.index(0), Qt::SizeHintRole).toSize().width() > 3000);
        QCOMPARE(view.horizontalScrollBar()->value(), 0);
        model.Clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.Lines().Count(), 0);
    }

    // While the list has the focus, new lines are said: one as it reads (without its time), more
    // counted, at most once a second; a list without the focus says nothing.
    void newLinesSaidWhileFocused() {
        QWidget window;
        QLineEdit elsewhere(&window);
        QListView view(&window);
        view.move(0, 40);
        CCaptureListModel model;
        model.AttachView(&view, false, "replies");
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        elsewhere.setFocus();
        CAccessibleRecorder recorder;
        model.Append("07:00:00    NETWORK:  <06>");
        QTRY_COMPARE(model.rowCount(), 1);
        QVERIFY(recorder.Announced().isEmpty());
        view.setFocus();
        QTRY_VERIFY(view.currentIndex().isValid()); // arriving on the list puts the cursor on line 1
        QCOMPARE(view.currentIndex().row(), 0);
        model.Append("07:00:01    NETWORK:  <15>");
        QTRY_COMPARE(recorder.Announced(), QStringList{"NETWORK: <15>"});
        for (int i = 0; i < 3; ++i)
            model.Append("07:00:02    NETWORK:  <06>");
        QTRY_COMPARE(model.rowCount(), 5);
        QCOMPARE(recorder.Announced().size(), 1); // within the second
        QTRY_COMPARE_WITH_TIMEOUT(recorder.Announced(), (QStringList{"NETWORK: <15>", "3 new replies"}),
                                  3000);
    }
};

POSEMU_TEST_MAIN(TestCapture)
#include "test_capture.moc"
