// pos-player: plays a POS definition file to an OCS from the command line, for unattended tests.
#include "app/console.h"
#include "interrupt_watch.h"
#include "lane_runner.h"
#include "order_player.h"

#include "transport/ocs_detector.h"
#include "transport/port_names.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
// Starts a player (or a lab of them) and runs until it is finished; Ctrl+C asks it to finish.
template <typename TPlayer> int PlayUntilFinished(TPlayer& player) {
    QObject::connect(
        &player, &TPlayer::Finished, qApp, [](int status) { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
    const CInterruptWatch interrupts(&player, [&player] { player.Interrupt(); });
    QMetaObject::invokeMethod(&player, &TPlayer::Start, Qt::QueuedConnection);
    const int status = QCoreApplication::exec();
    SocketCleanup();
    return status;
}
} // namespace

int main(int argc, char** argv) {
    UseUtf8Console();
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    SPlayerOptions options;
    QString error;
    if (!ParsePlayerArgs(args, options, error)) {
        std::fprintf(stderr, "pos-player: %s\nTry 'pos-player --help'.\n", qUtf8Printable(error));
        return PLAYER_USAGE;
    }
    if (options.bVersion) {
        std::printf("pos-player %s\n", POSEMU_VERSION);
        return PLAYER_OK;
    }
    if (options.bHelp) {
        std::fputs(PlayerUsageText().constData(), stdout);
        return PLAYER_OK;
    }
    if (!SocketStartup()) {
        std::fprintf(stderr, "pos-player: Unable to start the socket library\n");
        return PLAYER_NO_LINK;
    }
    if (options.bListPorts) {
        AssignAdapterPorts(); // an adapter plugged in just now is listed under its name
        PrintAdapterNotes(stderr);
        for (const QString& line : PortListing())
            std::printf("%s\n", qUtf8Printable(line));
        return PLAYER_OK;
    }
    if (options.bDetect) {
        COcsSearch search(DefaultOcsDetector());
        ReportSearch(search, stdout, stderr, [](int status) { QCoreApplication::exit(status); });
        const CInterruptWatch interrupts(&search, [&search] { search.Cancel(); });
        search.Start();
        return app.exec();
    }
    if (!options.strLanes.isEmpty()) {
        std::vector<SLane> lanes;
        QString error;
        SPlayerOptions common = options;
        common.strJUnit.clear(); // the lab's, not each lane's
        common.strCapture.clear();
        if (!ReadLanesFile(options.strLanes, common, lanes, error)) {
            std::fprintf(stderr, "pos-player: %s\n", qUtf8Printable(error));
            return PLAYER_USAGE;
        }
        CLaneRunner lab(std::move(lanes), options, stdout, stderr);
        return PlayUntilFinished(lab);
    }
    COrderPlayer player(options, stdout, stderr);
    return PlayUntilFinished(player);
}
