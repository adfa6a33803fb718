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

    // Where a capture may be written: a file (the system's reason when not), never a folder, a path
    // through a missing folder, something that is not a regular file, or no path at all.
    void writeTargets_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"file", "folder", "missing folder", "fifo", "null", ""})
            QTest::newRow(*kind ? kind : "empty path") << kind;
    }
    void writeTargets() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = kind.isEmpty()             ? QString()
                             : kind == "folder"         ? dir.path()
                             : kind == "missing folder" ? dir.filePath("no/such/x.txt")
                                                        : dir.filePath("target");
        if ((kind == "fifo" || kind == "null") && !MakeSpecialFile(path, kind))
            QSKIP("cannot make the special file here");
        QString error;
        const bool file = kind == "file";
        QCOMPARE(WriteCaptureFile(path, "abc\r\n", &error), file ? CAPTURE_WRITTEN : CAPTURE_CANNOT_OPEN);
        QVERIFY2(file == (error.isEmpty()) && error != "Unknown error", qPrintable(error));
        if (kind == "fifo" || kind == "null") // never replaced, nor opened to be read here
            QVERIFY(IsSpecialFile(path));
        else
            QCOMPARE(ReadAll(path), file ? QByteArray("abc\r\n") : QByteArray());
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

    // Each kind of line, as the lists hold it and saving streams it from the journals: the very bytes
    // the format has always had.
    void savedFromJournals() {
        QTemporaryDir dir;
        CCaptureLines tx, rx;
        QVERIFY(tx.AttachJournal(dir.filePath("tx")) && rx.AttachJournal(dir.filePath("rx")));
        const auto at = [](int second) {
            return QDateTime(QDate(2026, 1, 1), QTime(7, 5, second));
        };
        const struct {
            int nKind;
            QByteArray text;
            int nSecond;
        } lines[] = {{TXLINE_COMMENT, "Order 1047 opens", 9},
                     {TXLINE_NETWORK, "\x02O1047\x1cLANE 1\x03", 9},
                     {TXLINE_PAUSE, "2 second(s)", 10},
                     {TXLINE_NETWORK,
                      QByteArray("\x02"
                                 "A\0B\x03",
                                 5),
                      12},
                     {TXLINE_SERIAL, "\x02S\x03", 13},
                     {TXLINE_PLAIN, "plain", 13},
                     {5, "unknown kind", 13},
                     {-1, "negative kind", 13}};
        for (const auto& line : lines)
            tx.Append(FormatTxLine(line.text, line.nKind, at(line.nSecond)));
        tx.Append("");
        tx.Commit();
        rx.Append(FormatRxLine("\x06", false, at(9)));
        rx.Commit();
        rx.Append(FormatRxLine(QByteArray("\x06OK\0hidden", 10), false, at(10)));
        rx.Append(FormatRxLine("\x15\xff", true, at(12)));
        rx.Append(FormatRxLine("", false, at(12)));
        const QByteArray bytes = ReadAll(QFINDTESTDATA("data/capture_expected.txt"));
        QCOMPARE(FormatCaptureFile(tx, rx), bytes);
        const QString path = dir.filePath("DataCapture.txt");
        QCOMPARE(WriteCaptureFile(path, tx, rx), CAPTURE_WRITTEN);
        QCOMPARE(ReadAll(path), bytes);
        CCaptureLines none; // empty lists keep their banners
        const qsizetype rxAt = bytes.indexOf("07:05:09    NETWORK:  <06>");
        const qsizetype rxBanner = bytes.lastIndexOf("\r\n\r\n\r\n", rxAt) + 6;
        QCOMPARE(FormatCaptureFile(none, none),
                 bytes.left(bytes.indexOf("07:")) + "\r\n\r\n" + bytes.mid(rxBanner, rxAt - rxBanner));
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
