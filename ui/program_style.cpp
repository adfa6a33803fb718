#include "ui/program_style.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionButton>

int CProgramStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    if (hint == SH_ToolTip_WakeUpDelay)
        return TOOLTIP_DELAY_MS;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void CProgramStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element != CE_PushButton || !(option->state & State_HasFocus))
        return;
    // A dotted ring inside the edge, in the text's colour: seen on a flat picture button too.
    painter->save();
    QPen pen(option->palette.color(QPalette::ButtonText), 1, Qt::DotLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option->rect.adjusted(3, 3, -4, -4));
    painter->restore();
}

void InstallProgramStyle() {
    if (!qobject_cast<CProgramStyle*>(QApplication::style()))
        QApplication::setStyle(new CProgramStyle); // the application takes it over
}
