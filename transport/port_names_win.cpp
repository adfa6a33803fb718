// COM names on Windows: Windows names the ports itself.
#include "transport/port_names.h"

#include "app/app_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>

// Windows opens every COM name as it is.
QString PortDeviceOf(const QString& comName, int) {
    return comName;
}

bool PortPresent(const QString& comName) {
    const std::vector<SPresentPort> present = PresentComPorts();
    return std::any_of(present.begin(), present.end(), [&comName](const SPresentPort& port) {
        return QStringLiteral("COM%1").arg(port.nNumber).compare(comName, Qt::CaseInsensitive) == 0;
    });
}

bool SerialTakesOneAndHalfStopBits() {
    return true;
}

// Windows answers a port another program holds with "access denied".
QString PortOpenProblem(const QString& device, int serialPortError, const QString& systemText) {
    if (serialPortError == QSerialPort::DeviceNotFoundError || !PortPresent(device))
        return QStringLiteral("no such device (not plugged in?)");
    if (serialPortError == QSerialPort::PermissionError)
        return QStringLiteral("in use by another program");
    return systemText;
}

QStringList AssignAdapterPorts() {
    return QStringList();
}

QString PortAdapter(const QString&) {
    return QString();
}

std::vector<int> AdapterPortNumbers() {
    std::vector<int> numbers;
    for (const SPresentPort& port : PresentComPorts())
        numbers.push_back(port.nNumber);
    return numbers;
}
