// COM names on Windows: Windows names the ports itself.
#include "transport/port_names.h"

#include "app/app_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

QString PortDeviceName(const QString& comName) {
    if (!comName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return QString();
    const int number = AtoiLike(comName.mid(3));
    if (number < 1)
        return QString();
    return comName;
}

void AssignAdapterPorts() {}

QString PortAdapter(const QString&) {
    return QString();
}

std::vector<int> AdapterPortNumbers() {
    std::vector<int> numbers;
    for (const SPresentPort& port : PresentComPorts())
        numbers.push_back(port.nNumber);
    return numbers;
}
