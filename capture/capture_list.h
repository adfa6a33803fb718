#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <deque>
#include <memory>
#include <vector>

// Capture lines, each kept either in an append-only journal file on disk or in memory. With a
// journal, memory holds an offset per line, a small read cache and the lines not yet handed to the
// operating system (see Commit); without one (none attached, or the journal failed) the lines are
// kept in memory in large blocks, which never move what they hold (a flood of replies causes no
// pause to copy it). Lines hold no line feed: the journal keeps one line a line.
class CCaptureLines {
public:
    CCaptureLines();
    ~CCaptureLines();
    CCaptureLines(const CCaptureLines&) = delete;
    CCaptureLines& operator=(const CCaptureLines&) = delete;

    // From now on keeps the lines in a new, empty journal file at path; lines held so far stay where
    // they are. False (with the reason) when the file cannot be made: the lines then stay in memory.
    bool AttachJournal(const QString& path, QString* error = nullptr);
    // The same with a journal file opened for writing, empty, every write going to its end; path names
    // it in messages.
    void AttachJournal(std::unique_ptr<QFile> file, const QString& path);
    // Closes the journal file; the lines in it cannot be read after this.
    void CloseJournal();

    void Append(const QByteArray& line);
    // Hands the lines appended since the last commit to the operating system. When the journal cannot
    // take them, it is given up for good: they and all later lines stay in memory (JournalError says
    // why); nothing is lost.
    void Commit();
    // Commits, then has the journal flushed to the disk on a worker thread (fdatasync).
    void SyncToDisk();
    // Empties the list; a journal is truncated, not copied or made anew.
    void Clear();

    qsizetype Count() const { return static_cast<qsizetype>(m_fileOffsets.size() + m_lines.size()); }
    // The line at index; empty when there is none or it cannot be read (see ReadLine).
    QByteArray Line(qsizetype index) const;
    // The line at index, checked against the journal: false, with the reason, when the journal no
    // longer holds it whole (cut short while the program ran, or a read error).
    bool ReadLine(qsizetype index, QByteArray* line, QString* why) const;
    qsizetype LongestLine() const { return m_nLongest; }
    bool IsJournaled() const;
    QString JournalError() const { return m_strJournalError; }

private:
    struct SLineRef {
        quint32 nBlock;
        quint32 nOffset;
        qsizetype nLength;
    };
    static constexpr qsizetype BLOCK_SIZE = 4 * 1024 * 1024;
    static constexpr qsizetype COMMIT_SIZE = 256 * 1024; // a long burst is committed as it goes
    static constexpr qsizetype CACHE_SIZE = 64 * 1024;
    static constexpr qint64 WRITEBACK_SIZE = 4 * 1024 * 1024; // a flood goes to the disk as it comes
    void ClearMemory();
    bool ReadJournal(qint64 offset, qsizetype length, QByteArray* line, QString* why) const;

    // Lines in the journal: where each starts; the journal's size.
    std::vector<qint64> m_fileOffsets;
    qint64 m_nFileBytes = 0;
    qint64 m_nWritebackAt = 0; // the journal's size when its writeback was last started
    // Lines after those: in blocks, each line followed by a line feed so a block goes out whole.
    std::vector<QByteArray> m_blocks;
    std::deque<SLineRef> m_lines;
    qsizetype m_nMemoryBytes = 0;
    qsizetype m_nLongest = 0;
    std::unique_ptr<QFile> m_pJournal;
    QString m_strJournalPath;
    QString m_strJournalError;
    mutable QByteArray m_cache;
    mutable qint64 m_nCacheStart = -1;
};
