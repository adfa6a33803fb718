// Ctrl+C (and a request to end) for a console program with an event loop: the handler runs on the
// thread of the object it is given, never inside a signal handler or the console's own thread.
#pragma once

#include <QObject>
#include <functional>

class CInterruptWatch {
public:
    // Watches until destroyed; only one watch at a time. `context` must outlive the watch.
    CInterruptWatch(QObject* context, std::function<void()> handler);
    ~CInterruptWatch();
    CInterruptWatch(const CInterruptWatch&) = delete;
    CInterruptWatch& operator=(const CInterruptWatch&) = delete;

private:
    bool m_bWatching = false;
};
