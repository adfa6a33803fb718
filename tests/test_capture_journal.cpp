#include "app/message_box.h"
#include "capture/capture_journal.h"
#include "capture/capture_list.h"
#include "test_support.h"
#include "ui/capture_save.h"
#include "ui/file_dialog.h"

#include <QProcess>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
#ifndef _WIN32
mode_t Mode(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}
#endif
bool Exists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}
} // namespace

class TestCaptureJournal : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_strBase;
    QList<SMessageBox> m_boxes;
    QStringList m_proposed;
    CMessageBox::StandardButton m_answer = CMessageBox::Yes;
    std::function<QString(int)> m_saveTo; // the n-th save dialog's answer

    QString LeftFolder(qint64 pid, int second = 0) const {
        return m_strBase +
               QStringLiteral("/20200101-0000%1-%2-0").arg(second, 2, 10, QLatin1Char('0')).arg(pid);
    }
    // A capture as a program that died left it.
    QString MakeLeft(qint64 pid, int second = 0, const QByteArray& tx = "07:00:00    NETWORK   <02>A<03>\n",
                     const QByteArray& rx = "07:00:01    NETWORK:  <06>\n") {
        const QString folder = LeftFolder(pid, second);
        if (!QDir().mkpath(folder))
            return QString();
        if (!tx.isNull())
            WriteFile(folder + "/tx.journal", tx);
        if (!rx.isNull())
            WriteFile(folder + "/rx.journal", rx);
        return folder;
    }
    void Offer() {
        int saves = 0;
        SetSaveFileHandler([this, &saves](const SSaveFileRequest& request) {
            m_proposed << request.strProposedName;
            return m_saveTo ? m_saveTo(saves++) : QString();
        });
        OfferAbandonedCaptures();
        SetSaveFileHandler(nullptr);
    }

private slots:
    void initTestCase() {
        m_strBase = CaptureJournalsFolder();
        SetMessageBoxHandler([this](const SMessageBox& box) {
            m_boxes << box;
            return box.buttons.testFlag(CMessageBox::Yes) ? m_answer : CMessageBox::Ok;
        });
    }
    void init() {
        QDir(m_strBase).removeRecursively();
        QVERIFY(QDir().mkpath(m_strBase));
        m_boxes.clear();
        m_proposed.clear();
        m_answer = CMessageBox::Yes;
        const QString target = m_dir.filePath("saved.txt");
        QFile::remove(target);
        m_saveTo = [target](int) {
            return target;
        };
    }

    // Whatever stands in the captures folder: only real folders of the program's own are offered,
    // nothing is followed through a link or read from anything but a regular file, a capture that
    // cannot be read is told of and kept, and a folder whose program runs is left alone.
    void leftEntries_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("asked");   // the Yes/No question
        QTest::addColumn<bool>("damaged"); // told that a capture cannot be read
        QTest::addColumn<bool>("kept");    // the entry is still there afterwards
        QTest::newRow("link to a folder") << "link" << false << false << true;
        QTest::newRow("fifo") << "fifo" << false << false << true;
        QTest::newRow("plain file") << "file" << false << false << true;
        QTest::newRow("rx journal links to a secret") << "rx link" << false << true << true;
        QTest::newRow("rx journal is a fifo") << "rx fifo" << false << true << true;
        QTest::newRow("tx journal is /dev/zero") << "tx zero" << false << true << true;
        QTest::newRow("zero-length lock, program gone") << "empty lock" << true << false << false;
        QTest::newRow("unreadable lock, program gone") << "mode 000 lock" << true << false << false;
        QTest::newRow("lock removed, program runs") << "own pid" << false << false << true;
        QTest::newRow("pid now another program's") << "other program" << true << false << false;
        QTest::newRow("lock still held") << "held" << false << false << true;
    }
    void leftEntries() {
        QFETCH(QString, kind);
        QFETCH(bool, asked);
        QFETCH(bool, damaged);
        QFETCH(bool, kept);
        const QString victim = m_dir.filePath("victim");
        QVERIFY(QDir().mkpath(victim));
        QVERIFY(WriteFile(victim + "/precious.txt", "keep me"));
        const QString secret = m_dir.filePath("secret.txt");
        QVERIFY(WriteFile(secret, "SECRET"));
        const qint64 gone = GonePid();
        QString entry = LeftFolder(gone);
        if (kind == "mode 000 lock")
            SKIP_ON_WINDOWS("a mode cannot make a file unreadable to its owner on Windows");
        if (kind.contains("link"))
            SKIP_ON_WINDOWS("symbolic links need administrator rights on Windows");
        QProcess other;
        CJournalLock holder;
        if (kind == "link") {
            QVERIFY(QFile::link(victim, entry));
        } else if (kind == "fifo") {
            if (!MakeSpecialFile(entry, "fifo"))
                QSKIP("no FIFOs here");
        } else if (kind == "file") {
            QVERIFY(WriteFile(entry, "07:00:00    NETWORK   <02>A<03>\n"));
        } else if (kind == "rx link") {
            MakeLeft(gone, 0, "07:00:00    NETWORK   <02>A<03>\n", QByteArray());
            QVERIFY(QFile::link(secret, entry + "/rx.journal"));
        } else if (kind == "rx fifo") {
            MakeLeft(gone, 0, "07:00:00    NETWORK   <02>A<03>\n", QByteArray());
            if (!MakeSpecialFile(entry + "/rx.journal", "fifo"))
                QSKIP("no FIFOs here");
        } else if (kind == "tx zero") {
            MakeLeft(gone, 0, QByteArray());
            if (!MakeSpecialFile(entry + "/tx.journal", "zero"))
                QSKIP("device nodes need root");
        } else if (kind == "empty lock" || kind == "mode 000 lock") {
            MakeLeft(gone);
            QVERIFY(WriteFile(entry + ".lock", QByteArray()));
            if (kind == "mode 000 lock")
                QVERIFY(QFile::setPermissions(entry + ".lock", QFileDevice::Permissions()));
        } else if (kind == "own pid") {
            entry = MakeLeft(QCoreApplication::applicationPid());
        } else if (kind == "other program") {
            QVERIFY(StartOtherProgram(other));
            entry = MakeLeft(other.processId());
        } else if (kind == "held") {
            MakeLeft(gone);
            QVERIFY(holder.Create(entry + ".lock"));
        }
        QVERIFY(Exists(entry));

        Offer();
        other.kill();
        other.waitForFinished();

        QCOMPARE(ReadAll(victim + "/precious.txt"), QByteArray("keep me"));
        QCOMPARE(ReadAll(secret), QByteArray("SECRET"));
        QCOMPARE(Exists(entry), kept);
        QCOMPARE(m_boxes.size(), asked || damaged ? 1 : 0);
        if (asked) {
            QCOMPARE(m_boxes[0].buttons, CMessageBox::Yes | CMessageBox::No);
            QCOMPARE(m_proposed, QStringList{"DataCapture-20200101-000000.txt"});
            QVERIFY(ReadAll(m_dir.filePath("saved.txt")).contains("NETWORK:  <06>\r\n"));
            QVERIFY(!Exists(entry + ".lock"));
        } else {
            QVERIFY(m_proposed.isEmpty()); // nothing saved, nothing read into a capture
            QVERIFY(!QFile::exists(m_dir.filePath("saved.txt")));
        }
        if (damaged) {
            QCOMPARE(m_boxes[0].buttons, CMessageBox::Ok);
            QVERIFY2(m_boxes[0].strText.contains("cannot be read"), qPrintable(m_boxes[0].strText));
            QVERIFY(m_boxes[0].strText.contains("started 2020-01-01 00:00:00"));
            QVERIFY(!m_boxes[0].strText.contains("SECRET"));
        }
        holder.Release(true);
        QFile::remove(entry);
    }

    // Any number of left captures is handled one at a time: with descriptors for a few only, every
    // capture is offered whole; each save proposes its own start; a cancelled save keeps its capture,
    // No deletes them all.
    void manyCapturesFewDescriptors_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("cancelOdd");
        QTest::addColumn<int>("left");
        QTest::newRow("yes") << int(CMessageBox::Yes) << false << 0;
        QTest::newRow("yes, odd ones cancelled") << int(CMessageBox::Yes) << true << 20;
        QTest::newRow("no") << int(CMessageBox::No) << false << 0;
    }
    void manyCapturesFewDescriptors() {
        QFETCH(int, answer);
        QFETCH(bool, cancelOdd);
        QFETCH(int, left);
        constexpr int COUNT = 40;
        const qint64 gone = GonePid();
        for (int i = 0; i < COUNT; ++i)
            QVERIFY(!MakeLeft(gone, i, "07:00:00    NETWORK   <02>T" + QByteArray::number(i) + "<03>\n",
                              "07:00:01    NETWORK:  <06>R" + QByteArray::number(i) + "\n")
                         .isEmpty());
        m_answer = CMessageBox::StandardButton(answer);
        m_saveTo = [this, cancelOdd](int n) {
            return cancelOdd && n % 2 ? QString() : m_dir.filePath(QStringLiteral("many-%1.txt").arg(n));
        };
        WithFewDescriptors(12, [this] {
            Offer();
            return true;
        });

        QCOMPARE(m_boxes.size(), 1);
        QVERIFY(m_boxes[0].strText.startsWith(
            "POS Emulator did not close normally 40 times. It left 40 captures"));
        QVERIFY(m_boxes[0].strText.contains("    2020-01-01 00:00:00\n    2020-01-01 00:00:01\n"));
        QVERIFY(m_boxes[0].strText.contains("and 30 more"));
        if (answer == CMessageBox::Yes) {
            QCOMPARE(m_proposed.size(), COUNT);
            for (int i = 0; i < COUNT; ++i) {
                QCOMPARE(m_proposed[i],
                         QStringLiteral("DataCapture-20200101-0000%1.txt").arg(i, 2, 10, QLatin1Char('0')));
                if (cancelOdd && i % 2)
                    continue;
                const QByteArray saved = ReadAll(m_dir.filePath(QStringLiteral("many-%1.txt").arg(i)));
                QVERIFY(saved.contains("NETWORK   <02>T" + QByteArray::number(i) + "<03>\r\n"));
                QVERIFY(saved.endsWith("NETWORK:  <06>R" + QByteArray::number(i) + "\r\n"));
            }
        } else {
            QVERIFY(m_proposed.isEmpty());
        }
        QCOMPARE(int(CCaptureJournal::FindAbandoned().size()), left);
        QCOMPARE(
            int(QDir(m_strBase).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size()),
            left);
    }

#ifndef _WIN32 // folder modes and owners: on Windows the user's data folder is private by its access lists
    // What the program makes is the user's alone, whatever the umask.
    void privateWhateverTheUmask_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("000") << 0;
        QTest::newRow("022") << 022;
        QTest::newRow("077") << 077;
    }
    void privateWhateverTheUmask() {
        QFETCH(int, mask);
        QVERIFY(QDir(m_strBase).removeRecursively());
        const mode_t previous = ::umask(mode_t(mask));
        CCaptureJournal journal;
        QString why;
        const bool created = journal.Create(&why);
        CCaptureLines tx;
        const bool attached = created && tx.AttachJournal(journal.TxPath(), &why);
        ::umask(previous);
        QVERIFY2(created && attached, qPrintable(why));
        tx.Append("line");
        tx.Commit();
        QCOMPARE(Mode(m_strBase), mode_t(0700));
        QCOMPARE(Mode(journal.Folder()), mode_t(0700));
        QCOMPARE(Mode(journal.TxPath()), mode_t(0600));
        QCOMPARE(Mode(journal.Folder() + ".lock"), mode_t(0600));
        tx.CloseJournal();
        journal.Remove();
        QVERIFY(!Exists(journal.Folder()));
        QCOMPARE(QDir(m_strBase).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // A captures folder others can write to, or another user's, is neither read nor written.
    void unfitCapturesFolder_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("writable by others") << "0777"
                                            << "others can write to the folder";
        QTest::newRow("group-writable") << "0770"
                                        << "others can write to the folder";
        QTest::newRow("another user's") << "chown"
                                        << "belongs to another user";
    }
    void unfitCapturesFolder() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        QVERIFY(!MakeLeft(GonePid()).isEmpty());
        const QByteArray base = QFile::encodeName(m_strBase);
        if (fault == "chown") {
            if (::geteuid() != 0)
                QSKIP("giving a folder to another user needs root");
            QCOMPARE(::chown(base.constData(), 65534, 65534), 0);
        } else {
            QCOMPARE(::chmod(base.constData(), mode_t(fault.toInt(nullptr, 8))), 0);
        }
        QVERIFY(CCaptureJournal::FindAbandoned().empty());
        Offer();
        QVERIFY(m_boxes.isEmpty());
        CCaptureJournal journal;
        QString why;
        QVERIFY(!journal.Create(&why));
        QVERIFY2(why.contains(reason), qPrintable(why));
        QCOMPARE(::chown(base.constData(), ::geteuid(), ::getegid()), 0);
        QCOMPARE(::chmod(base.constData(), 0700), 0);
        QCOMPARE(CCaptureJournal::FindAbandoned().size(), size_t(1)); // left as it was
    }
#endif
};

POSEMU_TEST_MAIN(TestCaptureJournal)
#include "test_capture_journal.moc"
