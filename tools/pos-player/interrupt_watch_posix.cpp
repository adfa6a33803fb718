#include "interrupt_watch.h"

#include <utility>

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// A signal handler may only write; the event loop reads the other end.
int g_signalPipe[2] = {-1, -1};
void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}
} // namespace

CInterruptWatch::CInterruptWatch(QObject* context, std::function<void()> handler) {
    std::signal(SIGPIPE, SIG_IGN); // a peer gone is an error to report, not the end of the program
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler = std::move(handler)] {
        char bytes[16];
        while (::read(g_signalPipe[0], bytes, sizeof(bytes)) > 0)
            handler();
    });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    m_bWatching = true;
}

CInterruptWatch::~CInterruptWatch() {
    if (!m_bWatching)
        return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}
