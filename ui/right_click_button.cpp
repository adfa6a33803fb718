#include "ui/right_click_button.h"

#include <QKeyEvent>
#include <QMouseEvent>

CRightClickButton::CRightClickButton(QWidget* parent) : QPushButton(parent) {
    // The right button belongs to the step, not to a context menu.
    setContextMenuPolicy(Qt::PreventContextMenu);
}

void CRightClickButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) {
        QPushButton::mousePressEvent(event);
        return;
    }
    if (!m_bRightDown && parentWidget()) {
        m_bRightDown = 1;
        setDown(true);
    }
    event->accept(); // keeps the mouse until the release
}

void CRightClickButton::mouseMoveEvent(QMouseEvent* event) {
    if (m_bRightDown) {
        setDown(rect().contains(event->position().toPoint()));
        event->accept();
        return;
    }
    QPushButton::mouseMoveEvent(event);
}

void CRightClickButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton) {
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    if (m_bRightDown) {
        m_bRightDown = 0;
        setDown(false);
        if (rect().contains(event->position().toPoint()) && parentWidget())
            emit StepRequested();
    }
    event->accept();
}

void CRightClickButton::RequestStep() {
    if (isEnabled() && parentWidget())
        emit StepRequested();
}

void CRightClickButton::keyPressEvent(QKeyEvent* event) {
    const bool menuKey = event->key() == Qt::Key_Menu ||
                         (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (!menuKey) {
        QPushButton::keyPressEvent(event);
        return;
    }
    RequestStep();
    event->accept();
}
