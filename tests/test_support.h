#pragma once

#include "app/emulator_app.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <algorithm>
#include <cstdlib>

// How long a test waits for what the program does, stretched by POSEMU_TEST_TIME_FACTOR where the
// machine is slow to answer (Wine on a loaded host: tools/windows/test.sh sets it).
inline int TestTimeout(int ms) {
    static const double factor = std::max(1.0, qEnvironmentVariable("POSEMU_TEST_TIME_FACTOR").toDouble());
    return int(ms * factor);
}
#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, TestTimeout(5000))
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression)                                                                \
    QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, TestTimeout(5000))
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, TestTimeout(5000))

// The tests run on Windows (or under Wine): for checks whose expected value differs there.
inline bool OnWindows() {
    return QSysInfo::productType() == QLatin1String("windows");
}

// The offscreen platform cannot pass size limits on to a window system, and says so on every resize.
// Call from initTestCase(), after the test library has put its own handler in place.
inline QtMessageHandler& PreviousMessageHandler() {
    static QtMessageHandler handler = nullptr;
    return handler;
}
inline void FilterPlatformNoise(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    if (PreviousMessageHandler())
        PreviousMessageHandler()(type, context, message);
}
inline void InstallNoiseFilter() {
    PreviousMessageHandler() = qInstallMessageHandler(FilterPlatformNoise);
}

// Points the profile store and the ports folder at a folder of the test's own, before anything reads
// them, and runs offscreen: a test never touches the real profile or the screen.
inline void PrepareTestEnvironment() {
    QByteArray home = qgetenv("POSEMU_TEST_HOME");
    static QTemporaryDir fallback;
    if (home.isEmpty())
        home = fallback.path().toLocal8Bit();
    QDir().mkpath(QString::fromLocal8Bit(home) + QStringLiteral("/config"));
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("HOME", home);
    // No test gives a real serial adapter a COM name: tests put their own adapters here.
    qputenv("POS_EMULATOR_SERIAL_BY_ID", home + "/serial-by-id");
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Windows keeps the profile in the user's registry key and the journals in the user's data folder,
    // wherever HOME points: the tests run one at a time in a Wine prefix of their own
    // (tools/windows/test.sh, which sets POSEMU_TEST_HOME), from an empty key and data folder.
    if (!OnWindows())
        return;
    if (qgetenv("POSEMU_TEST_HOME").isEmpty())
        qFatal("run the Windows tests through tools/windows/test.sh: they empty the profile");
    OpenProfileStore()->clear();
    QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Veltrin Applications"))
        .removeRecursively();
}

// Puts INI text in the profile store: as the file itself where the store is one; on Windows the
// entries that such a file holds go into the registry key.
inline bool WriteProfileText(const QByteArray& text) {
    auto store = OpenProfileStore();
    store->clear();
    store->sync();
    if (OnWindows()) {
        QTemporaryFile ini;
        if (!ini.open() || ini.write(text) != text.size() || !ini.flush())
            return false;
        QSettings entries(ini.fileName(), QSettings::IniFormat);
        for (const QString& key : entries.allKeys())
            store->setValue(key, entries.value(key));
        store->sync();
        return store->status() == QSettings::NoError;
    }
    const QString path = store->fileName();
    store.reset();
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Every entry of the profile store as "key=value" lines, read back through QSettings (the registry
// on Windows).
inline QByteArray StoredEntries() {
    auto store = OpenProfileStore();
    QByteArray entries;
    for (const QString& key : store->allKeys())
        entries += key.toUtf8() + '=' + store->value(key).toString().toUtf8() + '\n';
    return entries;
}

// Bytes written as the scripts write them, "<02>AB<03>", each <XX> one byte (<00> a zero byte).
inline QByteArray ScriptBytes(const char* text) {
    QByteArray bytes;
    for (const char* c = text; *c; ++c) {
        const bool token = c[0] == '<' && c[1] && c[2] && c[3] == '>';
        bytes += token ? char(QByteArray(c + 1, 2).toInt(nullptr, 16)) : *c;
        c += token ? 3 : 0;
    }
    return bytes;
}

// A command line written as one text, its arguments apart by single spaces.
inline QStringList Args(const char* spaced) {
    return QString::fromUtf8(spaced).split(QLatin1Char(' '));
}

// What a console program printed, with the line ends of POSIX (Windows prints CR LF).
inline QByteArray TextOutput(QByteArray printed) {
    return printed.replace("\r\n", "\n");
}

// Ends a program the test started: as Ctrl+C would where a signal can be sent, else at once.
inline void StopProgram(QProcess& process) {
    if (OnWindows())
        process.kill();
    else
        process.terminate();
}

// A program of the build, by its path from the tests' folder.
inline QString BuiltProgram(const char* fromTests) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(fromTests);
}

// A file's bytes, or nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

#ifdef QT_WIDGETS_LIB
#include "ui/accessibility.h"

#include <QAccessible>
#include <QApplication>

// What a screen reader announces for a widget.
inline QString AccessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QStringLiteral("(no interface)");
}

// Records what the window announces to screen readers while it lives ("text" or "text | description").
// (Without a screen reader Qt hands accessibility events to no one, so the announcements are heard
// where they are made; tools/orca-speech checks what Orca says of them.)
class CAccessibleRecorder {
public:
    CAccessibleRecorder() {
        m_previous = SetAnnouncementObserver([this](const QString& text, const QString& description) {
            m_said << (description.isEmpty() ? text : text + " | " + description);
        });
    }
    ~CAccessibleRecorder() { SetAnnouncementObserver(m_previous); }
    QStringList Announced() const { return m_said; }
    void Clear() { m_said.clear(); }

private:
    QStringList m_said;
    AnnouncementObserver m_previous;
};

#define POSEMU_TEST_MAIN(TestObject)                                                                         \
    int main(int argc, char** argv) {                                                                        \
        PrepareTestEnvironment();                                                                            \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
#else
// Tests of the core run as the command-line tools do, without a graphical application.
#define POSEMU_TEST_MAIN(TestObject)                                                                         \
    int main(int argc, char** argv) {                                                                        \
        PrepareTestEnvironment();                                                                            \
        QCoreApplication app(argc, argv);                                                                    \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
#endif

// What a test cannot do on Windows is skipped there, with the reason (listed in the README too).
#define SKIP_ON_WINDOWS(reason)                                                                              \
    do {                                                                                                     \
        if (OnWindows())                                                                                     \
            QSKIP(reason);                                                                                   \
    } while (false)

// Sends Ctrl+C (Ctrl+Break to the program's own group on Windows). Wine's console cannot pass an
// event from one program to another, so there the case skips; anywhere else not sending fails it.
#define INTERRUPT(process)                                                                                   \
    do {                                                                                                     \
        if (!SendInterrupt(process)) {                                                                       \
            if (OnWindows())                                                                                 \
                QSKIP("this console cannot send Ctrl+Break to another program (Wine)");                      \
            QFAIL("Ctrl+C not sent");                                                                        \
        }                                                                                                    \
    } while (false)

// The pid of a program that has ended.
inline qint64 GonePid() {
    QProcess gone;
    if (OnWindows())
        gone.start(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), QStringLiteral("exit")});
    else
        gone.start(QStringLiteral("true"), {});
    gone.waitForStarted();
    const qint64 pid = gone.processId();
    gone.waitForFinished();
    return pid;
}

// Starts a program that is none of ours and waits until it is killed.
inline bool StartOtherProgram(QProcess& process) {
    if (OnWindows())
        process.start(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), QStringLiteral("pause")});
    else
        process.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    return process.waitForStarted();
}

#ifdef _WIN32
// Neither FIFOs, device nodes, sockets in folders, nor symbolic links a user may make, nor a limit on
// open files: the tests of them skip.
inline bool MakeSpecialFile(const QString&, const QString&) {
    return false;
}
inline bool IsSpecialFile(const QString&) {
    return false;
}
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
// Ctrl+C reaches every program of a console, the tests too; Ctrl+Break can be sent to one process
// group. So a program to interrupt starts in a group of its own, on this console (one is made when
// the tests run without: under CI, or Wine with its output to a file).
inline void AllowInterrupt(QProcess& process) {
    if (!::GetConsoleWindow())
        ::AllocConsole();
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->flags = (args->flags & ~DWORD(CREATE_NO_WINDOW)) | CREATE_NEW_PROCESS_GROUP;
    });
}
inline bool SendInterrupt(QProcess& process) {
    return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(process.processId())) != 0;
}
// The threads this process runs now.
inline int ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}
// No limit to set: `act` runs with what there is.
template <class F> auto WithFewDescriptors(int, F act) {
    return act();
}
inline void IgnoreBrokenPipes() {}
template <class F> auto AsUnprivileged(F act) {
    return act();
}
inline bool CanDropPrivileges() {
    return false;
}
// Hard links are not made here: the case skips.
inline bool MakeHardLink(const QString&, const QString&) {
    return false;
}
// No limit on a file's size to set: the case skips.
inline bool LimitFileSize(QProcess&, qint64) {
    return false;
}
template <class F> auto WithFileSizeLimit(qint64, F act) {
    return act();
}
inline bool CanLimitFileSize() {
    return false;
}
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

inline int ThreadCount() {
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// A write to a peer that has gone must fail, not end the test.
inline void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

inline void AllowInterrupt(QProcess&) {}

inline bool MakeHardLink(const QString& existing, const QString& link) {
    return ::link(QFile::encodeName(existing).constData(), QFile::encodeName(link).constData()) == 0;
}

// A disk that is full for files beyond `bytes`: writes past it fail (EFBIG) instead of the process
// being ended.
inline bool CanLimitFileSize() {
    return true;
}
inline bool LimitFileSize(QProcess& process, qint64 bytes) {
    process.setChildProcessModifier([bytes] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    return true;
}
template <class F> auto WithFileSizeLimit(qint64 bytes, F act) {
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = rlim_t(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto result = act();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);
    return result;
}
inline bool SendInterrupt(QProcess& process) {
    return ::kill(pid_t(process.processId()), SIGINT) == 0;
}

inline bool IsSpecialFile(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 &&
           (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode));
}

// Runs `act` with the limit of open files set `room` above those open now (none when that is below 0).
template <class F> auto WithFewDescriptors(int room, F act) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const int open = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    rlimit few = limit;
    few.rlim_cur = rlim_t(std::max(0, open + room));
    ::setrlimit(RLIMIT_NOFILE, &few);
    auto result = act();
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return result;
}

// Makes an entry that is not a regular file, in a folder of the test's own: "fifo", "socket", or a
// character device with the numbers of "null" or "zero" (needs root; false where it cannot be made).
inline bool MakeSpecialFile(const QString& path, const QString& kind) {
    const QByteArray native = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(native.constData(), 0666) == 0;
    if (kind == QLatin1String("socket")) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (size_t(native.size()) >= sizeof(addr.sun_path))
            return false;
        memcpy(addr.sun_path, native.constData(), size_t(native.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool made = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        if (fd >= 0)
            ::close(fd); // the socket's entry stays in the folder
        return made;
    }
    const dev_t numbers = makedev(1, kind == QLatin1String("zero") ? 5 : 3);
    return ::mknod(native.constData(), S_IFCHR | 0666, numbers) == 0;
}

// Root can take another user's identity for a moment (AsUnprivileged); others cannot.
inline bool CanDropPrivileges() {
    return ::geteuid() == 0;
}

// Runs `act` as a user the folder's permissions hold back: root passes every permission check, so a
// test of a read-only folder takes the identity of "nobody" (user and group) for a moment (folders on the way
// must let others through).
template <class F> auto AsUnprivileged(F act) {
    const bool root = ::geteuid() == 0;
    if (root && (::setegid(65534) != 0 || ::seteuid(65534) != 0))
        qFatal("cannot drop privileges");
    auto result = act();
    if (root && (::seteuid(0) != 0 || ::setegid(0) != 0))
        qFatal("cannot take privileges back");
    return result;
}
#endif
