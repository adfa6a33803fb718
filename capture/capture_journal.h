#pragma once

#include "capture/journal_files.h"

#include <QDateTime>
#include <QString>
#include <vector>

class QFile;

// The folder under the per-user data folder where running programs keep their capture journals
// (on Linux ~/.local/share/Veltrin Applications/pos-emulator/captures).
QString CaptureJournalsFolder();

// A capture that a program left behind when it did not end normally, as found in the captures folder.
struct SLeftCapture {
    QString strFolder;
    QDateTime started; // when its program made it (from the folder's name)
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
    QString Folder() const { return m_strFolder; }
    QString TxPath() const;
    QString RxPath() const;
    // Deletes the journals, the folder when nothing else is in it, and the lock (a normal end).
    void Remove();

    // Captures left behind under `base`, oldest first: real folders of this user's, named as this
    // program names them, whose program no longer runs. Links and anything else are passed over.
    static std::vector<SLeftCapture> FindAbandoned(const QString& base = CaptureJournalsFolder());
    // Takes a left capture for this program; false when its program runs after all or another
    // program has taken it.
    bool Adopt(const QString& folder);
    // Lets go of an adopted capture and leaves it as it was found, for the next start.
    void Release();
    // Whether an adopted capture holds a line; reads a little of each journal only.
    ELeftState Inspect(QString* why) const;
    // Opens the adopted capture's journals for reading (a journal never made stays closed); false
    // with the reason when one is not a regular file or cannot be opened.
    bool OpenJournals(QFile& tx, QFile& rx, QString* why) const;

private:
    QString m_strFolder;
    CJournalLock m_lock;
    bool m_bLockMade = false; // by Adopt, where the folder had none
};
