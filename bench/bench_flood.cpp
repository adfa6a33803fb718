// A peer floods the window with 64-byte replies (no NUL) for 10 seconds: prints bytes and [Rx] lines
// taken in per second, resident memory, and how late the window's event loop ran meanwhile.
#include "app/emulator_app.h"
#include "bench_support.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/send_order_page.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    QTemporaryDir home;
    PrepareBenchEnvironment(home);
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    SetMessageBoxHandler([](const SMessageBox& box) {
        std::fprintf(stderr, "%s\n", qPrintable(box.strText));
        return CMessageBox::Ok;
    });
    const int listener = ListenLoopback("127.0.0.32");
    if (!WritePosScript("Flood", "<02>ORDER<03>\n") || listener < 0)
        return 1;

    CEmulatorApp emulator;
    emulator.LoadSettings();
    PlayOverLoopback(emulator.m_settings, "127.0.0.32", "Flood");
    CMainDialog window(&emulator);
    window.show();
    window.OnDetailsArrow();

    std::atomic<long long> sent{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> peerDone{false};
    std::thread peer([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        QByteArray reply(64, 'r');
        QByteArray burst;
        for (int i = 0; i < 64; ++i)
            burst += reply;
        while (!stop) {
            const ssize_t n = ::send(fd, burst.constData(), size_t(burst.size()), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        // Closed gracefully, reading what the window sent, so that nothing is reset away.
        ::shutdown(fd, SHUT_WR);
        char sink[4096];
        while (::recv(fd, sink, sizeof(sink), 0) > 0) {
        }
        ::close(fd);
        peerDone = true;
    });
    window.m_pageSendOrder->OnRun();

    QElapsedTimer clock;
    clock.start();
    std::vector<double> lateness;
    double rssPeak = 0;
    qint64 expected = -1;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (expected >= 0)
            lateness.push_back(std::max<qint64>(0, now - expected) / 1e6);
        expected = now + 10'000'000;
        rssPeak = std::max(rssPeak, ResidentMegabytes());
        if (now > qint64(seconds) * 1'000'000'000 && !stop) {
            stop = true;
            probe.stop();
            QCoreApplication::exit(0);
        }
    });
    probe.start(10);
    app.exec();
    // The peer's last send may wait for the window to take data in.
    while (!peerDone)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    peer.join();
    // Let the window take in what is still on its way.
    QElapsedTimer drain;
    drain.start();
    // Counts the lines added since the last look only: the list may hold gigabytes.
    qsizetype counted = 0;
    long long total = 0;
    auto shownBytes = [&] {
        const CCaptureLines& lines = window.m_modelRx.Lines();
        for (; counted < lines.Count(); ++counted)
            total += lines.Line(counted).size() - 22;
        return total;
    };
    long long shown = shownBytes();
    while (shown < sent && drain.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        shown = shownBytes();
    }
    const double elapsed = seconds + drain.elapsed() / 1000.0;
    std::sort(lateness.begin(), lateness.end());
    const auto pct = [&](double p) {
        return lateness.empty() ? 0.0 : lateness[size_t(p * (lateness.size() - 1))];
    };
    std::printf("flood_seconds %d\n", seconds);
    std::printf("flood_bytes_sent %lld\n", sent.load());
    std::printf("flood_bytes_shown %lld\n", shown);
    std::printf("flood_every_byte_shown %s\n", shown == sent ? "yes" : "no");
    std::printf("flood_mb_per_s %.1f\n", shown / elapsed / (1024.0 * 1024.0));
    std::printf("flood_rx_lines_per_s %.0f\n", window.m_modelRx.Lines().Count() / elapsed);
    std::printf("flood_rss_peak_mb %.1f\n", std::max(rssPeak, ResidentMegabytes()));
    std::printf("flood_event_loop_latency_median_ms %.2f\n", pct(0.5));
    std::printf("flood_event_loop_latency_p99_ms %.2f\n", pct(0.99));
    window.CloseConnection();
    ::close(listener);
    return shown == sent ? 0 : 1;
}
