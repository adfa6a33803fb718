#include "capture/capture_list.h"

#include <QFontMetrics>
#include <QListView>
#include <QScrollBar>
#include <QTimer>
#include <climits>

void CCaptureLines::Append(const QByteArray& line) {
    m_data.append(line);
    m_ends.push_back(m_data.size());
    m_nLongest = std::max(m_nLongest, line.size());
}

void CCaptureLines::Clear() {
    m_data.clear();
    m_data.squeeze();
    m_ends.clear();
    m_ends.shrink_to_fit();
    m_nLongest = 0;
}

QByteArray CCaptureLines::Line(qsizetype index) const {
    if (index < 0 || index >= Count())
        return QByteArray();
    const qsizetype begin = index == 0 ? 0 : m_ends[static_cast<size_t>(index - 1)];
    return m_data.mid(begin, m_ends[static_cast<size_t>(index)] - begin);
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
        QTimer::singleShot(0, this, &CCaptureListModel::Flush);
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
