// Line pacing at the peer: the window plays data lines at 500 ms over loopback TCP, then Stop
// finishes the pass at 10 ms a line; a plain sleep-then-write sender does the same 500 ms for
// comparison. Prints the absolute error of each interval against its delay.
//   bench_pacing [lines at 500 ms] [lines at 10 ms]
#include "app/emulator_app.h"
#include "bench_support.h"
#include "ui/main_dialog.h"
#include "ui/message_box.h"
#include "ui/send_order_page.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Accepts one connection and stamps the arrival of every STX until `count` came or it closes.
class CStamper {
public:
    CStamper(SocketHandle listener, size_t count) {
        m_thread = std::thread([this, listener, count] {
            const SocketHandle fd = ::accept(listener, nullptr, nullptr);
            char buffer[4096];
            while (Count() < count) {
                const int n = int(::recv(fd, buffer, sizeof(buffer), 0));
                if (n <= 0)
                    break;
                const auto now = Clock::now();
                std::lock_guard<std::mutex> lock(m_mutex);
                for (int i = 0; i < n; ++i)
                    if (buffer[i] == 0x02)
                        m_stamps.push_back(now);
            }
            SocketCloseHandle(fd);
        });
    }
    ~CStamper() { m_thread.join(); }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stamps.size();
    }
    std::vector<Clock::time_point> Stamps() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stamps;
    }

private:
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_stamps;
    std::thread m_thread;
};

struct SFigures {
    double median = 0, p99 = 0, max = 0;
};

SFigures Errors(const char* name, const std::vector<Clock::time_point>& stamps, size_t from, size_t to,
                double delayMs) {
    std::vector<double> errors;
    for (size_t i = from + 1; i < to && i < stamps.size(); ++i) {
        const double interval = std::chrono::duration<double, std::milli>(stamps[i] - stamps[i - 1]).count();
        errors.push_back(std::abs(interval - delayMs));
        if (errors.back() > 1.0) // where the outliers fall tells what held the line up
            std::fprintf(stderr, "%s interval %zu: %.3f ms\n", name, i - from, interval);
    }
    SFigures f;
    if (errors.empty())
        return f;
    std::sort(errors.begin(), errors.end());
    f.median = errors[errors.size() / 2];
    f.p99 = errors[std::min(errors.size() - 1, size_t(errors.size() * 0.99))];
    f.max = errors.back();
    return f;
}

void Print(const char* name, const SFigures& f) {
    std::printf("%s_median_ms %.3f\n%s_p99_ms %.3f\n%s_max_ms %.3f\n", name, f.median, name, f.p99, name,
                f.max);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    PrepareBenchEnvironment(home);
    QApplication app(argc, argv);
    const size_t slow = argc > 1 ? std::max(2, atoi(argv[1])) : 200;
    const size_t fast = argc > 2 ? std::max(2, atoi(argv[2])) : 200;
    SetMessageBoxHandler([](const SMessageBox& box) {
        std::fprintf(stderr, "%s\n", qPrintable(box.strText));
        return CMessageBox::Ok;
    });

    QByteArray script;
    for (size_t i = 0; i < slow + fast; ++i)
        script += QByteArray("<02>LINE ") + QByteArray::number(qulonglong(i)) + "<03>\n";
    if (!WritePosScript("Bench", script))
        return 1;
    const SocketHandle listener = ListenLoopback("127.0.0.30");
    const SocketHandle naiveListener = ListenLoopback("127.0.0.31");
    if (listener == SOCKET_INVALID || naiveListener == SOCKET_INVALID) {
        std::fprintf(stderr, "cannot listen on 127.0.0.30/31:48501\n");
        return 1;
    }

    CEmulatorApp emulator;
    emulator.LoadSettings();
    PlayOverLoopback(emulator.m_settings, "127.0.0.30", "Bench");
    CMainDialog window(&emulator);
    window.show();
    std::vector<Clock::time_point> stamps;
    {
        CStamper stamper(listener, slow + fast);
        window.m_pageSendOrder->OnRun();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (stamper.Count() >= slow) {
                poll.stop();
                window.m_pageSendOrder->OnStop(); // plays the rest at 10 ms a line
                QCoreApplication::exit(0);        // quit() would ask the window to close
            }
        });
        poll.start(5);
        app.exec();
        stamps = stamper.Stamps();
    }

    std::vector<Clock::time_point> naive;
    {
        CStamper stamper(naiveListener, slow);
        std::thread sender([slow] {
            const SocketHandle fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_storage addr;
            socklen_t length = 0;
            SocketAddressOf("127.0.0.31", 48501, &addr, &length);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0)
                return;
            for (size_t i = 0; i < slow; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                const char line[] = "\x02LINE\x03";
                for (size_t b = 0; b + 1 < sizeof(line); ++b)
                    SocketSendNow(fd, line + b, 1);
            }
            SocketCloseHandle(fd);
        });
        sender.join();
        naive = stamper.Stamps();
    }

    const SFigures continuous = Errors("pacing_500ms", stamps, 0, slow, 500);
    const SFigures finishing = Errors("pacing_10ms", stamps, slow, stamps.size(), 10);
    const SFigures reference = Errors("naive_500ms", naive, 0, naive.size(), 500);
    std::printf("pacing_lines_500ms %zu\npacing_lines_10ms %zu\n", std::min(slow, stamps.size()),
                stamps.size() > slow ? stamps.size() - slow : size_t(0));
    Print("pacing_500ms", continuous);
    Print("pacing_10ms", finishing);
    Print("naive_500ms", reference);
    std::printf("naive_to_window_median_ratio %.1f\n",
                continuous.median > 0 ? reference.median / continuous.median : 0.0);
    std::printf("naive_to_window_p99_ratio %.1f\n",
                continuous.p99 > 0 ? reference.p99 / continuous.p99 : 0.0);
    SocketCloseHandle(listener);
    SocketCloseHandle(naiveListener);
    return stamps.size() == slow + fast ? 0 : 1;
}
