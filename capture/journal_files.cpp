#include "capture/journal_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

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

#ifdef _WIN32

namespace {
// Held by the caller for as long as the system call runs.
std::wstring NativePath(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}
} // namespace

EJournalEntry JournalEntryKind(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction() || info.isShortcut())
        return JOURNAL_ENTRY_OTHER;
    if (!info.exists())
        return JOURNAL_ENTRY_MISSING;
    return info.isDir() ? JOURNAL_ENTRY_FOLDER : info.isFile() ? JOURNAL_ENTRY_FILE : JOURNAL_ENTRY_OTHER;
}

// The user's data folder is private through its access control lists; nothing to check here.
bool MakePrivateFolder(const QString& path, QString* why) {
    if (QDir().mkpath(path))
        return true;
    if (why)
        *why = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(path));
    return false;
}

bool IsPrivateFolder(const QString& path) {
    return JournalEntryKind(path) == JOURNAL_ENTRY_FOLDER;
}

bool RemoveEmptyFolder(const QString& path) {
    return ::_wrmdir(NativePath(path).c_str()) == 0;
}

bool RemoveJournalEntry(const QString& path) {
    if (JournalEntryKind(path) == JOURNAL_ENTRY_MISSING)
        return true;
    return ::_wunlink(NativePath(path).c_str()) == 0;
}

namespace {
int OpenNative(const QString& path, int flags, int share) {
    int fd = -1;
    const std::wstring name = NativePath(path);
    if (::_wsopen_s(&fd, name.c_str(), flags | _O_BINARY | _O_NOINHERIT, share, _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
}
bool IsRegular(int fd) {
    struct _stat64 st;
    return ::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
} // namespace

EJournalOpen OpenJournalForReading(const QString& path, QFile& file, QString* why) {
    switch (JournalEntryKind(path)) {
    case JOURNAL_ENTRY_MISSING:
        return JOURNAL_ABSENT;
    case JOURNAL_ENTRY_FILE:
        break;
    default:
        if (why)
            *why = QStringLiteral("%1 is not a regular file").arg(QDir::toNativeSeparators(path));
        return JOURNAL_NOT_REGULAR;
    }
    const int fd = OpenNative(path, _O_RDONLY, _SH_DENYNO);
    if (fd < 0 || !IsRegular(fd)) {
        const int error = errno;
        if (fd >= 0)
            ::_close(fd);
        if (why)
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), SystemError(error));
        return fd >= 0 ? JOURNAL_NOT_REGULAR : JOURNAL_OPEN_FAILED;
    }
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        if (why)
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return JOURNAL_OPEN_FAILED;
    }
    return JOURNAL_OPENED;
}

bool OpenJournalForWriting(const QString& path, QFile& file, QString* why) {
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

CJournalLock::~CJournalLock() {
    Release(false);
}

// Opened without sharing: while its program runs no one else can open the lock file.
bool CJournalLock::Create(const QString& path) {
    Release(false);
    m_nHandle = OpenNative(path, _O_RDWR | _O_CREAT | _O_EXCL, _SH_DENYRW);
    if (m_nHandle < 0)
        return false;
    m_strPath = path;
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    ::_write(m_nHandle, pid.constData(), static_cast<unsigned>(pid.size()));
    return true;
}

bool CJournalLock::TakeOver(const QString& path) {
    Release(false);
    switch (JournalEntryKind(path)) {
    case JOURNAL_ENTRY_MISSING:
        return Create(path);
    case JOURNAL_ENTRY_FILE:
        break;
    default:
        return false;
    }
    int fd = OpenNative(path, _O_RDWR, _SH_DENYRW);
    if (fd < 0 && errno == EACCES && ::GetLastError() != ERROR_SHARING_VIOLATION &&
        ::_wchmod(NativePath(path).c_str(), _S_IREAD | _S_IWRITE) == 0)
        fd = OpenNative(path, _O_RDWR, _SH_DENYRW); // a read-only lock of the user's
    if (fd < 0)
        return false;
    if (!IsRegular(fd)) {
        ::_close(fd);
        return false;
    }
    m_nHandle = fd;
    m_strPath = path;
    return true;
}

void CJournalLock::Release(bool remove) {
    if (m_nHandle < 0)
        return;
    ::_close(m_nHandle);
    m_nHandle = -1;
    if (remove)
        ::_wunlink(NativePath(m_strPath).c_str());
    m_strPath.clear();
}

bool IsProgramRunning(qint64 pid) {
    if (pid <= 0)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED; // it runs, as someone we cannot look at
    DWORD code = 0;
    bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
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

#else

EJournalEntry JournalEntryKind(const QString& path) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? JOURNAL_ENTRY_MISSING : JOURNAL_ENTRY_OTHER;
    return S_ISDIR(st.st_mode)   ? JOURNAL_ENTRY_FOLDER
           : S_ISREG(st.st_mode) ? JOURNAL_ENTRY_FILE
                                 : JOURNAL_ENTRY_OTHER;
}

namespace {
enum EPrivacy { PRIVACY_OK, PRIVACY_NOT_FOLDER, PRIVACY_NOT_OWNED, PRIVACY_SHARED };
EPrivacy Privacy(const struct stat& st) {
    if (!S_ISDIR(st.st_mode))
        return PRIVACY_NOT_FOLDER;
    if (st.st_uid != ::geteuid())
        return PRIVACY_NOT_OWNED;
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return PRIVACY_SHARED;
    return PRIVACY_OK;
}
} // namespace

bool MakePrivateFolder(const QString& path, QString* why) {
    const QByteArray native = QFile::encodeName(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (JournalEntryKind(path) == JOURNAL_ENTRY_MISSING) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (::mkdir(native.constData(), 0700) == 0)
            ::chmod(native.constData(), 0700); // the umask may have taken the owner's bits
    }
    struct stat st;
    if (::stat(native.constData(), &st) != 0) {
        if (why)
            *why = QStringLiteral("cannot make the folder %1").arg(shown);
        return false;
    }
    switch (Privacy(st)) {
    case PRIVACY_OK:
        break;
    case PRIVACY_NOT_FOLDER:
        if (why)
            *why = QStringLiteral("cannot make the folder %1").arg(shown);
        return false;
    case PRIVACY_NOT_OWNED:
        if (why)
            *why = QStringLiteral("the folder %1 belongs to another user").arg(shown);
        return false;
    case PRIVACY_SHARED:
        if (why)
            *why =
                QStringLiteral("others can write to the folder %1; make it private (chmod 700) or remove it")
                    .arg(shown);
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0) {
        if (why)
            *why = QStringLiteral("cannot make the folder %1 private").arg(shown);
        return false;
    }
    return true;
}

bool IsPrivateFolder(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && Privacy(st) == PRIVACY_OK;
}

bool RemoveEmptyFolder(const QString& path) {
    return ::rmdir(QFile::encodeName(path).constData()) == 0;
}

bool RemoveJournalEntry(const QString& path) {
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

namespace {
// Opens the entry itself: never through a link, never waiting for a FIFO's other end.
int OpenEntry(const QString& path, int flags, mode_t mode = 0) {
    return ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                  mode);
}
bool IsRegular(int fd, struct stat* out = nullptr) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (out)
        *out = st;
    return true;
}
} // namespace

EJournalOpen OpenJournalForReading(const QString& path, QFile& file, QString* why) {
    const QString shown = QDir::toNativeSeparators(path);
    switch (JournalEntryKind(path)) {
    case JOURNAL_ENTRY_MISSING:
        return JOURNAL_ABSENT;
    case JOURNAL_ENTRY_FILE:
        break;
    default:
        if (why)
            *why = QStringLiteral("%1 is not a regular file").arg(shown);
        return JOURNAL_NOT_REGULAR;
    }
    const int fd = OpenEntry(path, O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        if (why)
            *why = QStringLiteral("%1: %2").arg(shown, SystemError(error));
        return error == ELOOP ? JOURNAL_NOT_REGULAR : error == ENOENT ? JOURNAL_ABSENT : JOURNAL_OPEN_FAILED;
    }
    if (!IsRegular(fd)) { // it changed since it was looked at
        ::close(fd);
        if (why)
            *why = QStringLiteral("%1 is not a regular file").arg(shown);
        return JOURNAL_NOT_REGULAR;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = QStringLiteral("%1: %2").arg(shown, file.errorString());
        return JOURNAL_OPEN_FAILED;
    }
    return JOURNAL_OPENED;
}

bool OpenJournalForWriting(const QString& path, QFile& file, QString* why) {
    const int fd = OpenEntry(path, O_RDWR | O_CREAT | O_TRUNC | O_APPEND, 0600);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), SystemError(errno));
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (IsRegular(fd))
        ::fchmod(fd, 0600); // whatever the umask, and also a journal of that name made before
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

CJournalLock::~CJournalLock() {
    Release(false);
}

// The lock is the file's flock: the kernel lets go of it when its program dies, however it dies.
bool CJournalLock::Create(const QString& path) {
    Release(false);
    const int fd = OpenEntry(path, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    if (::write(fd, pid.constData(), size_t(pid.size())) < 0) {
        // the flock is the lock; its content only helps a reader
    }
    m_nHandle = fd;
    m_strPath = path;
    return true;
}

bool CJournalLock::TakeOver(const QString& path) {
    Release(false);
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT && Create(path);
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    int fd = OpenEntry(path, O_RDWR);
    if (fd < 0 && errno == EACCES && ::chmod(native.constData(), 0600) == 0)
        fd = OpenEntry(path, O_RDWR); // a lock of the user's left unreadable
    if (fd < 0)
        return false;
    if (!IsRegular(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_nHandle = fd;
    m_strPath = path;
    return true;
}

void CJournalLock::Release(bool remove) {
    if (m_nHandle < 0)
        return;
    if (remove) // still held, so no one takes it in between
        ::unlink(QFile::encodeName(m_strPath).constData());
    ::close(m_nHandle);
    m_nHandle = -1;
    m_strPath.clear();
}

bool IsProgramRunning(qint64 pid) {
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
    char target[4096];
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t n = ::readlink(link.constData(), target, sizeof(target) - 1);
    if (n < 0) {
        // Gone meanwhile, or a zombie: it has ended. Without /proc, or not ours to look at: unsure.
        const int error = errno;
        return !(error == ENOENT && ::access("/proc/self/exe", F_OK) == 0);
    }
    QString exe = QFile::decodeName(QByteArray(target, n));
    if (exe.endsWith(QLatin1String(" (deleted)"))) // the program was updated while it ran
        exe.chop(10);
    return IsOneOfOurPrograms(QFileInfo(exe).fileName());
}

#endif
