#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QFile;

// The file operations of the capture journals, the one place where they differ by platform
// (journal_files_posix.cpp, journal_files_win.cpp). Nothing found in the captures folder is trusted:
// the folder is opened once and every entry is reached from that open folder, never through a path
// that could be swapped meanwhile; links are never followed, only regular files with one name are
// read, and what the program makes there is private to the user whatever the umask.

enum EJournalEntry { JOURNAL_ENTRY_MISSING, JOURNAL_ENTRY_FOLDER, JOURNAL_ENTRY_FILE, JOURNAL_ENTRY_OTHER };
enum EJournalOpen { JOURNAL_OPENED, JOURNAL_ABSENT, JOURNAL_NOT_REGULAR, JOURNAL_OPEN_FAILED };

// An open folder of the captures: the captures folder itself or one program's folder in it.
class CJournalDir {
public:
    CJournalDir() = default;
    ~CJournalDir();
    CJournalDir(const CJournalDir&) = delete;
    CJournalDir& operator=(const CJournalDir&) = delete;

    // Opens the captures folder at path, made (with its missing parents, 0700) when `make` is set.
    // Only a folder of the user's that no one else can write to is taken; its mode is never changed
    // unless the program made it. False with the reason otherwise.
    bool OpenBase(const QString& path, bool make, QString* why);
    // Opens the real folder `name` of parent; a link, or anything else, is refused.
    bool OpenSub(const CJournalDir& parent, const QString& name, QString* why);
    // Makes the new folder `name` in parent (0700) and opens it; false when it is there already.
    bool MakeSub(const CJournalDir& parent, const QString& name, QString* why);
    void Close();
    bool IsOpen() const { return m_hHandle != INVALID; }
    // For messages and for the journal writer only: the folder as it was opened.
    QString Path() const { return m_strPath; }
    QString PathOf(const QString& name) const { return m_strPath + QLatin1Char('/') + name; }

    // The names in the folder, "." and ".." left out.
    QStringList Entries() const;
    // What the entry is, the entry itself and not what a link points to (a link is OTHER).
    EJournalEntry Kind(const QString& name) const;
    // Opens a journal to read it, without following a link and without waiting on a FIFO or a device;
    // only a regular file with no other name (a hard link could be anyone's file) is opened.
    EJournalOpen OpenForReading(const QString& name, QFile& file, QString* why) const;
    // Makes an empty journal (replacing one of that name), readable and writable by the user only,
    // every write going to its end.
    bool OpenForWriting(const QString& name, QFile& file, QString* why) const;
    // Removes the entry itself (a link, not its target); true when it is gone.
    bool Remove(const QString& name) const;
    // Removes the empty folder `name`; never anything inside it.
    bool RemoveFolder(const QString& name) const;

private:
    friend class CJournalLock;
    static constexpr qintptr INVALID = -1;
    qintptr m_hHandle = INVALID; // a descriptor, or a handle on Windows
    QString m_strPath;
};

// The lock file beside a capture folder: held for as long as its program runs, and released by the
// operating system when the program dies, so that a lock no one holds is a program that has ended.
class CJournalLock {
public:
    CJournalLock() = default;
    ~CJournalLock();
    CJournalLock(const CJournalLock&) = delete;
    CJournalLock& operator=(const CJournalLock&) = delete;

    // Makes the new lock file `name` in dir and holds it; false when one is there already. dir must
    // stay open while the lock is held.
    bool Create(const CJournalDir& dir, const QString& name);
    // Holds the lock file of a folder whose program may have ended: false when its program still
    // holds it, or the file is not a regular file of the user's with one name (why says). A missing
    // file is made.
    bool TakeOver(const CJournalDir& dir, const QString& name, QString* why = nullptr);
    // Lets go; the lock file is deleted when `remove` is set.
    void Release(bool remove);
    bool IsHeld() const { return m_hHandle != CJournalDir::INVALID; }

private:
    const CJournalDir* m_pDir = nullptr;
    QString m_strName;
    qintptr m_hHandle = CJournalDir::INVALID;
};

// True while the process runs and may be the program of ours that started at `started` (POS Emulator,
// pos-player, or the program running now); also when that cannot be told. Decided from what every
// user may read about a process: a process of another user, of another name, or started after
// `started` is not it.
bool IsProgramRunning(qint64 pid, const QDateTime& started);

// Makes an empty journal at path, as CJournalDir::OpenForWriting does in a folder (a file of its own,
// outside the captures folder: tests, /dev/full).
bool OpenJournalFileForWriting(const QString& path, QFile& file, QString* why);

// For the disk syncer: a second descriptor of an open journal (-1 when none can be had), and the
// flush of a journal to the disk through such a descriptor, which closes it. With `writebackOnly`
// the writing out is only started, where the system can do that.
int DuplicateJournalHandle(int fd);
void SyncJournalHandle(int fd, bool writebackOnly);
