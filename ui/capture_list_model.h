#pragma once

#include "capture/capture_list.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QTimer>

class QListView;

// A capture list as a model for a list view. Lines are stored at once and shown to the view in
// batches on the next turn of the event loop, which keeps a flood of appends cheap. A view that
// stands at the end follows the newest line.
class CCaptureListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CCaptureListModel(QObject* parent = nullptr);

    // `plural` names new lines when several are said at once ("replies").
    void AttachView(QListView* view, bool backToLeftEdge, const QString& plural = QStringLiteral("lines"));
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
    // Where the lines are kept, for a capture folder to give it its journal (CCaptureJournal::Attach).
    CCaptureLines& Storage() { return m_lines; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Shows the pending lines to the view now.
    void Flush();

signals:
    // The journal stopped taking lines; the list goes on in memory. Emitted once.
    void JournalFailed(const QString& reason);

private:
    void CommitJournal();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // By ear: the lines that came while the list has the focus, at most once a second.
    void SayNewLines();

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
    QTimer m_sayTimer;
    int m_nUnsaid = 0;
    QString m_strPlural;
    static constexpr int FLUSH_INTERVAL_MS = 50;
};
