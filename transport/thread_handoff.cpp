#include "transport/thread_handoff.h"

void CThreadHandoff::Post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    // One event a call, as a queued lambda had: a call that opens a modal box still lets the calls
    // after it run, in order, in the box's event loop. By name, so that the event is built inside Qt
    // and carries nothing of ours.
    QMetaObject::invokeMethod(this, "RunNext", Qt::QueuedConnection);
}

CThreadHandoff::~CThreadHandoff() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

void CThreadHandoff::RunNext() {
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_calls.empty())
            return;
        call = std::move(m_calls.front());
        m_calls.pop_front();
    }
    call();
}
