#pragma once

#include <QString>
#include <memory>
#include <vector>

#include <QLockFile>

// The folder under the per-user data folder where running programs keep their capture journals
// (on Linux ~/.local/share/Veltrin Applications/pos-emulator/captures).
QString CaptureJournalsFolder();

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
    // Deletes the journals and the folder, and lets go of the lock (a normal end).
    void Remove();
    // The journals of programs that ended without removing theirs (their lock is stale), each locked
    // now by the object returned, oldest first. Journals of a program still running are left alone.
    static std::vector<std::unique_ptr<CCaptureJournal>>
    TakeAbandoned(const QString& base = CaptureJournalsFolder());

private:
    QString m_strFolder;
    std::unique_ptr<QLockFile> m_pLock;
};
