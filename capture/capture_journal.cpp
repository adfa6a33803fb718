#include "capture/capture_journal.h"

#include "capture/capture_file.h"
#include "capture/capture_list.h"

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
const char TX_NAME[] = "tx.journal";
const char RX_NAME[] = "rx.journal";

// The lock lies beside the folder and is taken before the folder is made, so that a folder without
// a live lock is always one that was left behind.
QString LockName(const QString& folder) {
    return folder + QStringLiteral(".lock");
}

// A folder of ours is named after its start and its program: 20261207-194019-4242-0.
bool ParseFolderName(const QString& name, QDateTime* started, qint64* pid) {
    static const QRegularExpression pattern(QStringLiteral("\\A(\\d{8}-\\d{6})-(\\d{1,10})-(\\d{1,3})\\z"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return false;
    *started = QDateTime::fromString(match.captured(1), QLatin1String(STAMP_FORMAT));
    *pid = match.captured(2).toLongLong();
    return started->isValid();
}

// Whether the journal holds a whole line, read a piece at a time up to its first line end. Bytes
// without a line feed are a line the program was writing when it died, unless there are more of them
// than a line can hold: then the file is not a journal of ours.
ELeftState InspectJournal(const CJournalDir& folder, const QString& name, QString* why) {
    QFile file;
    switch (folder.OpenForReading(name, file, why)) {
    case JOURNAL_ABSENT:
        return LEFT_EMPTY;
    case JOURNAL_OPENED:
        break;
    default:
        return LEFT_DAMAGED;
    }
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    for (qint64 seen = 0;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0) {
            if (why)
                *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(folder.PathOf(name)),
                                                    file.errorString());
            return LEFT_DAMAGED;
        }
        if (n == 0) {
            if (seen <= CAPTURE_JOURNAL_LINE_MAX)
                return LEFT_EMPTY; // nothing, or one line never written whole
            if (why)
                *why = QStringLiteral("%1 holds %2 bytes and not one whole line")
                           .arg(QDir::toNativeSeparators(folder.PathOf(name)))
                           .arg(seen);
            return LEFT_DAMAGED;
        }
        const char* const end = chunk.constData() + n;
        const char* const feed = std::find(chunk.constData(), end, '\n');
        // Capture lines are printable ASCII: anything else before the first line end is not ours,
        // and is told at once instead of after reading gigabytes for a line end.
        const char* const odd = std::find_if(chunk.constData(), feed, [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E;
        });
        if (odd != feed) {
            if (why)
                *why = QStringLiteral("%1 holds a byte no capture line has (0x%2 at byte %3)")
                           .arg(QDir::toNativeSeparators(folder.PathOf(name)))
                           .arg(static_cast<unsigned char>(*odd), 2, 16, QLatin1Char('0'))
                           .arg(seen + (odd - chunk.constData()));
            return LEFT_DAMAGED;
        }
        if (feed != end)
            return LEFT_HAS_LINES;
        seen += n;
    }
}
} // namespace

QString CaptureJournalsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') +
           QLatin1String(COMPANY) + QLatin1Char('/') + QLatin1String(APPLICATION) +
           QStringLiteral("/captures");
}

CaptureBase OpenCaptureBase(const QString& path, bool make, QString* why) {
    auto base = std::make_shared<CJournalDir>();
    if (!base->OpenBase(path, make, why))
        return nullptr;
    return base;
}

CCaptureJournal::~CCaptureJournal() = default; // an abandoned or crashed program's journals stay

QString CCaptureJournal::TxPath() const {
    return m_folder.PathOf(QLatin1String(TX_NAME));
}
QString CCaptureJournal::RxPath() const {
    return m_folder.PathOf(QLatin1String(RX_NAME));
}

bool CCaptureJournal::Create(QString* error, const QString& base) {
    Release();
    m_base = OpenCaptureBase(base, true, error);
    if (!m_base)
        return false;
    const QString stamp = QDateTime::currentDateTime().toString(QLatin1String(STAMP_FORMAT));
    for (int attempt = 0; attempt < 1000; ++attempt) { // a lab of lanes starts many in one second
        const QString name =
            QStringLiteral("%1-%2-%3").arg(stamp).arg(QCoreApplication::applicationPid()).arg(attempt);
        if (m_base->Kind(name) != JOURNAL_ENTRY_MISSING || !m_lock.Create(*m_base, LockName(name)))
            continue;
        QString why;
        if (!m_folder.MakeSub(*m_base, name, &why)) {
            m_lock.Release(true);
            if (m_base->Kind(name) != JOURNAL_ENTRY_MISSING)
                continue; // another program's, made between the look and the lock
            if (error)
                *error = why;
            m_base.reset();
            return false;
        }
        m_strName = name;
        m_bLockMade = true;
        return true;
    }
    if (error)
        *error = QStringLiteral("cannot lock a folder in %1").arg(QDir::toNativeSeparators(base));
    m_base.reset();
    return false;
}

bool CCaptureJournal::Attach(CCaptureLines& tx, CCaptureLines& rx, QString* error) {
    for (const auto& [lines, name] : {std::pair<CCaptureLines*, const char*>{&tx, TX_NAME}, {&rx, RX_NAME}}) {
        auto file = std::make_unique<QFile>();
        if (!m_folder.IsOpen() || !m_folder.OpenForWriting(QLatin1String(name), *file, error))
            return false;
        lines->AttachJournal(std::move(file), m_folder.PathOf(QLatin1String(name)));
    }
    return true;
}

void CCaptureJournal::Remove() {
    if (!m_folder.IsOpen())
        return;
    // Only what the program writes there: a link is removed, never followed.
    m_folder.Remove(QLatin1String(TX_NAME));
    m_folder.Remove(QLatin1String(RX_NAME));
    m_folder.Close(); // Windows removes no folder that is held open
    m_base->RemoveFolder(m_strName);
    m_lock.Release(true);
    m_strName.clear();
    m_base.reset();
}

void CCaptureJournal::Keep() {
    m_folder.Close();
    m_lock.Release(false);
    m_strName.clear();
    m_base.reset();
}

std::vector<SLeftCapture> CCaptureJournal::FindAbandoned() {
    const CaptureBase base = OpenCaptureBase(CaptureJournalsFolder(), false);
    return base ? FindAbandoned(base) : std::vector<SLeftCapture>();
}

std::vector<SLeftCapture> CCaptureJournal::FindAbandoned(const CaptureBase& base, SCapturesSeen* seen) {
    std::vector<SLeftCapture> left;
    QStringList names = base->Entries();
    names.sort();
    for (const QString& name : names) {
        SLeftCapture capture;
        qint64 pid = 0;
        if (!ParseFolderName(name, &capture.started, &pid) || base->Kind(name) != JOURNAL_ENTRY_FOLDER)
            continue;
        if (IsProgramRunning(pid, capture.started)) {
            if (seen)
                ++seen->nHeld;
            continue;
        }
        capture.strName = name;
        left.push_back(std::move(capture));
    }
    std::stable_sort(left.begin(), left.end(),
                     [](const SLeftCapture& a, const SLeftCapture& b) { return a.started < b.started; });
    return left;
}

bool CCaptureJournal::Adopt(const CaptureBase& base, const QString& name, QString* why) {
    Release();
    QDateTime started;
    qint64 pid = 0;
    if (!base || !ParseFolderName(name, &started, &pid))
        return false;
    const bool hadLock = base->Kind(LockName(name)) != JOURNAL_ENTRY_MISSING;
    if (!m_lock.TakeOver(*base, LockName(name), why))
        return false;
    // The folder is opened only under the lock: one that another program saved and removed meanwhile
    // is gone, not adopted empty. A program whose lock file was deleted under it still runs: its
    // folder is not left behind.
    if (!m_folder.OpenSub(*base, name, nullptr) || IsProgramRunning(pid, started)) {
        m_folder.Close();
        m_lock.Release(!hadLock);
        return false;
    }
    m_base = base;
    m_strName = name;
    m_bLockMade = !hadLock;
    return true;
}

void CCaptureJournal::Release() {
    m_folder.Close();
    m_lock.Release(m_bLockMade);
    m_bLockMade = false;
    m_strName.clear();
    m_base.reset();
}

ELeftState CCaptureJournal::Inspect(QString* why) const {
    const ELeftState tx = InspectJournal(m_folder, QLatin1String(TX_NAME), why);
    if (tx == LEFT_DAMAGED)
        return tx;
    const ELeftState rx = InspectJournal(m_folder, QLatin1String(RX_NAME), why);
    if (rx == LEFT_DAMAGED)
        return rx;
    return tx == LEFT_HAS_LINES || rx == LEFT_HAS_LINES ? LEFT_HAS_LINES : LEFT_EMPTY;
}

bool CCaptureJournal::OpenJournals(QFile& tx, QFile& rx, QString* why) const {
    for (const auto& [name, file] : {std::pair<const char*, QFile*>{TX_NAME, &tx}, {RX_NAME, &rx}}) {
        const EJournalOpen opened = m_folder.OpenForReading(QLatin1String(name), *file, why);
        if (opened != JOURNAL_OPENED && opened != JOURNAL_ABSENT)
            return false;
    }
    return true;
}
