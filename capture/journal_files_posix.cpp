#include "capture/journal_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The bytes of a path to hand the system. A home folder whose name is not valid UTF-8 cannot make the
// round trip through QString: its own bytes are put back, so that the journals stay inside it.
QByteArray NativePath(const QString& path) {
    const QByteArray home = qgetenv("HOME");
    const QString shownHome = QFile::decodeName(home);
    if (!home.isEmpty() && QFile::encodeName(shownHome) != home && path.startsWith(shownHome))
        return home + QFile::encodeName(path.mid(shownHome.size()));
    return QFile::encodeName(path);
}

QByteArray NameBytes(const QString& name) {
    return QFile::encodeName(name);
}

// Opens the entry itself: never through a link, never waiting for a FIFO's other end.
int OpenAt(int dir, const QString& name, int flags, mode_t mode = 0) {
    return ::openat(dir, NameBytes(name).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                    mode);
}

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

bool PrivacyWhy(EPrivacy privacy, const QString& shown, QString* why) {
    QString text;
    switch (privacy) {
    case PRIVACY_OK:
        return true;
    case PRIVACY_NOT_FOLDER:
        text = QStringLiteral("%1 is not a folder").arg(shown);
        break;
    case PRIVACY_NOT_OWNED:
        text = QStringLiteral("the folder %1 belongs to another user").arg(shown);
        break;
    case PRIVACY_SHARED:
        text = QStringLiteral("others can write to the folder %1; make it private (chmod 700) or remove it")
                   .arg(shown);
        break;
    }
    if (why)
        *why = text;
    return false;
}

// Makes each missing folder on the way, private to the user whatever the umask; folders that are
// there already are left as they are.
bool MakeFolders(const QByteArray& path, QString* why) {
    QByteArray partial;
    const QList<QByteArray> parts = path.split('/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            partial += '/';
        partial += parts[i];
        if (parts[i].isEmpty())
            continue;
        if (::mkdir(partial.constData(), 0700) == 0) {
            ::chmod(partial.constData(), 0700); // the umask may have taken the owner's bits
        } else if (errno != EEXIST) {
            if (why)
                *why = QStringLiteral("cannot make the folder %1: %2")
                           .arg(QFile::decodeName(partial), SystemError(errno));
            return false;
        }
    }
    return true;
}

// Only regular files with one name are a journal's or a lock's: a hard link makes a file of anyone's
// look like one.
bool IsSingleRegular(int fd, QString* problem = nullptr) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (problem)
            *problem = QStringLiteral("is not a regular file");
        return false;
    }
    if (st.st_nlink > 1) {
        if (problem)
            *problem = QStringLiteral("has other names (a hard link)");
        return false;
    }
    return true;
}

void Blocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
}
} // namespace

CJournalDir::~CJournalDir() {
    Close();
}

void CJournalDir::Close() {
    if (m_hHandle != INVALID)
        ::close(int(m_hHandle));
    m_hHandle = INVALID;
    m_strPath.clear();
}

bool CJournalDir::OpenBase(const QString& path, bool make, QString* why) {
    Close();
    const QByteArray native = NativePath(path);
    const QString shown = QDir::toNativeSeparators(path);
    struct stat st;
    const bool made = make && ::lstat(native.constData(), &st) != 0 && errno == ENOENT;
    if (made && !MakeFolders(native, why))
        return false;
    // The captures folder may be a link the user made to a folder of theirs: it is followed once,
    // here, and the folder it led to is the one used from now on.
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("cannot open the folder %1: %2").arg(shown, SystemError(errno));
        return false;
    }
    if (::fstat(fd, &st) != 0 || !PrivacyWhy(Privacy(st), shown, why)) {
        ::close(fd);
        return false;
    }
    m_hHandle = fd;
    m_strPath = path;
    return true;
}

bool CJournalDir::OpenSub(const CJournalDir& parent, const QString& name, QString* why) {
    Close();
    const QString shown = QDir::toNativeSeparators(parent.PathOf(name));
    const int fd = OpenAt(int(parent.m_hHandle), name, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        if (why)
            *why = errno == ELOOP || errno == ENOTDIR
                       ? QStringLiteral("%1 is not a folder").arg(shown)
                       : QStringLiteral("%1: %2").arg(shown, SystemError(errno));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !PrivacyWhy(Privacy(st), shown, why)) {
        ::close(fd);
        return false;
    }
    Blocking(fd);
    m_hHandle = fd;
    m_strPath = parent.PathOf(name);
    return true;
}

bool CJournalDir::MakeSub(const CJournalDir& parent, const QString& name, QString* why) {
    Close();
    if (::mkdirat(int(parent.m_hHandle), NameBytes(name).constData(), 0700) != 0) {
        if (why)
            *why = QStringLiteral("cannot make the folder %1: %2")
                       .arg(QDir::toNativeSeparators(parent.PathOf(name)), SystemError(errno));
        return false;
    }
    if (!OpenSub(parent, name, why))
        return false;
    ::fchmod(int(m_hHandle), 0700); // the umask may have taken the owner's bits
    return true;
}

QStringList CJournalDir::Entries() const {
    QStringList names;
    const int fd = ::openat(int(m_hHandle), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names << QFile::decodeName(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

EJournalEntry CJournalDir::Kind(const QString& name) const {
    struct stat st;
    if (::fstatat(int(m_hHandle), NameBytes(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT || errno == ENOTDIR ? JOURNAL_ENTRY_MISSING : JOURNAL_ENTRY_OTHER;
    return S_ISDIR(st.st_mode)   ? JOURNAL_ENTRY_FOLDER
           : S_ISREG(st.st_mode) ? JOURNAL_ENTRY_FILE
                                 : JOURNAL_ENTRY_OTHER;
}

EJournalOpen CJournalDir::OpenForReading(const QString& name, QFile& file, QString* why) const {
    const QString shown = QDir::toNativeSeparators(PathOf(name));
    const int fd = OpenAt(int(m_hHandle), name, O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return JOURNAL_ABSENT;
        if (why)
            *why = error == ELOOP ? QStringLiteral("%1 is not a regular file").arg(shown)
                                  : QStringLiteral("%1: %2").arg(shown, SystemError(error));
        return error == ELOOP ? JOURNAL_NOT_REGULAR : JOURNAL_OPEN_FAILED;
    }
    QString problem;
    if (!IsSingleRegular(fd, &problem)) {
        ::close(fd);
        if (why)
            *why = shown + QLatin1Char(' ') + problem;
        return JOURNAL_NOT_REGULAR;
    }
    Blocking(fd);
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = QStringLiteral("%1: %2").arg(shown, file.errorString());
        return JOURNAL_OPEN_FAILED;
    }
    return JOURNAL_OPENED;
}

bool CJournalDir::OpenForWriting(const QString& name, QFile& file, QString* why) const {
    const QString shown = QDir::toNativeSeparators(PathOf(name));
    const int fd = OpenAt(int(m_hHandle), name, O_RDWR | O_CREAT | O_TRUNC | O_APPEND, 0600);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(shown, SystemError(errno));
        return false;
    }
    QString problem;
    if (!IsSingleRegular(fd, &problem)) {
        ::close(fd);
        if (why)
            *why = shown + QLatin1Char(' ') + problem;
        return false;
    }
    Blocking(fd);
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

bool OpenJournalFileForWriting(const QString& path, QFile& file, QString* why) {
    const int fd = ::open(NativePath(path).constData(),
                          O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), SystemError(errno));
        return false;
    }
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

bool CJournalDir::Remove(const QString& name) const {
    return ::unlinkat(int(m_hHandle), NameBytes(name).constData(), 0) == 0 || errno == ENOENT;
}

bool CJournalDir::RemoveFolder(const QString& name) const {
    return ::unlinkat(int(m_hHandle), NameBytes(name).constData(), AT_REMOVEDIR) == 0;
}

CJournalLock::~CJournalLock() {
    Release(false);
}

// The lock is the file's flock: the kernel lets go of it when its program dies, however it dies.
bool CJournalLock::Create(const CJournalDir& dir, const QString& name) {
    Release(false);
    const int fd = OpenAt(int(dir.m_hHandle), name, O_RDWR | O_CREAT | O_EXCL, 0600);
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
    m_hHandle = fd;
    m_pDir = &dir;
    m_strName = name;
    return true;
}

bool CJournalLock::TakeOver(const CJournalDir& dir, const QString& name, QString* why) {
    Release(false);
    const QString shown = QDir::toNativeSeparators(dir.PathOf(name));
    struct stat st;
    if (::fstatat(int(dir.m_hHandle), NameBytes(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT && Create(dir, name);
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink > 1) {
        if (why)
            *why = QStringLiteral("its lock %1 is not a file of the program's; remove it to have the capture "
                                  "offered")
                       .arg(shown);
        return false;
    }
    int fd = OpenAt(int(dir.m_hHandle), name, O_RDWR);
    if (fd < 0 && errno == EACCES &&
        ::fchmodat(int(dir.m_hHandle), NameBytes(name).constData(), 0600, 0) == 0)
        fd = OpenAt(int(dir.m_hHandle), name, O_RDWR); // a lock of the user's left unreadable
    if (fd < 0)
        return false;
    if (!IsSingleRegular(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    Blocking(fd);
    m_hHandle = fd;
    m_pDir = &dir;
    m_strName = name;
    return true;
}

void CJournalLock::Release(bool remove) {
    if (m_hHandle == CJournalDir::INVALID)
        return;
    if (remove && m_pDir && m_pDir->IsOpen()) // still held, so no one takes it in between
        m_pDir->Remove(m_strName);
    ::close(int(m_hHandle));
    m_hHandle = CJournalDir::INVALID;
    m_pDir = nullptr;
    m_strName.clear();
}

namespace {
// The programs that keep capture journals, by name. The kernel keeps the first 15 bytes of a
// program's name for everyone to read.
bool IsOneOfOurNames(QString name, bool truncated) {
    if (name.endsWith(QLatin1String(" (deleted)"))) // the program was updated while it ran
        name.chop(10);
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    for (QString ours : {QStringLiteral("pos-emulator"), QStringLiteral("pos-player"), self}) {
        if (truncated)
            ours = QString::fromUtf8(ours.toUtf8().left(15));
        if (!ours.isEmpty() && name == ours)
            return true;
    }
    return false;
}

QByteArray ReadSmall(const QByteArray& path) {
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

// When the process started, from the clock ticks after boot in /proc/PID/stat; invalid if unknown.
QDateTime ProcessStart(const QByteArray& proc) {
    const QByteArray stat = ReadSmall(proc + "/stat");
    const qsizetype close = stat.lastIndexOf(')'); // the name may hold spaces and parentheses
    if (close < 0)
        return QDateTime();
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return QDateTime();
    bool ok = false;
    const qint64 ticks = fields[19].toLongLong(&ok); // field 22: starttime
    qint64 bootTime = -1;
    for (const QByteArray& line : ReadSmall("/proc/stat").split('\n')) {
        if (line.startsWith("btime "))
            bootTime = line.mid(6).trimmed().toLongLong();
    }
    const long hertz = ::sysconf(_SC_CLK_TCK);
    if (!ok || bootTime < 0 || hertz <= 0)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(bootTime * 1000 + ticks * 1000 / hertz);
}
} // namespace

bool IsProgramRunning(qint64 pid, const QDateTime& started) {
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return false;
    const QByteArray proc = "/proc/" + QByteArray::number(pid);
    struct stat st;
    if (::stat(proc.constData(), &st) != 0) {
        // Gone meanwhile: it has ended. Without /proc: unsure.
        return !(errno == ENOENT && ::access("/proc/self/stat", F_OK) == 0);
    }
    if (st.st_uid != ::geteuid())
        return false; // another user's program cannot be keeping journals in this user's folder
    // A program started after the folder was made is not the one that made it (a pid used again).
    // The folder's name has whole seconds; a little slack covers a clock set back a moment.
    const QDateTime processStart = ProcessStart(proc);
    if (started.isValid() && processStart.isValid() && processStart > started.addSecs(2))
        return false;
    char target[4096];
    const ssize_t n = ::readlink((proc + "/exe").constData(), target, sizeof(target) - 1);
    if (n >= 0)
        return IsOneOfOurNames(QFileInfo(QFile::decodeName(QByteArray(target, n))).fileName(), false);
    const QByteArray comm = ReadSmall(proc + "/comm").trimmed();
    if (comm.isEmpty())
        return true; // nothing to tell it by
    return IsOneOfOurNames(QFile::decodeName(comm), true);
}

int DuplicateJournalHandle(int fd) {
    return fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
}

void SyncJournalHandle(int fd, bool writebackOnly) {
#ifdef __linux__
    if (writebackOnly)
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    else
        ::fdatasync(fd);
#else
    if (!writebackOnly)
        ::fsync(fd);
#endif
    ::close(fd);
}
