// COM names on Windows: Windows names the ports itself.
#include "transport/port_names.h"

#include "app/app_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

// Windows opens every COM name as it is.
QString PortDeviceOf(const QString& comName, int) {
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
