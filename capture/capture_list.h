#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <deque>
#include <memory>
#include <vector>

class QListView;

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

// A capture list as a model for a list view. Lines are stored at once and shown to the view in
// batches on the next turn of the event loop, which keeps a flood of appends cheap. A view that
// stands at the end follows the newest line.
class CCaptureListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CCaptureListModel(QObject* parent = nullptr);

    void AttachView(QListView* view, bool backToLeftEdge);
    // Keeps the list in a journal file (see CCaptureLines::AttachJournal).
    bool AttachJournal(const QString& path, QString* error = nullptr);
    void CloseJournal() { m_lines.CloseJournal(); }
    // A line appended is handed to the operating system at once when it comes alone, else with the
    // rest of its burst before the event loop goes on, and always before the view shows it; the
    // journal reaches the disk at most a second later.
    void Append(const QByteArray& line);
    void Clear();
    // Commits and flushes the journal to the disk now (an order has ended).
    void SyncToDisk();
    // Every line appended, also those the view has not been shown yet.
    const CCaptureLines& Lines() const { return m_lines; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Shows the pending lines to the view now.
    void Flush();

signals:
    // The journal stopped taking lines; the list goes on in memory. Emitted once.
    void JournalFailed(const QString& reason);

private:
    void CommitJournal();

    CCaptureLines m_lines;
    bool m_bCommitPending = false;
    bool m_bFailureTold = false;
    QTimer m_syncTimer;
    int m_nShown = 0;
    bool m_bFlushPending = false;
    QListView* m_pView = nullptr;
    bool m_bBackToLeft = false;
    int m_nCharWidth = 7;
    int m_nRowHeight = 16;
    int m_nHintWidth = 0;
    QElapsedTimer m_flushClock;
    static constexpr int FLUSH_INTERVAL_MS = 50;
};
