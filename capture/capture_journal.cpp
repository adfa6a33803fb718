#include "capture/capture_journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>

namespace {
const char COMPANY[] = "Veltrin Applications";
const char APPLICATION[] = "pos-emulator";
const char STAMP_FORMAT[] = "yyyyMMdd-HHmmss";

// The lock lies beside the folder and is taken before the folder is made, so that a folder without
// a live lock is always one that was left behind.
QString LockPath(const QString& folder) {
    return folder + QStringLiteral(".lock");
}

// A folder of ours is named after its start and its program: 20261207-194019-4242-0.
bool ParseFolderName(const QString& name, QDateTime* started, qint64* pid) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{8}-\\d{6})-(\\d{1,10})-(\\d{1,3})$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return false;
    *started = QDateTime::fromString(match.captured(1), QLatin1String(STAMP_FORMAT));
    *pid = match.captured(2).toLongLong();
    return started->isValid();
}

bool HasProgramRunning(const QString& folder) {
    QDateTime started;
    qint64 pid = 0;
    return !ParseFolderName(QFileInfo(folder).fileName(), &started, &pid) || IsProgramRunning(pid);
}

// Whether the journal holds a whole line. A journal is read only as far as its first line feed,
// and not beyond a few megabytes: a longer one holds a line, cut or not.
ELeftState InspectJournal(const QString& path, QString* why) {
    QFile file;
    switch (OpenJournalForReading(path, file, why)) {
    case JOURNAL_ABSENT:
        return LEFT_EMPTY;
    case JOURNAL_OPENED:
        break;
    default:
        return LEFT_DAMAGED;
    }
    constexpr qint64 LOOK_AT_MOST = 4 * 1024 * 1024;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    for (qint64 seen = 0; seen < LOOK_AT_MOST;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0) {
            if (why)
                *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
            return LEFT_DAMAGED;
        }
        if (n == 0)
            return LEFT_EMPTY; // nothing, or one line never written whole
        if (std::find(chunk.constData(), chunk.constData() + n, '\n') != chunk.constData() + n)
            return LEFT_HAS_LINES;
        seen += n;
    }
    return LEFT_HAS_LINES;
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
    QString why;
    if (!MakePrivateFolder(base, &why)) {
        if (error)
            *error = why;
        return false;
    }
    const QString stamp = QDateTime::currentDateTime().toString(QLatin1String(STAMP_FORMAT));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString folder = QStringLiteral("%1/%2-%3-%4")
                                   .arg(base, stamp)
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(attempt);
        if (JournalEntryKind(folder) != JOURNAL_ENTRY_MISSING || !m_lock.Create(LockPath(folder)))
            continue;
        if (!MakePrivateFolder(folder, &why)) {
            m_lock.Release(true);
            if (error)
                *error = why;
            return false;
        }
        m_strFolder = folder;
        m_bLockMade = true;
        return true;
    }
    if (error)
        *error = QStringLiteral("cannot lock a folder in %1").arg(QDir::toNativeSeparators(base));
    return false;
}

void CCaptureJournal::Remove() {
    if (m_strFolder.isEmpty())
        return;
    // Only what the program writes there: a link is removed, never followed.
    RemoveJournalEntry(TxPath());
    RemoveJournalEntry(RxPath());
    RemoveEmptyFolder(m_strFolder);
    m_lock.Release(true);
    m_strFolder.clear();
}

std::vector<SLeftCapture> CCaptureJournal::FindAbandoned(const QString& base) {
    std::vector<SLeftCapture> left;
    if (JournalEntryKind(base) == JOURNAL_ENTRY_MISSING ||
        !IsPrivateFolder(QFileInfo(base).canonicalFilePath()))
        return left;
    const QDir dir(base);
    const QStringList names =
        dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        SLeftCapture capture;
        qint64 pid = 0;
        if (!ParseFolderName(name, &capture.started, &pid))
            continue;
        capture.strFolder = dir.filePath(name);
        if (JournalEntryKind(capture.strFolder) != JOURNAL_ENTRY_FOLDER ||
            !IsPrivateFolder(capture.strFolder))
            continue;
        if (IsProgramRunning(pid))
            continue;
        left.push_back(std::move(capture));
    }
    std::stable_sort(left.begin(), left.end(),
                     [](const SLeftCapture& a, const SLeftCapture& b) { return a.started < b.started; });
    return left;
}

bool CCaptureJournal::Adopt(const QString& folder) {
    Release();
    if (JournalEntryKind(folder) != JOURNAL_ENTRY_FOLDER || !IsPrivateFolder(folder))
        return false;
    const bool hadLock = JournalEntryKind(LockPath(folder)) != JOURNAL_ENTRY_MISSING;
    if (!m_lock.TakeOver(LockPath(folder)))
        return false;
    // A program whose lock file was deleted under it still runs: its folder is not left behind.
    if (HasProgramRunning(folder)) {
        m_lock.Release(!hadLock);
        return false;
    }
    m_strFolder = folder;
    m_bLockMade = !hadLock;
    return true;
}

void CCaptureJournal::Release() {
    m_lock.Release(m_bLockMade);
    m_bLockMade = false;
    m_strFolder.clear();
}

ELeftState CCaptureJournal::Inspect(QString* why) const {
    const ELeftState tx = InspectJournal(TxPath(), why);
    if (tx == LEFT_DAMAGED)
        return tx;
    const ELeftState rx = InspectJournal(RxPath(), why);
    if (rx == LEFT_DAMAGED)
        return rx;
    return tx == LEFT_HAS_LINES || rx == LEFT_HAS_LINES ? LEFT_HAS_LINES : LEFT_EMPTY;
}

bool CCaptureJournal::OpenJournals(QFile& tx, QFile& rx, QString* why) const {
    for (const auto& [path, file] : {std::pair<QString, QFile*>{TxPath(), &tx}, {RxPath(), &rx}}) {
        const EJournalOpen opened = OpenJournalForReading(path, *file, why);
        if (opened != JOURNAL_OPENED && opened != JOURNAL_ABSENT)
            return false;
    }
    return true;
}
