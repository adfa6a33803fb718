#include "transport/port_names.h"

#include "app/app_settings.h"
#include "app/emulator_app.h"

#include <QDir>
#include <QFileInfo>

QString PortsFolder() {
    return ProfileFolder() + QStringLiteral("/ports");
}

QString PortDeviceName(const QString& comName) {
    if (!comName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return QString();
    const int number = AtoiLike(comName.mid(3));
    if (number < 1)
        return QString();
#ifdef Q_OS_WIN
    return comName;
#else
    const QString entry = PortsFolder() + QLatin1Char('/') + comName;
    const QFileInfo info(entry);
    if (info.exists() || info.isSymLink())
        return entry;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

QString PortDeviceName(int portNumber) {
    return PortDeviceName(QStringLiteral("COM%1").arg(portNumber));
}
