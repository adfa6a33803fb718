#pragma once

#include <QProxyStyle>

// Tooltips come up after this long everywhere in the program (Qt's own default is 700 ms).
constexpr int TOOLTIP_DELAY_MS = 1500;

// The application's style: the program's tooltip delay, and a focus mark on every push button,
// also the flat ones that show only a picture, that differs from any unfocused look (the default
// button's frame included).
class CProgramStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

// Puts CProgramStyle in place for the whole application, once; call before any window is made.
void InstallProgramStyle();
