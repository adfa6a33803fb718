#pragma once

#include <QString>
#include <memory>

class QFile;

// The file operations of the capture journals, the one place where they differ by platform. Nothing
// found in the captures folder is trusted: links are never followed, only regular files are read,
// and what the program makes there is private to the user whatever the umask.

enum EJournalEntry { JOURNAL_ENTRY_MISSING, JOURNAL_ENTRY_FOLDER, JOURNAL_ENTRY_FILE, JOURNAL_ENTRY_OTHER };

// What the entry at path is, the entry itself and not what a link points to (a link is OTHER).
EJournalEntry JournalEntryKind(const QString& path);

// Makes the folder (and the folders on the way) unless it is there, and makes sure it belongs to the
// user and no one else can write to it; a folder of the user's that others can read is made private.
// False, with the reason, when the folder is not fit to hold captures.
bool MakePrivateFolder(const QString& path, QString* why);
// True when the folder is a real folder of the user's that no one else can write to.
bool IsPrivateFolder(const QString& path);
// Removes an empty folder; never anything inside it.
bool RemoveEmptyFolder(const QString& path);
// Removes the entry itself (a link, not its target); true when it is gone.
bool RemoveJournalEntry(const QString& path);

enum EJournalOpen { JOURNAL_OPENED, JOURNAL_ABSENT, JOURNAL_NOT_REGULAR, JOURNAL_OPEN_FAILED };

// Opens a journal to read it, without following a link and without waiting on a FIFO or a device;
// only a regular file is opened.
EJournalOpen OpenJournalForReading(const QString& path, QFile& file, QString* why);
// Makes an empty journal (replacing one of that name), readable and writable by the user only,
// every write going to its end.
bool OpenJournalForWriting(const QString& path, QFile& file, QString* why);

// The lock file beside a capture folder: held for as long as its program runs, and released by the
// operating system when the program dies, so that a lock no one holds is a program that has ended.
class CJournalLock {
public:
    CJournalLock() = default;
    ~CJournalLock();
    CJournalLock(const CJournalLock&) = delete;
    CJournalLock& operator=(const CJournalLock&) = delete;

    // Makes a new lock file and holds it; false when one is there already.
    bool Create(const QString& path);
    // Holds the lock file of a folder whose program may have ended: false when its program still
    // holds it, or the file is not a regular file of the user's. A missing file is made.
    bool TakeOver(const QString& path);
    // Lets go; the lock file is deleted when `remove` is set.
    void Release(bool remove);
    bool IsHeld() const { return m_nHandle >= 0; }

private:
    QString m_strPath;
    int m_nHandle = -1;
};

// True while the process runs and may be one of this program's (POS Emulator, pos-player, or the
// program running now); also when that cannot be told.
bool IsProgramRunning(qint64 pid);
