// Time from the start of the process to the main window shown (offscreen), with an empty profile
// store that has the wizard switched off.
#include "app/emulator_app.h"
#include "bench_support.h"
#include "ui/main_dialog.h"

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <ctime>
#include <unistd.h>

// Milliseconds since this process was started, from the kernel's record of its start.
static double MillisecondsSinceStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22: start time in clock ticks
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / sysconf(_SC_CLK_TCK);
}

int main(int argc, char** argv) {
    QTemporaryDir home;
    PrepareBenchEnvironment(home);
    QApplication app(argc, argv);
    {
        auto store = OpenProfileStore();
        store->setValue(QStringLiteral("Show Wizard on Startup"), 0);
    }
    CEmulatorApp emulator;
    emulator.LoadSettings();
    CMainDialog window(&emulator);
    window.show();
    QApplication::processEvents();
    std::printf("startup_to_main_window_ms %.1f\n", MillisecondsSinceStart());
    return 0;
}
