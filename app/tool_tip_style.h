#pragma once

#include <QProxyStyle>

// Tooltips come up after this long everywhere in the program (Qt's own default is 700 ms).
constexpr int TOOLTIP_DELAY_MS = 1500;

// The application's style with the program's tooltip delay.
class CToolTipStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

// Puts CToolTipStyle in place for the whole application, once; call before any window is made.
void InstallToolTipStyle();
