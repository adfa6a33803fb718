#include "capture/capture_list.h"

#include <QFontMetrics>
#include <QListView>
#include <QScrollBar>
#include <QTimer>
#include <climits>

void CCaptureLines::Append(const QByteArray& line) {
    if (m_blocks.empty() || m_blocks.back().size() + line.size() > BLOCK_SIZE) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(std::max(BLOCK_SIZE, line.size()));
    }
    QByteArray& block = m_blocks.back();
    m_lines.push_back(
        {static_cast<quint32>(m_blocks.size() - 1), static_cast<quint32>(block.size()), line.size()});
    block.append(line);
    m_nLongest = std::max(m_nLongest, line.size());
}

void CCaptureLines::Clear() {
    m_blocks.clear();
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_nLongest = 0;
}

QByteArray CCaptureLines::Line(qsizetype index) const {
    if (index < 0 || index >= Count())
        return QByteArray();
    const SLineRef& ref = m_lines[static_cast<size_t>(index)];
    return m_blocks[ref.nBlock].mid(ref.nOffset, ref.nLength);
}

CCaptureListModel::CCaptureListModel(QObject* parent) : QAbstractListModel(parent) {}

void CCaptureListModel::AttachView(QListView* view, bool backToLeftEdge) {
    m_pView = view;
    m_bBackToLeft = backToLeftEdge;
    const QFontMetrics metrics(view->font());
    m_nCharWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_nRowHeight = metrics.height() + 2;
    view->setModel(this);
}

void CCaptureListModel::Append(const QByteArray& line) {
    m_lines.Append(line);
    if (!m_bFlushPending) {
        m_bFlushPending = true;
        // A list that keeps growing is shown at most every few frames; a quiet one at once.
        const bool busy = m_flushClock.isValid() && m_flushClock.elapsed() < FLUSH_INTERVAL_MS;
        QTimer::singleShot(busy ? FLUSH_INTERVAL_MS : 0, this, &CCaptureListModel::Flush);
    }
}

void CCaptureListModel::Clear() {
    beginResetModel();
    m_lines.Clear();
    m_nShown = 0;
    m_nHintWidth = 0;
    endResetModel();
}

void CCaptureListModel::Flush() {
    m_bFlushPending = false;
    m_flushClock.start();
    const qsizetype total = std::min<qsizetype>(m_lines.Count(), INT_MAX);
    if (total <= m_nShown)
        return;
    QScrollBar* bar = m_pView ? m_pView->verticalScrollBar() : nullptr;
    const bool atEnd = !bar || bar->value() >= bar->maximum();
    beginInsertRows(QModelIndex(), m_nShown, static_cast<int>(total - 1));
    m_nShown = static_cast<int>(total);
    endInsertRows();
    if (!m_pView)
        return;
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
