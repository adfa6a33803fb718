// pos-player: plays a POS definition file to an OCS from the command line, for unattended tests.
#include "order_player.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_signalPipe[2] = {-1, -1};
void OnInterrupt(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}
} // namespace
#endif

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    SPlayerOptions options;
    QString error;
    if (!ParsePlayerArgs(args, options, error)) {
        std::fprintf(stderr, "pos-player: %s\nTry 'pos-player --help'.\n", qPrintable(error));
        return PLAYER_USAGE;
    }
    if (options.bHelp) {
        std::fputs(PLAYER_USAGE_TEXT, stdout);
        return PLAYER_OK;
    }
    if (!SocketStartup()) {
        std::fprintf(stderr, "pos-player: Unable to start the socket library\n");
        return PLAYER_NO_LINK;
    }
    COrderPlayer player(options, stdout, stderr);
    QObject::connect(
        &player, &COrderPlayer::Finished, &app, [](int status) { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &player, [&player] {
            char bytes[16];
            while (::read(g_signalPipe[0], bytes, sizeof(bytes)) > 0)
                player.Interrupt();
        });
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
    }
#endif
    QMetaObject::invokeMethod(&player, &COrderPlayer::Start, Qt::QueuedConnection);
    const int status = app.exec();
    SocketCleanup();
    return status;
}
