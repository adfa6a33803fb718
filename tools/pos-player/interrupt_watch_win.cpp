#include "interrupt_watch.h"

#include <utility>

// clang-format off
#include <windows.h>
// clang-format on
#include <mutex>

namespace {
// The console calls the handler on a thread of its own, which may race with the watch's end.
std::mutex g_mutex;
QObject* g_pContext = nullptr;
std::function<void()> g_handler;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_pContext)
            return FALSE;
        QMetaObject::invokeMethod(
            g_pContext, [] { g_handler(); }, Qt::QueuedConnection);
    }
    // Windows ends the process when this returns from a closed console: give the program the
    // time it is allowed to finish its capture, main's return ends it sooner.
    if (event == CTRL_CLOSE_EVENT)
        ::Sleep(5000);
    return TRUE;
}
} // namespace

CInterruptWatch::CInterruptWatch(QObject* context, std::function<void()> handler) {
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        g_pContext = context;
        g_handler = std::move(handler);
    }
    // A program started in a process group of its own ignores Ctrl+C unless it asks for it.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    m_bWatching = ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

CInterruptWatch::~CInterruptWatch() {
    if (m_bWatching)
        ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_pContext = nullptr;
}
