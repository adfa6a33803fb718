#include "ui/capture_list_model.h"

#include "ui/accessibility.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QListView>
#include <QScrollBar>
#include <climits>

CCaptureListModel::CCaptureListModel(QObject* parent) : QAbstractListModel(parent) {
    m_syncTimer.setSingleShot(true);
    connect(&m_syncTimer, &QTimer::timeout, this, [this] { m_lines.SyncToDisk(); });
    m_sayTimer.setSingleShot(true);
    connect(&m_sayTimer, &QTimer::timeout, this, [this] {
        if (m_nUnsaid > 0 && m_pView && m_pView->hasFocus())
            SayNewLines();
        else
            m_nUnsaid = 0; // the focus has moved on: what came is no news there
    });
}

void CCaptureListModel::AttachView(QListView* view, bool backToLeftEdge, const QString& plural) {
    m_pView = view;
    m_bBackToLeft = backToLeftEdge;
    m_strPlural = plural;
    view->installEventFilter(this);
    const QFontMetrics metrics(view->font());
    m_nCharWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_nRowHeight = metrics.height() + 2;
    view->setModel(this);
}

bool CCaptureListModel::AttachJournal(const QString& path, QString* error) {
    return m_lines.AttachJournal(path, error);
}

void CCaptureListModel::Append(const QByteArray& line) {
    m_lines.Append(line);
    if (!m_bCommitPending && m_lines.IsJournaled()) {
        // The first line of a burst goes out at once (a [Tx] line before its bytes reach the wire),
        // the rest of the burst when the event loop comes round.
        m_lines.Commit();
        m_bCommitPending = true;
        QTimer::singleShot(0, this, &CCaptureListModel::CommitJournal);
    }
    if (!m_bFlushPending) {
        m_bFlushPending = true;
        // A list that keeps growing is shown at most every few frames; a quiet one at once.
        const bool busy = m_flushClock.isValid() && m_flushClock.elapsed() < FLUSH_INTERVAL_MS;
        QTimer::singleShot(busy ? FLUSH_INTERVAL_MS : 0, this, &CCaptureListModel::Flush);
    }
}

void CCaptureListModel::CommitJournal() {
    m_bCommitPending = false;
    m_lines.Commit();
    if (!m_lines.JournalError().isEmpty()) {
        if (!m_bFailureTold) {
            m_bFailureTold = true;
            emit JournalFailed(m_lines.JournalError());
        }
        return;
    }
    if (m_lines.IsJournaled() && !m_syncTimer.isActive())
        m_syncTimer.start(1000); // a power cut loses at most the last second
}

void CCaptureListModel::SyncToDisk() {
    CommitJournal();
    m_syncTimer.stop();
    m_lines.SyncToDisk();
}

void CCaptureListModel::Clear() {
    beginResetModel();
    m_lines.Clear();
    m_nShown = 0;
    m_nUnsaid = 0;
    m_nHintWidth = 0;
    endResetModel();
}

void CCaptureListModel::Flush() {
    m_bFlushPending = false;
    CommitJournal(); // a line is on its way to the disk before it is shown
    m_flushClock.start();
    const qsizetype total = std::min<qsizetype>(m_lines.Count(), INT_MAX);
    if (total <= m_nShown)
        return;
    QScrollBar* bar = m_pView ? m_pView->verticalScrollBar() : nullptr;
    const bool atEnd = !bar || bar->value() >= bar->maximum();
    beginInsertRows(QModelIndex(), m_nShown, static_cast<int>(total - 1));
    const int added = static_cast<int>(total) - m_nShown;
    m_nShown = static_cast<int>(total);
    endInsertRows();
    if (!m_pView)
        return;
    if (m_pView->hasFocus()) {
        m_nUnsaid += added;
        if (!m_sayTimer.isActive())
            SayNewLines();
    }
    // Every row shares the size of the longest line, so that the view can scroll to its end.
    const int width = data(index(0), Qt::SizeHintRole).toSize().width();
    if (width > m_nHintWidth) {
        m_nHintWidth = width;
        m_pView->doItemsLayout();
    }
    if (atEnd)
        m_pView->scrollToBottom();
    if (m_bBackToLeft)
        m_pView->horizontalScrollBar()->setValue(0);
}

void CCaptureListModel::SayNewLines() {
    if (m_nShown == 0)
        return;
    // One line is read as it is (without its time); more are counted.
    const QString said = m_nUnsaid == 1 ? QString::fromLatin1(m_lines.Line(m_nShown - 1).mid(12)).simplified()
                                        : QStringLiteral("%1 new %2").arg(m_nUnsaid).arg(m_strPlural);
    m_nUnsaid = 0;
    Announce(m_pView, said);
    m_sayTimer.start(1000);
}

// Arriving on a list reads the line the cursor is on (the first, on a list not visited yet): a list's
// focus alone is heard as "list with 15 items", and the first Down would skip line 1 unheard.
bool CCaptureListModel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pView && event->type() == QEvent::FocusIn && m_nShown > 0) {
        QTimer::singleShot(0, this, [this] {
            if (!m_pView || !m_pView->hasFocus())
                return;
            QModelIndex current = m_pView->currentIndex();
            if (!current.isValid()) {
                current = index(0);
                m_pView->selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
            }
            QAccessibleEvent focus(m_pView, QAccessible::Focus);
            focus.setChild(current.row());
            QAccessible::updateAccessibility(&focus);
        });
    }
    return QAbstractListModel::eventFilter(watched, event);
}

int CCaptureListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_nShown;
}

QVariant CCaptureListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_nShown)
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromLatin1(m_lines.Line(index.row()));
    if (role == Qt::SizeHintRole) {
        const qsizetype width = std::min<qsizetype>(m_lines.LongestLine() * m_nCharWidth + 8, 1'000'000);
        return QSize(std::max<int>(1300, static_cast<int>(width)), m_nRowHeight);
    }
    return QVariant();
}
