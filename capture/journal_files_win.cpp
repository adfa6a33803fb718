#include "capture/journal_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

// A folder is held open without letting anyone delete or rename it, so the path through it names the
// same folder for as long as it is held: that is what an open folder's descriptor gives on POSIX.

namespace {
QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Held by the caller for as long as the system call runs.
std::wstring NativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

HANDLE OpenFolderHandle(const QString& path) {
    return ::CreateFileW(NativePath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IsRealFolder(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return ::GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

EJournalEntry EntryKind(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction() || info.isShortcut())
        return JOURNAL_ENTRY_OTHER;
    if (!info.exists())
        return JOURNAL_ENTRY_MISSING;
    return info.isDir() ? JOURNAL_ENTRY_FOLDER : info.isFile() ? JOURNAL_ENTRY_FILE : JOURNAL_ENTRY_OTHER;
}

int OpenNative(const QString& path, int flags, int share) {
    int fd = -1;
    const std::wstring name = NativePath(path);
    if (::_wsopen_s(&fd, name.c_str(), flags | _O_BINARY | _O_NOINHERIT, share, _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}

// Only regular files with one name are a journal's or a lock's.
bool IsSingleRegular(int fd, QString* problem = nullptr) {
    struct _stat64 st;
    if (::_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        if (problem)
            *problem = QStringLiteral("is not a regular file");
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (::GetFileInformationByHandle(handle, &info) &&
        (info.nNumberOfLinks > 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        if (problem)
            *problem = QStringLiteral("has other names (a hard link)");
        return false;
    }
    return true;
}
} // namespace

CJournalDir::~CJournalDir() {
    Close();
}

void CJournalDir::Close() {
    if (m_hHandle != INVALID)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_hHandle));
    m_hHandle = INVALID;
    m_strPath.clear();
}

// The user's data folder is private through its access control lists; nothing to check here.
bool CJournalDir::OpenBase(const QString& path, bool make, QString* why) {
    Close();
    const QString shown = QDir::toNativeSeparators(path);
    if (make && !QFileInfo::exists(path) && !QDir().mkpath(path)) {
        if (why)
            *why = QStringLiteral("cannot make the folder %1").arg(shown);
        return false;
    }
    // The captures folder may be a junction the user made: followed once, here.
    const HANDLE handle = ::CreateFileW(NativePath(path).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (why)
            *why = QStringLiteral("cannot open the folder %1").arg(shown);
        return false;
    }
    m_hHandle = reinterpret_cast<qintptr>(handle);
    m_strPath = path;
    return true;
}

bool CJournalDir::OpenSub(const CJournalDir& parent, const QString& name, QString* why) {
    Close();
    const QString path = parent.PathOf(name);
    const HANDLE handle = OpenFolderHandle(path);
    if (handle == INVALID_HANDLE_VALUE || !IsRealFolder(handle)) {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        if (why)
            *why = QStringLiteral("%1 is not a folder").arg(QDir::toNativeSeparators(path));
        return false;
    }
    m_hHandle = reinterpret_cast<qintptr>(handle);
    m_strPath = path;
    return true;
}

bool CJournalDir::MakeSub(const CJournalDir& parent, const QString& name, QString* why) {
    Close();
    if (!::CreateDirectoryW(NativePath(parent.PathOf(name)).c_str(), nullptr)) {
        if (why)
            *why = QStringLiteral("cannot make the folder %1")
                       .arg(QDir::toNativeSeparators(parent.PathOf(name)));
        return false;
    }
    return OpenSub(parent, name, why);
}

QStringList CJournalDir::Entries() const {
    return QDir(m_strPath).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

EJournalEntry CJournalDir::Kind(const QString& name) const {
    return EntryKind(PathOf(name));
}

EJournalOpen CJournalDir::OpenForReading(const QString& name, QFile& file, QString* why) const {
    const QString path = PathOf(name);
    const QString shown = QDir::toNativeSeparators(path);
    switch (EntryKind(path)) {
    case JOURNAL_ENTRY_MISSING:
        return JOURNAL_ABSENT;
    case JOURNAL_ENTRY_FILE:
        break;
    default:
        if (why)
            *why = QStringLiteral("%1 is not a regular file").arg(shown);
        return JOURNAL_NOT_REGULAR;
    }
    const int fd = OpenNative(path, _O_RDONLY, _SH_DENYNO);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(shown, SystemError(errno));
        return JOURNAL_OPEN_FAILED;
    }
    QString problem;
    if (!IsSingleRegular(fd, &problem)) {
        ::_close(fd);
        if (why)
            *why = shown + QLatin1Char(' ') + problem;
        return JOURNAL_NOT_REGULAR;
    }
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        if (why)
            *why = QStringLiteral("%1: %2").arg(shown, file.errorString());
        return JOURNAL_OPEN_FAILED;
    }
    return JOURNAL_OPENED;
}

bool CJournalDir::OpenForWriting(const QString& name, QFile& file, QString* why) const {
    const QString path = PathOf(name);
    if (EntryKind(path) == JOURNAL_ENTRY_OTHER) {
        if (why)
            *why = QStringLiteral("%1 is not a regular file").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return OpenJournalFileForWriting(path, file, why); // the folder cannot be swapped while held
}

bool OpenJournalFileForWriting(const QString& path, QFile& file, QString* why) {
    const int fd = OpenNative(path, _O_RDWR | _O_CREAT | _O_TRUNC | _O_APPEND, _SH_DENYWR);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), SystemError(errno));
        return false;
    }
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

bool CJournalDir::Remove(const QString& name) const {
    const QString path = PathOf(name);
    switch (EntryKind(path)) {
    case JOURNAL_ENTRY_MISSING:
        return true;
    case JOURNAL_ENTRY_FOLDER:
        return false;
    default:
        break;
    }
    // A link to a folder is removed as a folder; either way the link itself goes, never its target.
    return ::DeleteFileW(NativePath(path).c_str()) || ::RemoveDirectoryW(NativePath(path).c_str());
}

bool CJournalDir::RemoveFolder(const QString& name) const {
    const QString path = PathOf(name);
    return EntryKind(path) == JOURNAL_ENTRY_FOLDER && ::RemoveDirectoryW(NativePath(path).c_str());
}

CJournalLock::~CJournalLock() {
    Release(false);
}

// Opened without sharing: while its program runs no one else can open the lock file.
bool CJournalLock::Create(const CJournalDir& dir, const QString& name) {
    Release(false);
    const int fd = OpenNative(dir.PathOf(name), _O_RDWR | _O_CREAT | _O_EXCL, _SH_DENYRW);
    if (fd < 0)
        return false;
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    ::_write(fd, pid.constData(), static_cast<unsigned>(pid.size()));
    m_hHandle = fd;
    m_pDir = &dir;
    m_strName = name;
    return true;
}

bool CJournalLock::TakeOver(const CJournalDir& dir, const QString& name, QString* why) {
    Release(false);
    const QString path = dir.PathOf(name);
    switch (EntryKind(path)) {
    case JOURNAL_ENTRY_MISSING:
        return Create(dir, name);
    case JOURNAL_ENTRY_FILE:
        break;
    default:
        if (why)
            *why = QStringLiteral("its lock %1 is not a file of the program's; remove it to have the capture "
                                  "offered")
                       .arg(QDir::toNativeSeparators(path));
        return false;
    }
    int fd = OpenNative(path, _O_RDWR, _SH_DENYRW);
    if (fd < 0 && errno == EACCES && ::GetLastError() != ERROR_SHARING_VIOLATION &&
        ::_wchmod(NativePath(path).c_str(), _S_IREAD | _S_IWRITE) == 0)
        fd = OpenNative(path, _O_RDWR, _SH_DENYRW); // a read-only lock of the user's
    if (fd < 0)
        return false;
    if (!IsSingleRegular(fd)) {
        ::_close(fd);
        if (why)
            *why = QStringLiteral("its lock %1 is not a file of the program's; remove it to have the capture "
                                  "offered")
                       .arg(QDir::toNativeSeparators(path));
        return false;
    }
    m_hHandle = fd;
    m_pDir = &dir;
    m_strName = name;
    return true;
}

void CJournalLock::Release(bool remove) {
    if (m_hHandle == CJournalDir::INVALID)
        return;
    ::_close(int(m_hHandle));
    m_hHandle = CJournalDir::INVALID;
    if (remove && m_pDir && m_pDir->IsOpen())
        m_pDir->Remove(m_strName);
    m_pDir = nullptr;
    m_strName.clear();
}

namespace {
// The programs that keep capture journals, by the base name of their executable.
bool IsOneOfOurPrograms(QString name) {
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    for (const QString& ours : {QStringLiteral("pos-emulator"), QStringLiteral("pos-player"), self}) {
        if (!ours.isEmpty() && name.compare(ours, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
} // namespace

bool IsProgramRunning(qint64 pid, const QDateTime& started) {
    if (pid <= 0)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED; // it runs, as someone we cannot look at
    DWORD code = 0;
    bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    FILETIME created, exited, kernel, user;
    if (running && started.isValid() && ::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        // 100 ns steps since 1601; a program started after the folder was made did not make it
        const qint64 steps = (qint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
        const qint64 msecs = steps / 10000 - Q_INT64_C(11644473600000);
        if (QDateTime::fromMSecsSinceEpoch(msecs) > started.addSecs(2))
            running = false;
    }
    if (running) {
        wchar_t name[MAX_PATH * 4];
        DWORD size = sizeof(name) / sizeof(name[0]);
        if (::QueryFullProcessImageNameW(process, 0, name, &size))
            running = IsOneOfOurPrograms(
                QFileInfo(QString::fromWCharArray(name, static_cast<int>(size))).fileName());
    }
    ::CloseHandle(process);
    return running;
}

int DuplicateJournalHandle(int fd) {
    return fd >= 0 ? ::_dup(fd) : -1;
}

// Windows has no way to start the writing out alone: only the full flush is done.
void SyncJournalHandle(int fd, bool writebackOnly) {
    if (!writebackOnly)
        ::_commit(fd);
    ::_close(fd);
}
