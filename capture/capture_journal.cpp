#include "capture/capture_journal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace {
const char COMPANY[] = "Veltrin Applications";
const char APPLICATION[] = "pos-emulator";

// The lock lies beside the folder and is taken before the folder is made, so that a folder without
// a live lock is always one that was left behind.
QString LockPath(const QString& folder) {
    return folder + QStringLiteral(".lock");
}

std::unique_ptr<QLockFile> TryLock(const QString& folder) {
    auto lock = std::make_unique<QLockFile>(LockPath(folder));
    lock->setStaleLockTime(0); // a program may run for days: only a dead owner makes a lock stale
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}
} // namespace

QString CaptureJournalsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') +
           QLatin1String(COMPANY) + QLatin1Char('/') + QLatin1String(APPLICATION) +
           QStringLiteral("/captures");
}

CCaptureJournal::~CCaptureJournal() = default; // an abandoned or crashed program's journals stay

QString CCaptureJournal::TxPath() const {
    return m_strFolder + QStringLiteral("/tx.journal");
}
QString CCaptureJournal::RxPath() const {
    return m_strFolder + QStringLiteral("/rx.journal");
}

bool CCaptureJournal::Create(QString* error, const QString& base) {
    if (!QDir().mkpath(base)) {
        if (error)
            *error = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(base));
        return false;
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString folder = QStringLiteral("%1/%2-%3-%4")
                                   .arg(base, stamp)
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(attempt);
        if (QFileInfo::exists(folder) || QFileInfo::exists(LockPath(folder)))
            continue;
        auto lock = TryLock(folder);
        if (!lock)
            continue;
        if (!QDir().mkdir(folder)) {
            if (error)
                *error = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(folder));
            return false;
        }
        m_strFolder = folder;
        m_pLock = std::move(lock);
        return true;
    }
    if (error)
        *error = QStringLiteral("cannot lock a folder in %1").arg(QDir::toNativeSeparators(base));
    return false;
}

void CCaptureJournal::Remove() {
    if (m_strFolder.isEmpty())
        return;
    QDir(m_strFolder).removeRecursively();
    m_pLock.reset(); // unlocks and deletes the lock file
    m_strFolder.clear();
}

std::vector<std::unique_ptr<CCaptureJournal>> CCaptureJournal::TakeAbandoned(const QString& base) {
    std::vector<std::unique_ptr<CCaptureJournal>> abandoned;
    const QDir dir(base);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString folder = dir.filePath(name);
        auto lock = TryLock(folder);
        if (!lock)
            continue; // its program runs
        auto journal = std::make_unique<CCaptureJournal>();
        journal->m_strFolder = folder;
        journal->m_pLock = std::move(lock);
        abandoned.push_back(std::move(journal));
    }
    return abandoned;
}
