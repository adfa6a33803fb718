#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QElapsedTimer>
#include <deque>
#include <vector>

class QListView;

// Capture lines in large blocks: a million lines of 80 characters take little more than their bytes,
// and the store never moves what it holds (a flood of replies causes no pause to copy it).
class CCaptureLines {
public:
    void Append(const QByteArray& line);
    void Clear();
    qsizetype Count() const { return static_cast<qsizetype>(m_lines.size()); }
    QByteArray Line(qsizetype index) const;
    qsizetype LongestLine() const { return m_nLongest; }

private:
    struct SLineRef {
        quint32 nBlock;
        quint32 nOffset;
        qsizetype nLength;
    };
    static constexpr qsizetype BLOCK_SIZE = 4 * 1024 * 1024;
    std::vector<QByteArray> m_blocks;
    std::deque<SLineRef> m_lines;
    qsizetype m_nLongest = 0;
};

// A capture list as a model for a list view. Lines are stored at once and shown to the view in
// batches on the next turn of the event loop, which keeps a flood of appends cheap. A view that
// stands at the end follows the newest line.
class CCaptureListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CCaptureListModel(QObject* parent = nullptr);

    void AttachView(QListView* view, bool backToLeftEdge);
    void Append(const QByteArray& line);
    void Clear();
    // Every line appended, also those the view has not been shown yet.
    const CCaptureLines& Lines() const { return m_lines; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Shows the pending lines to the view now.
    void Flush();

private:
    CCaptureLines m_lines;
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
