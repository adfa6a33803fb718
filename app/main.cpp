#include "app/emulator_app.h"
#include "ui/window_feedback.h"

#include <QApplication>
#include <QSysInfo>
#include <cstdio>
#include <cstring>

namespace {
const char USAGE[] =
    "Usage: pos-emulator [--help | --version] [Qt options]\n"
    "\n"
    "Plays scripted POS order data to an OCS, the order confirmation display of a drive-through\n"
    "lane, over a serial line or TCP, and shows and saves every byte sent and received. Everything\n"
    "is set in the window; the settings are kept in %s\n"
    "and POS definition files are read from the folder POS in the current folder.\n"
    "\n"
    "  --help      show this text\n"
    "  --version   show the program's version\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, -display DISPLAY, ...) are passed on to Qt.\n"
    "See also pos-player(1) and ocs-sim(1) for playing orders without the window.\n";

// Qt's options: those that take a value, and those that do not.
bool IsQtOption(const char* arg, bool* takesValue) {
    static const char* const withValue[] = {"-platform",        "-platformpluginpath",
                                            "-platformtheme",   "-plugin",
                                            "-qwindowgeometry", "-qwindowicon",
                                            "-qwindowtitle",    "-style",
                                            "-stylesheet",      "-display",
                                            "-geometry",        "-name",
                                            "-title",           "-session",
                                            "-qmljsdebugger"};
    static const char* const plain[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
    const char* name = std::strncmp(arg, "--", 2) == 0 ? arg + 1 : arg;
    const char* equals = std::strchr(name, '=');
    const size_t length = equals ? size_t(equals - name) : std::strlen(name);
    for (const char* option : withValue) {
        if (std::strlen(option) == length && std::strncmp(name, option, length) == 0) {
            *takesValue = !equals;
            return true;
        }
    }
    for (const char* option : plain) {
        if (std::strcmp(name, option) == 0) {
            *takesValue = false;
            return true;
        }
    }
    return false;
}

// Answers --help and --version, and refuses what it does not know, before the graphical application
// exists: none of it needs a display. -1 goes on to the window.
int ReadCommandLine(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool takesValue = false;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            const bool windows = QSysInfo::productType() == QLatin1String("windows");
            std::printf(
                USAGE,
                windows ? "the registry key\nHKEY_CURRENT_USER\\Software\\Veltrin Applications\\pos-emulator"
                        : "~/.config/Veltrin Applications/pos-emulator.conf");
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("POS Emulator %s\n", POSEMU_VERSION);
            return 0;
        }
        if (IsQtOption(arg, &takesValue)) {
            i += takesValue ? 1 : 0;
            continue;
        }
        std::fprintf(stderr, "pos-emulator: unknown option %s\nTry 'pos-emulator --help'.\n", arg);
        return 2;
    }
    return -1;
}
} // namespace

int main(int argc, char* argv[]) {
    const int answered = ReadCommandLine(argc, argv);
    if (answered >= 0)
        return answered;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(PROFILE_COMPANY));
    QApplication::setApplicationName(QString::fromLatin1(PROFILE_APPLICATION));
    // Docks match the window to its desktop entry (its icon, its launcher).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.veltrin.PosEmulator"));
    InstallWindowFeedback();
    return theApp.InitInstance();
}
