// A lab of lanes in one process: 1, 8, 32, 64 and 128 lanes play over loopback TCP to peers in this
// process that stamp each frame's arrival and acknowledge it; the lanes judge the ACKs. Lines go at
// 500 ms, then Ctrl+C's finishing plays the rest of the pass at 10 ms a line. Prints, for each lane
// count, the absolute error of each interval against its delay at the peers (median, p99, max), the
// process's CPU time a second of the run (peers included) and its peak resident memory; then, as a
// floor, how late bare threads as many as the lanes wake from a sleep on this machine.
//   bench_lanes [lines at 500 ms] [lane counts...]
#include "bench_support.h"
#include "lane_runner.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int FIRST_PORT = 49101;
constexpr int FINISHING_LINES = 40;
const char PEER_ADDRESS[] = "127.0.0.40";

// Listens on a port a lane, takes each lane's connection, stamps every frame and answers it with ACK.
// A frame's stamp is when its last byte reached this machine's network stack (the kernel's receive
// time stamp), so that how late this thread gets to read it does not count; a frame read together
// with the next one has no stamp of its own, and its intervals are left out.
class CPeers {
public:
    explicit CPeers(int lanes) : m_nListeners(lanes), m_stamps(size_t(lanes)) {
        m_hPoll = ::epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < lanes; ++i) {
            const SocketHandle fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const int yes = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
            sockaddr_storage addr;
            socklen_t length = 0;
            SocketAddressOf(PEER_ADDRESS, static_cast<unsigned short>(FIRST_PORT + i), &addr, &length);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(fd, 4) != 0)
                m_bFailed = true;
            Watch(fd, i);
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~CPeers() {
        m_bStop = true;
        m_thread.join();
        for (const SocketHandle fd : m_fds)
            SocketCloseHandle(fd);
        ::close(m_hPoll);
    }
    bool Failed() const { return m_bFailed; }
    // The fewest frames any lane has sent so far.
    size_t FewestFrames() {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t fewest = SIZE_MAX;
        for (const auto& lane : m_stamps)
            fewest = std::min(fewest, lane.size());
        return fewest;
    }
    // Each lane's frames' stamps in nanoseconds; -1 for a frame without a stamp of its own.
    std::vector<std::vector<qint64>> Stamps() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stamps;
    }

private:
    // Listeners are 0..lanes-1, a lane's connection lanes + its lane.
    void Watch(SocketHandle fd, int key) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = uint32_t(key);
        ::epoll_ctl(m_hPoll, EPOLL_CTL_ADD, fd, &event);
        m_fds.push_back(fd);
        m_byKey.resize(std::max(m_byKey.size(), size_t(key) + 1), SOCKET_INVALID);
        m_byKey[size_t(key)] = fd;
    }

    void Serve() {
        epoll_event events[256];
        while (!m_bStop) {
            const int ready = ::epoll_wait(m_hPoll, events, 256, 20);
            for (int e = 0; e < ready; ++e) {
                const int key = int(events[e].data.u32);
                const SocketHandle fd = m_byKey[size_t(key)];
                if (key < m_nListeners) { // the lane's connection
                    const SocketHandle client = ::accept(fd, nullptr, nullptr);
                    const int on = 1;
                    ::setsockopt(client, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
                    if (client != SOCKET_INVALID)
                        Watch(client, m_nListeners + key);
                } else if (!Read(fd, key - m_nListeners)) {
                    ::epoll_ctl(m_hPoll, EPOLL_CTL_DEL, fd, nullptr);
                }
            }
        }
    }

    // False when the lane's connection has ended.
    bool Read(SocketHandle fd, int lane) {
        char buffer[4096];
        iovec part{buffer, sizeof(buffer)};
        alignas(cmsghdr) char control[256];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const long n = ::recvmsg(fd, &message, 0);
        if (n <= 0)
            return false;
        qint64 arrivedNs = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec at{};
                std::memcpy(&at, CMSG_DATA(c), sizeof(at));
                arrivedNs = qint64(at.tv_sec) * 1'000'000'000 + at.tv_nsec;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<qint64>& stamps = m_stamps[size_t(lane)];
        for (long i = 0; i < n; ++i) {
            if (buffer[i] != 0x03)
                continue;
            // The time stamp is the read's last byte's: a frame's own only when it ends the read.
            stamps.push_back(i == n - 1 ? arrivedNs : -1);
            SocketSendNow(fd, "\x06", 1);
        }
        return true;
    }

    const int m_nListeners;
    int m_hPoll = -1;
    std::vector<SocketHandle> m_fds;
    std::vector<SocketHandle> m_byKey;
    std::mutex m_mutex;
    std::vector<std::vector<qint64>> m_stamps;
    std::atomic<bool> m_bStop{false};
    bool m_bFailed = false;
    std::thread m_thread;
};

struct SFigures {
    double median = 0, p99 = 0, max = 0;
    size_t nIntervals = 0;
};

SFigures Figures(std::vector<double> errors) {
    SFigures f;
    f.nIntervals = errors.size();
    if (errors.empty())
        return f;
    std::sort(errors.begin(), errors.end());
    f.median = errors[errors.size() / 2];
    f.p99 = errors[std::min(errors.size() - 1, size_t(double(errors.size()) * 0.99))];
    f.max = errors.back();
    return f;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What this machine gives any program: as many bare threads as lanes, started as the lanes are, each
// sleeping to a deadline every `periodMs`; how late each wakes, median / p99 / max. Pacing cannot be
// finer than this.
SFigures WakeFloor(int threads, int periodMs, int periods) {
    std::vector<std::vector<double>> late(static_cast<size_t>(threads));
    std::vector<std::thread> sleepers;
    const auto start = Clock::now() + std::chrono::milliseconds(20);
    const int gapUs = std::min(50'000, 500'000 / threads);
    for (int t = 0; t < threads; ++t) {
        sleepers.emplace_back([&, t] {
            auto due = start + std::chrono::microseconds(t * gapUs);
            for (int i = 0; i < periods; ++i) {
                due += std::chrono::milliseconds(periodMs);
                std::this_thread::sleep_until(due);
                late[size_t(t)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - due).count());
            }
        });
    }
    std::vector<double> all;
    for (size_t t = 0; t < sleepers.size(); ++t) {
        sleepers[t].join();
        all.insert(all.end(), late[t].begin(), late[t].end());
    }
    return Figures(all);
}

struct SLabRun {
    SFigures slow, fast;
    double nCpuPerSecond = 0;
    double nFinishingCpuPerSecond = 0; // while the lines go at 10 ms
    double nPeakMb = 0;
    int nStatus = -1;
};

SLabRun RunLab(int lanes, size_t slowLines) {
    SLabRun result;
    CPeers peers(lanes);
    if (peers.Failed()) {
        std::fprintf(stderr, "cannot listen on %s:%d..\n", PEER_ADDRESS, FIRST_PORT);
        return result;
    }
    std::vector<SLane> lab;
    for (int i = 0; i < lanes; ++i) {
        SLane lane;
        lane.strName = QStringLiteral("Lane %1").arg(i + 1);
        QString error;
        const QString target = QStringLiteral("%1:%2").arg(QLatin1String(PEER_ADDRESS)).arg(FIRST_PORT + i);
        if (!ParsePlayerArgs({"Bench", "--tcp", target, "--expect", "<06>", "--passes", "0"}, lane.options,
                             error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return result;
        }
        lane.options.strLane = lane.strName;
        lab.push_back(lane);
    }
    ResetResidentPeak();
    const double cpuBefore = CpuSeconds();
    const auto started = Clock::now();
    FILE* sink = std::fopen("/dev/null", "w");
    double cpuAtInterrupt = 0;
    Clock::time_point wallAtInterrupt;
    // On the clock of the kernel's stamps; Ctrl+C came between two lines, whose interval has no delay to
    // keep.
    qint64 interruptedNs = std::numeric_limits<qint64>::max();
    {
        CLaneRunner runner(std::move(lab), SPlayerOptions(), sink, sink);
        QObject::connect(&runner, &CLaneRunner::Finished, [&result](int status) {
            result.nStatus = status;
            QCoreApplication::exit(0);
        });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (peers.FewestFrames() >= slowLines) {
                poll.stop();
                interruptedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
                runner.Interrupt(); // the rest of the pass at 10 ms a line
                cpuAtInterrupt = CpuSeconds();
                wallAtInterrupt = Clock::now();
            }
        });
        poll.start(20);
        QMetaObject::invokeMethod(&runner, &CLaneRunner::Start, Qt::QueuedConnection);
        QCoreApplication::exec();
    }
    std::fclose(sink);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    result.nCpuPerSecond = (CpuSeconds() - cpuBefore) / seconds;
    result.nPeakMb = ResidentPeakMegabytes();
    result.nFinishingCpuPerSecond = (CpuSeconds() - cpuAtInterrupt) /
                                    std::chrono::duration<double>(Clock::now() - wallAtInterrupt).count();
    std::vector<double> slow, fast;
    for (const auto& stamps : peers.Stamps()) {
        for (size_t i = 1; i < stamps.size(); ++i) {
            if (stamps[i] < 0 || stamps[i - 1] < 0)
                continue;
            const double interval = double(stamps[i] - stamps[i - 1]) / 1e6;
            const bool finishing = stamps[i - 1] > interruptedNs;
            if (!finishing && stamps[i] > interruptedNs)
                continue;
            const double error = std::abs(interval - (finishing ? 10 : 500));
            if (std::getenv("BENCH_LANES_OUTLIERS") && error > 1.0)
                std::fprintf(stderr, "interval %zu: %.3f ms\n", i, interval);
            (finishing ? fast : slow).push_back(error);
        }
    }
    result.slow = Figures(slow);
    result.fast = Figures(fast);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    PrepareBenchEnvironment(home);
    QCoreApplication app(argc, argv);
    const size_t slowLines = argc > 1 ? size_t(std::max(3, atoi(argv[1]))) : 12;
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i)
        counts.push_back(std::max(1, atoi(argv[i])));
    if (counts.empty())
        counts = {1, 8, 32, 64, 128};
    QByteArray script;
    for (size_t i = 0; i < slowLines + FINISHING_LINES; ++i)
        script += "<02>LANE LINE " + QByteArray::number(qulonglong(i)) + "<03>\n";
    if (!WritePosScript("Bench", script) || !SocketStartup())
        return 1;
    std::printf(
        "# lanes | 500 ms lines: error median / p99 / max ms (intervals) | 10 ms lines: median / p99 / "
        "max ms (intervals) | CPU s a second | peak RSS MB | status | bare threads' wake lateness at 500 ms: "
        "median / p99 / max ms\n");
    int failed = 0;
    for (int lanes : counts) {
        const SLabRun run = RunLab(lanes, slowLines);
        const SFigures wake = WakeFloor(lanes, 500, int(slowLines));
        std::printf(
            "# %4d | %.3f / %.3f / %.3f (%zu) | %.3f / %.3f / %.3f (%zu) | %.3f | %.1f | %d | %.3f / %.3f / "
            "%.3f\n",
            lanes, run.slow.median, run.slow.p99, run.slow.max, run.slow.nIntervals, run.fast.median,
            run.fast.p99, run.fast.max, run.fast.nIntervals, run.nCpuPerSecond, run.nPeakMb, run.nStatus,
            wake.median, wake.p99, wake.max);
        const QByteArray n = "lanes_" + QByteArray::number(lanes);
        std::printf(
            "%s_pacing_500ms_median_ms %.3f\n%s_pacing_500ms_p99_ms %.3f\n%s_pacing_500ms_max_ms %.3f\n",
            n.constData(), run.slow.median, n.constData(), run.slow.p99, n.constData(), run.slow.max);
        std::printf("%s_pacing_10ms_median_ms %.3f\n%s_pacing_10ms_p99_ms %.3f\n%s_pacing_10ms_max_ms %.3f\n",
                    n.constData(), run.fast.median, n.constData(), run.fast.p99, n.constData(), run.fast.max);
        std::printf("%s_cpu_seconds_per_second %.3f\n%s_rss_peak_mb %.1f\n", n.constData(), run.nCpuPerSecond,
                    n.constData(), run.nPeakMb);
        std::printf("%s_bare_thread_wake_p99_ms %.3f\n", n.constData(), wake.p99);
        std::printf("%s_cpu_seconds_per_second_at_10ms %.3f\n", n.constData(), run.nFinishingCpuPerSecond);
        std::fflush(stdout);
        failed += run.nStatus != 0;
    }
    return failed ? 1 : 0;
}
