#include "app/tool_tip_style.h"

#include <QApplication>

int CToolTipStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    if (hint == SH_ToolTip_WakeUpDelay)
        return TOOLTIP_DELAY_MS;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void InstallToolTipStyle() {
    if (!qobject_cast<CToolTipStyle*>(QApplication::style()))
        QApplication::setStyle(new CToolTipStyle); // the application takes it over
}
