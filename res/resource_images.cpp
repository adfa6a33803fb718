#include "res/resource_images.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

static void InitResources() {
    Q_INIT_RESOURCE(resources);
}

QString ResourcePath(int id) {
    static const QHash<int, const char*> names = {
        {IDR_MAINFRAME, "128_program"},
        {IDI_ARROW_DOWN, "129_arrow_down"},
        {IDI_ARROW_UP, "130_arrow_up"},
        {IDB_WIZARD_HEADER, "132_wizard_header"},
        {IDI_TX_IDLE, "139_tx_idle"},
        {IDI_RX_IDLE, "140_rx_idle"},
        {IDI_NOT_CONFIGURED, "141_not_configured"},
        {IDI_NETWORK, "146_network"},
        {IDI_SERIAL, "147_serial"},
        {IDI_RX_ACTIVITY, "148_rx_activity"},
        {IDI_TX_ACTIVITY, "149_tx_activity"},
        {IDI_RX_ALARM, "151_rx_alarm"},
        {IDI_TX_ALARM, "152_tx_alarm"},
        {IDB_RUN, "154_run"},
        {IDB_STOP, "155_stop"},
        {IDB_RUN_OFF, "156_run_off"},
        {IDB_STOP_OFF, "157_stop_off"},
        {IDI_SAVE, "158_save"},
        {IDI_CONFIGURED, "159_configured"},
    };
    static const bool initialised = (InitResources(), true);
    Q_UNUSED(initialised);
    const auto it = names.find(id);
    if (it == names.end())
        return QString();
    return QStringLiteral(":/res/icons/%1.svg").arg(QLatin1String(it.value()));
}

QPixmap ResourcePixmap(int id, const QSize& size) {
    QSvgRenderer renderer(ResourcePath(id));
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    if (!renderer.isValid())
        return pixmap;
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QIcon ResourceIcon(int id) {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64})
        icon.addPixmap(ResourcePixmap(id, QSize(side, side)));
    return icon;
}
