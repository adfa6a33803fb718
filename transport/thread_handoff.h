#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

// Calls a worker thread hands to the thread this object lives on, run there in the order handed over.
// The calls wait under a std::mutex rather than inside Qt's event queue: Qt's own locks are invisible
// to ThreadSanitizer when Qt is not built for it, so a lambda posted straight to the queue looks like a
// race to it even though it is none.
class CThreadHandoff : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Calls not run yet are dropped under the lock, after the last Post of any thread.
    ~CThreadHandoff() override;
    void Post(std::function<void()> call);

private:
    Q_INVOKABLE void RunNext();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
};
