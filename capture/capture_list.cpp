#include "capture/capture_list.h"

#include "capture/journal_files.h"

#include <QDir>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Flushes journals to the disk on a thread of its own, so that a slow disk never holds up the window.
// Each request carries a duplicate of the file's descriptor, closed once synced, so that the journal
// may be truncated or closed meanwhile.
class CDiskSyncer {
public:
    static CDiskSyncer& Instance() {
        static CDiskSyncer syncer;
        return syncer;
    }
    // Waits until the file's data is on the disk.
    void Sync(int fd) { Queue(fd, false); }
    // Starts writing out what the file holds so far, without waiting: a sync that follows then has
    // little left to do, and holds up the writers of the file (the window) only briefly.
    void StartWriteback(int fd) { Queue(fd, true); }
    // Waits until every request so far is done and its descriptor closed: a journal about to be
    // removed has no other handle open then (Windows removes no file that is open).
    void WaitIdle() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_idle.wait(lock, [this] { return m_jobs.empty() && !m_bBusy; });
    }
    ~CDiskSyncer() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_wake.notify_one();
        m_thread.join(); // what was asked for is synced first
    }

private:
    struct SJob {
        int fd;
        bool bWritebackOnly;
    };
    CDiskSyncer() : m_thread([this] { Run(); }) {}
    void Queue(int fd, bool writebackOnly) {
        const int copy = DuplicateJournalHandle(fd);
        if (copy < 0)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back({copy, writebackOnly});
        }
        m_wake.notify_one();
    }
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_bStop || !m_jobs.empty(); });
            std::vector<SJob> jobs;
            jobs.swap(m_jobs);
            if (jobs.empty() && m_bStop)
                return;
            m_bBusy = true;
            lock.unlock();
            for (const SJob& job : jobs)
                SyncJournalHandle(job.fd, job.bWritebackOnly);
            lock.lock();
            m_bBusy = false;
            m_idle.notify_all();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_bBusy = false;
    std::vector<SJob> m_jobs;
    bool m_bStop = false;
    std::thread m_thread;
};

} // namespace

CCaptureLines::CCaptureLines() = default;

CCaptureLines::~CCaptureLines() {
    CloseJournal();
}

bool CCaptureLines::AttachJournal(const QString& path, QString* error) {
    auto file = std::make_unique<QFile>();
    // Appending whatever the reads did to the file position; private to the user.
    if (!OpenJournalFileForWriting(path, *file, &m_strJournalError)) {
        const QString why = m_strJournalError;
        CloseJournal();
        m_strJournalError = why;
        if (error)
            *error = why;
        return false;
    }
    AttachJournal(std::move(file), path);
    return true;
}

void CCaptureLines::AttachJournal(std::unique_ptr<QFile> file, const QString& path) {
    CloseJournal();
    m_pJournal = std::move(file);
    m_strJournalPath = path;
    m_strJournalError.clear();
}

void CCaptureLines::CloseJournal() {
    if (!m_pJournal)
        return;
    // What is still in memory goes out first; the journal's lines cannot be read after this.
    Commit();
    m_pJournal.reset();
    CDiskSyncer::Instance().WaitIdle(); // its copies of the descriptor are closed too
    m_cache.clear();
    m_nCacheStart = -1;
}

bool CCaptureLines::IsJournaled() const {
    return m_pJournal && m_strJournalError.isEmpty();
}

void CCaptureLines::Append(const QByteArray& line) {
    const qsizetype size = line.size() + 1;
    if (m_blocks.empty() || m_blocks.back().size() + size > BLOCK_SIZE) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(std::max(BLOCK_SIZE, size));
    }
    QByteArray& block = m_blocks.back();
    m_lines.push_back(
        {static_cast<quint32>(m_blocks.size() - 1), static_cast<quint32>(block.size()), line.size()});
    block.append(line);
    block.append('\n');
    m_nMemoryBytes += size;
    m_nLongest = std::max(m_nLongest, line.size());
    if (m_nMemoryBytes >= COMMIT_SIZE && IsJournaled())
        Commit();
}

void CCaptureLines::Commit() {
    if (!IsJournaled() || m_lines.empty())
        return;
    qint64 written = 0;
    for (const QByteArray& block : m_blocks) {
        const qint64 n = m_pJournal->write(block);
        if (n != block.size()) {
            m_strJournalError = m_pJournal->errorString();
            if (m_strJournalError.isEmpty() || n >= 0)
                m_strJournalError = QStringLiteral("the disk is full");
            // A line written in part is no line: the journal ends with the last whole one.
            m_pJournal->resize(m_nFileBytes);
            return; // everything not committed stays in memory
        }
        written += n;
    }
    std::vector<qint64> blockStart(m_blocks.size(), m_nFileBytes);
    for (size_t b = 1; b < m_blocks.size(); ++b)
        blockStart[b] = blockStart[b - 1] + m_blocks[b - 1].size();
    for (const SLineRef& ref : m_lines)
        m_fileOffsets.push_back(blockStart[ref.nBlock] + ref.nOffset);
    m_nFileBytes += written;
    ClearMemory();
    if (m_nFileBytes - m_nWritebackAt >= WRITEBACK_SIZE) {
        m_nWritebackAt = m_nFileBytes;
        CDiskSyncer::Instance().StartWriteback(static_cast<int>(m_pJournal->handle()));
    }
}

void CCaptureLines::SyncToDisk() {
    Commit();
    if (IsJournaled())
        CDiskSyncer::Instance().Sync(static_cast<int>(m_pJournal->handle()));
}

void CCaptureLines::ClearMemory() {
    m_blocks.clear();
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_nMemoryBytes = 0;
}

void CCaptureLines::Clear() {
    ClearMemory();
    m_fileOffsets.clear();
    m_fileOffsets.shrink_to_fit();
    m_nLongest = 0;
    m_cache.clear();
    m_nCacheStart = -1;
    if (m_pJournal) {
        // A journal that failed stays given up, but holds no old lines either.
        if (!m_pJournal->resize(0) && m_strJournalError.isEmpty())
            m_strJournalError = m_pJournal->errorString();
    }
    m_nFileBytes = 0;
    m_nWritebackAt = 0;
}

// Reads a line and the line feed that must end it: a journal cut short, or grown other lines where
// this one was, never passes for the line.
bool CCaptureLines::ReadJournal(qint64 offset, qsizetype length, QByteArray* line, QString* why) const {
    const auto fail = [&](const QString& reason) {
        m_cache.clear();
        m_nCacheStart = -1;
        if (why)
            *why =
                QStringLiteral("the journal %1 %2").arg(QDir::toNativeSeparators(m_strJournalPath), reason);
        return false;
    };
    if (!m_pJournal)
        return fail(QStringLiteral("is closed")); // the program is ending
    const qint64 needed = qint64(length) + 1;
    if (m_nCacheStart < 0 || offset < m_nCacheStart || offset + needed > m_nCacheStart + m_cache.size()) {
        // Lines are read in runs (painting, saving): the cache takes the next stretch of the file.
        const qint64 size = std::min<qint64>(std::max<qint64>(needed, CACHE_SIZE), m_nFileBytes - offset);
        m_cache.resize(qsizetype(size));
        m_nCacheStart = offset;
        if (!m_pJournal->seek(offset))
            return fail(QStringLiteral("cannot be read: %1").arg(m_pJournal->errorString()));
        const qint64 got = m_pJournal->read(m_cache.data(), size);
        if (got < 0)
            return fail(QStringLiteral("cannot be read: %1").arg(m_pJournal->errorString()));
        m_cache.resize(qsizetype(got));
        if (got < needed)
            return fail(
                QStringLiteral("was cut short: it ends at byte %1, before its lines do").arg(offset + got));
    }
    const qsizetype at = qsizetype(offset - m_nCacheStart);
    if (m_cache.at(at + length) != '\n')
        return fail(QStringLiteral("was changed: a line does not end where it should, at byte %1")
                        .arg(offset + length));
    *line = m_cache.mid(at, length);
    return true;
}

bool CCaptureLines::ReadLine(qsizetype index, QByteArray* line, QString* why) const {
    line->clear();
    if (index < 0 || index >= Count())
        return false;
    const size_t fileLines = m_fileOffsets.size();
    if (size_t(index) < fileLines) {
        const qint64 start = m_fileOffsets[size_t(index)];
        const qint64 end = size_t(index) + 1 < fileLines ? m_fileOffsets[size_t(index) + 1] : m_nFileBytes;
        return ReadJournal(start, qsizetype(end - start - 1), line, why);
    }
    const SLineRef& ref = m_lines[size_t(index) - fileLines];
    *line = m_blocks[ref.nBlock].mid(ref.nOffset, ref.nLength);
    return true;
}

QByteArray CCaptureLines::Line(qsizetype index) const {
    QByteArray line;
    ReadLine(index, &line, nullptr);
    return line;
}
