#pragma once

#include <QPushButton>

// A push button that also answers a completed right click: pressed and released over the button,
// it asks for one step. It looks pushed while the right button is held over it.
class CRightClickButton : public QPushButton {
    Q_OBJECT
public:
    explicit CRightClickButton(QWidget* parent = nullptr);

    int m_bRightDown = 0;

signals:
    void StepRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
