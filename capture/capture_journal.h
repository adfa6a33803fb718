#pragma once

#include "capture/journal_files.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

class CCaptureLines;
class QFile;

// The folder under the per-user data folder where running programs keep their capture journals
// (on Linux ~/.local/share/Veltrin Applications/pos-emulator/captures).
QString CaptureJournalsFolder();

// The captures folder, opened once: everything found in it is reached from this open folder.
using CaptureBase = std::shared_ptr<const CJournalDir>;
// Opens the captures folder at path (made when `make` is set); null with the reason when it cannot be
// used.
CaptureBase OpenCaptureBase(const QString& path, bool make, QString* why = nullptr);

// A capture that a program left behind when it did not end normally, as found in the captures folder.
struct SLeftCapture {
    QString strName;   // its folder's name in the captures folder
    QDateTime started; // when its program made it (from the folder's name)
};

// What a look at the captures folder found besides the captures left behind.
struct SCapturesSeen {
    int nHeld = 0; // captures of programs that still run, or seem to
};

enum ELeftState { LEFT_EMPTY, LEFT_HAS_LINES, LEFT_DAMAGED };

// One program's pair of journals ([Tx] and [Rx]) in a folder of its own, held by a lock file beside it
// for as long as the program runs, so that programs running at once never touch each other's.
class CCaptureJournal {
public:
    CCaptureJournal() = default;
    ~CCaptureJournal();
    CCaptureJournal(const CCaptureJournal&) = delete;
    CCaptureJournal& operator=(const CCaptureJournal&) = delete;

    // Makes a new folder for this program under `base`, locked; false with the reason when it cannot.
    bool Create(QString* error, const QString& base = CaptureJournalsFolder());
    // Keeps the two lists in new journals of this folder; false with the reason when one cannot be made.
    bool Attach(CCaptureLines& tx, CCaptureLines& rx, QString* error);
    QString Folder() const { return m_folder.Path(); }
    QString TxPath() const;
    QString RxPath() const;
    // Deletes the journals, the folder when nothing else is in it, and the lock (a normal end).
    void Remove();
    // Lets go of the folder and leaves what it holds for the next start of POS Emulator to offer
    // (the journals are closed first).
    void Keep();

    // Captures left behind in the captures folder, oldest first: real folders of this user's, named as
    // this program names them, whose program no longer runs. Links and anything else are passed over.
    static std::vector<SLeftCapture> FindAbandoned(const CaptureBase& base, SCapturesSeen* seen = nullptr);
    static std::vector<SLeftCapture> FindAbandoned();
    // Takes a left capture for this program; false when its program runs after all, another program
    // has taken it, or its lock is not a file of ours (why says so then).
    bool Adopt(const CaptureBase& base, const QString& name, QString* why = nullptr);
    // Lets go of an adopted capture and leaves it as it was found, for the next start.
    void Release();
    // Whether an adopted capture holds a whole line. The journals are read to their end a piece at a
    // time: a journal that holds bytes but no whole line is damaged, and is kept.
    ELeftState Inspect(QString* why) const;
    // Opens the adopted capture's journals for reading (a journal never made stays closed); false
    // with the reason when one is not a regular file or cannot be opened.
    bool OpenJournals(QFile& tx, QFile& rx, QString* why) const;

private:
    CaptureBase m_base;
    QString m_strName;
    CJournalDir m_folder;
    CJournalLock m_lock;
    bool m_bLockMade = false; // by Adopt, where the folder had none
};
