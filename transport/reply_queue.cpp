#include "transport/reply_queue.h"

bool CReplyQueue::Push(unsigned generation, QByteArray text, qint64 receivedNs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_space.wait(lock, [this] { return m_nBytes < m_nLimit || m_bAbort; });
    m_nBytes += text.size() + 1;
    m_chunks.push_back(SReplyChunk{generation, std::move(text), receivedNs});
    if (m_bPosted)
        return false;
    m_bPosted = true;
    return true;
}

std::vector<SReplyChunk> CReplyQueue::Take() {
    std::vector<SReplyChunk> chunks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        chunks.swap(m_chunks);
        m_nBytes = 0;
        m_bPosted = false;
    }
    m_space.notify_all();
    return chunks;
}

void CReplyQueue::CloseSender(const std::function<void()>& close) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bAbort = true;
    }
    m_space.notify_all();
    close();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bAbort = false;
}
