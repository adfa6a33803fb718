// Appends 1,000,000 [Tx] lines of 80 characters to the main window's list (kept in its journal) and
// prints the time until the list shows them and the resident memory then; then saves the capture file
// and prints the time and the memory that took.
#include "app/emulator_app.h"
#include "bench_support.h"
#include "capture/capture_file.h"
#include "capture/capture_log.h"
#include "ui/main_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListView>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QTemporaryDir home;
    PrepareBenchEnvironment(home);
    QApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 1000000;
    CEmulatorApp emulator;
    emulator.LoadSettings();
    CMainDialog window(&emulator);
    window.show();
    window.OnDetailsArrow();
    QApplication::processEvents();
    const double before = ResidentMegabytes();
    const QByteArray text =
        "<02>ITEM 0001 DOUBLE BURGER NO ONIONS EXTRA CHEESE 5.49<03>" + QByteArray(80, 'x');
    // The time field and keyword take 22 characters: the text makes the line 80 long.
    const QByteArray body = text.left(80 - 22);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        window.AddTxLine(body, TXLINE_NETWORK);
    QApplication::processEvents();
    while (window.m_listTx->model()->rowCount() < count)
        QApplication::processEvents();
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("capture_lines %d\n", count);
    std::printf("capture_line_length %lld\n",
                static_cast<long long>(window.m_modelTx.Lines().Line(0).size()));
    std::printf("capture_append_ms %.0f\n", ms);
    std::printf("capture_rss_mb %.1f\n", ResidentMegabytes());
    std::printf("capture_rss_growth_mb %.1f\n", ResidentMegabytes() - before);
    std::printf("capture_journaled %s\n", window.m_modelTx.Lines().IsJournaled() ? "yes" : "no");

    const double beforeSave = ResidentMegabytes();
    ResetResidentPeak();
    timer.restart();
    const QString path = home.filePath(QStringLiteral("DataCapture.txt"));
    const bool saved =
        WriteCaptureFile(path, window.m_modelTx.Lines(), window.m_modelRx.Lines()) == CAPTURE_WRITTEN;
    std::printf("capture_save_ms %.0f\n", timer.nsecsElapsed() / 1e6);
    std::printf("capture_save_mb %.1f\n", QFileInfo(path).size() / (1024.0 * 1024.0));
    std::printf("capture_save_rss_growth_mb %.1f\n",
                std::max(ResidentPeakMegabytes(), ResidentMegabytes()) - beforeSave);
    return saved ? 0 : 1;
}
