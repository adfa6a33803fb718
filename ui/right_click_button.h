#pragma once

#include <QPushButton>

// A push button that also answers a completed right click: pressed and released over the button,
// it asks for one step. It looks pushed while the right button is held over it. From the keyboard,
// Shift+F10 and the Menu key do what the right click does.
class CRightClickButton : public QPushButton {
    Q_OBJECT
public:
    explicit CRightClickButton(QWidget* parent = nullptr);

    int m_bRightDown = 0;

    // Asks for one step as a right click does, when the button can be used (keyboard, screen reader).
    void RequestStep();

signals:
    void StepRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
