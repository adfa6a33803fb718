#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

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

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Makes an entry that is not a regular file, in a folder of the test's own: "fifo", or a character
// device with the numbers of "null" or "zero" (needs root; false where it cannot be made).
inline bool MakeSpecialFile(const QString& path, const QString& kind) {
    const QByteArray native = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(native.constData(), 0666) == 0;
    const dev_t numbers = makedev(1, kind == QLatin1String("zero") ? 5 : 3);
    return ::mknod(native.constData(), S_IFCHR | 0666, numbers) == 0;
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
