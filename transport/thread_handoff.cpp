#include "transport/thread_handoff.h"

void CThreadHandoff::Post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::move(call));
        if (m_bPosted)
            return;
        m_bPosted = true;
    }
    // By name, so that the queued event is built inside Qt and carries nothing of ours.
    QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void CThreadHandoff::RunPosted() {
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        calls.swap(m_calls);
        m_bPosted = false;
    }
    for (const std::function<void()>& call : calls)
        call();
}
