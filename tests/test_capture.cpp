// Capture lines, the files saved from them, the journals that keep them and what a next start finds.
#include "capture/capture_file.h"
#include "capture/capture_journal.h"
#include "capture/capture_list.h"
#include "capture/capture_log.h"
#include "test_support.h"
#include "ui/capture_list_model.h"
#include "ui/capture_save.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>

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

class TestCapture : public QObject {
    Q_OBJECT
    const QDateTime m_time{QDate(2026, 12, 6), QTime(7, 5, 9)};
    QTemporaryDir m_dir;
    QString m_strBase;
    QList<SMessageBox> m_boxes;
    QStringList m_proposed;
    CMessageBox::StandardButton m_answer = CMessageBox::Yes;
    std::function<QString(int)> m_saveTo; // the n-th save dialog's answer

    QString LeftFolder(qint64 pid, int second = 0) const {
        return m_strBase + QStringLiteral("/20200101-00%1-%2-0")
                               .arg(QTime(0, 0).addSecs(second).toString(QStringLiteral("mmss")))
                               .arg(pid);
    }
    // A capture as a program that died left it.
    QString MakeLeft(qint64 pid, int second = 0, const QByteArray& tx = "07:00:00    NETWORK   <02>A<03>\n",
                     const QByteArray& rx = "07:00:01    NETWORK:  <06>\n", QString folder = QString()) {
        if (folder.isEmpty())
            folder = LeftFolder(pid, second);
        if (!QDir().mkpath(folder))
            return QString();
        if (!tx.isNull())
            WriteFile(folder + "/tx.journal", tx);
        if (!rx.isNull())
            WriteFile(folder + "/rx.journal", rx);
        return folder;
    }
    void Offer(int stopAt = -1) {
        int saves = 0;
        SetSaveFileHandler([this, &saves](const SSaveFileRequest& request) {
            m_proposed << (request.bChooseFolder ? QStringLiteral("folder") : request.strProposedName);
            return m_saveTo ? m_saveTo(saves++) : QString();
        });
        SetRecoveryProgressHandler([stopAt](int done, int) { return done != stopAt; });
        OfferAbandonedCaptures();
        SetSaveFileHandler(nullptr);
        SetRecoveryProgressHandler(nullptr);
    }
    // A copy of a program that idles, named as one of ours, started as `user` (none: this user).
    bool StartNamedOurs(QProcess& process, int user = -1) {
#ifdef _WIN32
        Q_UNUSED(process);
        Q_UNUSED(user);
        return false;
#else
        const QString copy = m_dir.filePath("bin/pos-player");
        if (!QFileInfo::exists(copy) &&
            (!QDir().mkpath(m_dir.filePath("bin")) || !QFile::copy(QStringLiteral("/bin/sleep"), copy)))
            return false;
        for (const QString& folder : {m_dir.path(), m_dir.filePath("bin")})
            QFile::setPermissions(folder, QFileDevice::Permissions(0x7555)); // others may run it
        if (user >= 0) {
            if (::geteuid() != 0)
                return false;
            process.setChildProcessModifier([user] {
                if (::setgid(gid_t(user)) != 0 || ::setuid(uid_t(user)) != 0)
                    ::_exit(1);
            });
        }
        process.start(copy, {QStringLiteral("30")});
        return process.waitForStarted();
#endif
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
        QTest::newRow("rx journal hard-linked to a secret") << "rx hard link" << false << true << true;
        QTest::newRow("lock is a link") << "lock link" << false << true << true;
        QTest::newRow("lock is a fifo") << "lock fifo" << false << true << true;
        QTest::newRow("lock is a folder") << "lock folder" << false << true << true;
        QTest::newRow("name ends in a line feed") << "line feed" << false << false << true;
        QTest::newRow("pid now a later program of ours") << "later ours" << true << false << false;
        QTest::newRow("pid now another user's program of our name") << "other user" << true << false << false;
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
        CJournalDir base;
        QVERIFY(base.OpenBase(m_strBase, false, nullptr));
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
            const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            entry = MakeLeft(QCoreApplication::applicationPid(), 0, "07:00:00    NETWORK   <02>A<03>\n",
                             "07:00:01    NETWORK:  <06>\n",
                             m_strBase +
                                 QStringLiteral("/%1-%2-0").arg(now).arg(QCoreApplication::applicationPid()));
        } else if (kind == "later ours" || kind == "other user") {
            if (!StartNamedOurs(other, kind == "other user" ? 65534 : -1))
                QSKIP("needs a copy of sleep (and root, to run it as another user)");
            entry = MakeLeft(other.processId());
        } else if (kind == "rx hard link") {
            MakeLeft(gone, 0, "07:00:00    NETWORK   <02>A<03>\n", QByteArray());
            if (!MakeHardLink(secret, entry + "/rx.journal"))
                QSKIP("no hard links made here");
        } else if (kind.startsWith("lock ")) {
            MakeLeft(gone);
            if (kind == "lock link")
                QVERIFY(QFile::link(secret, entry + ".lock"));
            else if (kind == "lock folder")
                QVERIFY(QDir().mkpath(entry + ".lock"));
            else if (!MakeSpecialFile(entry + ".lock", "fifo"))
                QSKIP("no FIFOs here");
        } else if (kind == "line feed") {
            SKIP_ON_WINDOWS("no line feed in a Windows file name");
            entry = MakeLeft(gone, 0, "07:00:00    NETWORK   <02>A<03>\n", "07:00:01    NETWORK:  <06>\n",
                             LeftFolder(gone) + "\n");
        } else if (kind == "other program") {
            QVERIFY(StartOtherProgram(other));
            entry = MakeLeft(other.processId());
        } else if (kind == "held") {
            MakeLeft(gone);
            QVERIFY(holder.Create(base, QFileInfo(entry).fileName() + ".lock"));
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
        if (kind.startsWith("lock "))
            QVERIFY2(m_boxes[0].strText.contains("its lock"), qPrintable(m_boxes[0].strText));
    }

    // Any number of left captures is handled one at a time: with descriptors for a few only, every
    // capture is saved whole into the one folder chosen, under its own start; Cancel part way keeps the
    // rest, a cancelled folder choice keeps them all, No deletes them all.
    void manyCapturesFewDescriptors_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("chooseFolder");
        QTest::addColumn<int>("stopAt");
        QTest::addColumn<int>("left");
        QTest::newRow("yes") << int(CMessageBox::Yes) << true << -1 << 0;
        QTest::newRow("yes, stopped after 15") << int(CMessageBox::Yes) << true << 15 << 25;
        QTest::newRow("yes, no folder chosen") << int(CMessageBox::Yes) << false << -1 << 40;
        QTest::newRow("no") << int(CMessageBox::No) << true << -1 << 0;
    }
    void manyCapturesFewDescriptors() {
        QFETCH(int, answer);
        QFETCH(bool, chooseFolder);
        QFETCH(int, stopAt);
        QFETCH(int, left);
        constexpr int COUNT = 40;
        const qint64 gone = GonePid();
        for (int i = 0; i < COUNT; ++i)
            QVERIFY(!MakeLeft(gone, i, "07:00:00    NETWORK   <02>T" + QByteArray::number(i) + "<03>\n",
                              "07:00:01    NETWORK:  <06>R" + QByteArray::number(i) + "\n")
                         .isEmpty());
        const QString folder = m_dir.filePath("many");
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder));
        // One file of that name is there already: it stays, the capture takes the next free name.
        QVERIFY(WriteFile(folder + "/DataCapture-20200101-000000.txt", "older"));
        m_answer = CMessageBox::StandardButton(answer);
        m_saveTo = [folder, chooseFolder](int) {
            return chooseFolder ? folder : QString();
        };
        WithFewDescriptors(12, [this, stopAt] {
            Offer(stopAt);
            return true;
        });

        QCOMPARE(m_boxes.size(), 1);
        QVERIFY(m_boxes[0].strText.startsWith(
            "POS Emulator did not close normally 40 times. It left 40 captures"));
        QVERIFY(m_boxes[0].strText.contains("    2020-01-01 00:00:00\n    2020-01-01 00:00:01\n"));
        QVERIFY(m_boxes[0].strText.contains("and 30 more"));
        QCOMPARE(m_proposed, answer == CMessageBox::Yes ? QStringList{"folder"} : QStringList());
        const int saved = answer == CMessageBox::No || !chooseFolder ? 0 : stopAt >= 0 ? stopAt : COUNT;
        QCOMPARE(ReadAll(folder + "/DataCapture-20200101-000000.txt"), QByteArray("older"));
        for (int i = 0; i < COUNT; ++i) {
            const QString name =
                QStringLiteral("DataCapture-20200101-00%1%2.txt")
                    .arg(QTime(0, 0).addSecs(i).toString(QStringLiteral("mmss")), i == 0 ? "-2" : "");
            const QByteArray content = ReadAll(folder + QLatin1Char('/') + name);
            QCOMPARE(!content.isEmpty(), i < saved);
            if (i < saved) {
                QVERIFY(content.contains("NETWORK   <02>T" + QByteArray::number(i) + "<03>\r\n"));
                QVERIFY(content.endsWith("NETWORK:  <06>R" + QByteArray::number(i) + "\r\n"));
            }
        }
        QCOMPARE(int(CCaptureJournal::FindAbandoned().size()), left);
        QCOMPARE(
            int(QDir(m_strBase).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size()),
            left);
    }

    // A capture whose program still runs is not offered, but the question says it is there.
    void heldCaptureNamed() {
        CJournalDir base;
        QVERIFY(base.OpenBase(m_strBase, false, nullptr));
        const QString held = MakeLeft(GonePid(), 1);
        CJournalLock holder;
        QVERIFY(holder.Create(base, QFileInfo(held).fileName() + ".lock"));
        MakeLeft(GonePid(), 2);
        Offer();
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes[0].strText.endsWith("\n\n1 capture is held by a running program."),
                 qPrintable(m_boxes[0].strText));
        QVERIFY(Exists(held + "/tx.journal"));
    }

    // Journals read back hold one bounded line at most: a journal of bytes without a line feed is told
    // and kept, not saved as a capture of banners; a line too long is cut and said; a small broken
    // line alone is a capture never written, and goes.
    void journalWithoutLineFeeds_data() {
        QTest::addColumn<QByteArray>("tx");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<bool>("kept");
        const QByteArray big(3 * 1024 * 1024, 'x');
        QTest::newRow("3 MiB, no line feed") << big << false << true << true;
        QTest::newRow("3 MiB line, then a line") << big + "\nNEXT\n" << true << false << false;
        QTest::newRow("a broken line alone") << QByteArray("07:00:00    NETW") << false << false << false;
        QTest::newRow("binary bytes") << QByteArray("07:00:00 \x01\xff\n") << false << true << true;
    }
    void journalWithoutLineFeeds() {
        QFETCH(QByteArray, tx);
        QFETCH(bool, asked);
        QFETCH(bool, damaged);
        QFETCH(bool, kept);
        const QString entry = MakeLeft(GonePid(), 0, tx, QByteArray());
        Offer();
        QCOMPARE(Exists(entry), kept);
        QCOMPARE(m_boxes.size(), asked || damaged ? 1 : 0);
        if (damaged)
            QVERIFY2(m_boxes[0].strText.contains(tx.size() > 100
                                                     ? "holds 3145728 bytes and not one whole line"
                                                     : "holds a byte no capture line has (0x01 at byte 9)"),
                     qPrintable(m_boxes[0].strText));
        if (asked) {
            const QByteArray saved = ReadAll(m_dir.filePath("saved.txt"));
            QVERIFY(saved.contains(QByteArray(1024 * 1024, 'x') +
                                   " [line cut: 3145728 bytes in all]\r\nNEXT\r\n"));
            QVERIFY(saved.size() < 1024 * 1024 + 1000);
        }
    }

    // The capture folder swapped for a link while the save dialog is open: what is read, written and
    // removed is the capture's own, never what the link leads to.
    void folderSwappedDuringSave() {
        SKIP_ON_WINDOWS("symbolic links need administrator rights on Windows");
        const QString victim = m_dir.filePath("victim");
        QDir(victim).removeRecursively();
        QVERIFY(QDir().mkpath(victim));
        for (const char* name : {"tx.journal", "rx.journal", "precious.txt"})
            QVERIFY(WriteFile(victim + QLatin1Char('/') + QLatin1String(name), "VICTIM\n"));
        const QString entry = MakeLeft(GonePid());
        const QString target = m_dir.filePath("saved.txt");
        m_saveTo = [entry, victim, target](int) {
            QDir().rename(entry, entry + "-moved");
            QFile::link(victim, entry);
            return target;
        };
        Offer();
        for (const char* name : {"tx.journal", "rx.journal", "precious.txt"})
            QCOMPARE(ReadAll(victim + QLatin1Char('/') + QLatin1String(name)), QByteArray("VICTIM\n"));
        const QByteArray saved = ReadAll(target);
        QVERIFY(saved.contains("NETWORK   <02>A<03>\r\n"));
        QVERIFY(!saved.contains("VICTIM"));
        QFile::remove(entry);
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
        const QString company = QFileInfo(QFileInfo(m_strBase).absolutePath()).absolutePath();
        QVERIFY(QDir(company).removeRecursively());
        const mode_t previous = ::umask(mode_t(mask));
        CCaptureJournal journal;
        QString why;
        const bool created = journal.Create(&why);
        CCaptureLines tx, rx;
        const bool attached = created && journal.Attach(tx, rx, &why);
        ::umask(previous);
        QVERIFY2(created && attached, qPrintable(why));
        tx.Append("line");
        tx.Commit();
        QCOMPARE(Mode(company), mode_t(0700));
        QCOMPARE(Mode(company + "/pos-emulator"), mode_t(0700));
        QCOMPARE(Mode(m_strBase), mode_t(0700));
        QCOMPARE(Mode(journal.Folder()), mode_t(0700));
        QCOMPARE(Mode(journal.TxPath()), mode_t(0600));
        QCOMPARE(Mode(journal.Folder() + ".lock"), mode_t(0600));
        tx.CloseJournal();
        rx.CloseJournal();
        const QString folder = journal.Folder();
        journal.Remove();
        QVERIFY(!Exists(folder));
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

    // A captures folder the user linked to a folder of theirs is used, and its mode is theirs to set;
    // a home whose name is not UTF-8 keeps the journals inside it.
    void capturesFolderOfTheUsers() {
        const QString own = m_dir.filePath("own-captures");
        QVERIFY(QDir().mkpath(own));
        QCOMPARE(::chmod(QFile::encodeName(own).constData(), 0755), 0);
        QVERIFY(QDir(m_strBase).removeRecursively());
        QVERIFY(QFile::link(own, m_strBase));
        CCaptureJournal journal;
        QString why;
        QVERIFY2(journal.Create(&why), qPrintable(why));
        QCOMPARE(Mode(own), mode_t(0755));
        QCOMPARE(QDir(own).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
        journal.Remove();
        QFile::remove(m_strBase);

        const QByteArray home = qgetenv("HOME");
        const QByteArray odd = QFile::encodeName(m_dir.path()) + "/home-\xff\xfe";
        QCOMPARE(::mkdir(odd.constData(), 0700), 0);
        qputenv("HOME", odd);
        CCaptureJournal elsewhere;
        const bool created = elsewhere.Create(&why);
        qputenv("HOME", home);
        QVERIFY2(created, qPrintable(why));
        struct stat st {};
        QByteArray made = odd + "/.local/share/Veltrin Applications/pos-emulator/captures";
        QCOMPARE(::stat(made.constData(), &st), 0);
        elsewhere.Remove();
        for (; made.size() >= odd.size(); made.truncate(made.lastIndexOf('/')))
            QCOMPARE(::rmdir(made.constData()), 0); // a name QDir cannot remove
    }
#endif

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
