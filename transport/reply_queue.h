#pragma once

#include <QByteArray>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

struct SReplyChunk {
    unsigned nGeneration; // whose capture the chunk belongs to
    QByteArray text;
    qint64 nReceivedNs = 0; // when it came in, on the clock of whoever pushed it
};

// Replies on their way from a client's receive thread to the user-interface thread. The receive
// thread hands each chunk over and goes on; only when the receiver is far behind (an OCS flooding
// the line) does Push wait for it to catch up, which lets TCP hold the OCS back instead of memory
// growing without end.
class CReplyQueue {
public:
    explicit CReplyQueue(qsizetype limitBytes) : m_nLimit(limitBytes) {}
    // True when the receiver has to be told to Take (the first chunk since the last Take).
    bool Push(unsigned generation, QByteArray text, qint64 receivedNs = 0);
    std::vector<SReplyChunk> Take();
    // Runs close (of the client whose receive thread pushes here); Close waits for that thread, so a
    // Push that waits meanwhile returns at once instead of holding it up.
    void CloseSender(const std::function<void()>& close);

private:
    const qsizetype m_nLimit;
    std::mutex m_mutex;
    std::condition_variable m_space;
    std::vector<SReplyChunk> m_chunks;
    qsizetype m_nBytes = 0;
    bool m_bPosted = false;
    bool m_bAbort = false;
};
