#include "transport/port_names.h"

#include "app/app_settings.h"
#include "app/emulator_app.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>

QString PortsFolder() {
    return ProfileFolder() + QStringLiteral("/ports");
}

QString PortDeviceName(const QString& comName) {
    if (!comName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return QString();
    const int number = AtoiLike(comName.mid(3));
    return number < 1 ? QString() : PortDeviceOf(comName, number);
}

QString PortDeviceName(int portNumber) {
    return PortDeviceName(QStringLiteral("COM%1").arg(portNumber));
}

QString SerialByIdFolder() {
    const QString folder = qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID");
    // Absolute, so that the links made to it hold from any folder.
    return folder.isEmpty() ? QStringLiteral("/dev/serial/by-id") : QDir(folder).absolutePath();
}

std::vector<SPresentPort> PresentComPorts() {
    static const QRegularExpression name(QStringLiteral("\\ACOM([1-9][0-9]{0,2})\\z"),
                                         QRegularExpression::CaseInsensitiveOption);
    std::vector<SPresentPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QRegularExpressionMatch match = name.match(info.portName());
        if (match.hasMatch() && match.captured(1).toInt() <= 255)
            ports.push_back({match.captured(1).toInt(), info.description()});
    }
    std::sort(ports.begin(), ports.end(),
              [](const SPresentPort& a, const SPresentPort& b) { return a.nNumber < b.nNumber; });
    return ports;
}

std::vector<SPresentPort> OfferedComPorts() {
    std::vector<SPresentPort> offered;
    const std::vector<SPresentPort> present = PresentComPorts();
    for (int n = 1; n <= PORT_LAST_NAME; ++n) {
        const auto found = std::find_if(present.begin(), present.end(),
                                        [n](const SPresentPort& port) { return port.nNumber == n; });
        offered.push_back({n, found == present.end() ? QString() : found->strDescription});
    }
    for (const SPresentPort& port : present) {
        if (port.nNumber > PORT_LAST_NAME)
            offered.push_back(port);
    }
    return offered;
}
