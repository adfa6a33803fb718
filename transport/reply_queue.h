#pragma once

#include <QByteArray>
#include <condition_variable>
#include <mutex>
#include <vector>

struct SReplyChunk {
    unsigned nGeneration; // whose capture the chunk belongs to
    QByteArray text;
};

// Replies on their way from a client's receive thread to the user-interface thread. The receive
// thread hands each chunk over and goes on; only when the receiver is far behind (an OCS flooding
// the line) does Push wait for it to catch up, which lets TCP hold the OCS back instead of memory
// growing without end.
class CReplyQueue {
public:
    explicit CReplyQueue(qsizetype limitBytes) : m_nLimit(limitBytes) {}
    // True when the receiver has to be told to Take (the first chunk since the last Take).
    bool Push(unsigned generation, QByteArray text);
    std::vector<SReplyChunk> Take();
    // Closing a client waits for its receive thread: Abort ends a Push that waits, until Resume.
    void Abort();
    void Resume();

private:
    const qsizetype m_nLimit;
    std::mutex m_mutex;
    std::condition_variable m_space;
    std::vector<SReplyChunk> m_chunks;
    qsizetype m_nBytes = 0;
    bool m_bPosted = false;
    bool m_bAbort = false;
};
