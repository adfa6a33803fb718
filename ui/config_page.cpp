#include "ui/config_page.h"

#include <QEvent>
#include <QKeyEvent>

CConfigPage::CConfigPage(CAppSettings* settings, QWidget* parent)
    : QWidget(parent), m_pSettings(settings), m_pOwner(parent) {}

void CConfigPage::ShowPage(bool show) {
    if (show)
        OnPageShow();
    setVisible(show);
}

void CConfigPage::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    case Qt::Key_Escape:
        event->ignore(); // the host window's: it asks whether to quit, from whatever has the focus
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void CConfigPage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        OnEnable(isEnabled());
}
