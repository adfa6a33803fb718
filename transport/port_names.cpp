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

QString SerialByIdFolder() {
    const QString folder = qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID");
    return folder.isEmpty() ? QStringLiteral("/dev/serial/by-id") : folder;
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

#ifdef Q_OS_WIN

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

#else

namespace {
QString AdapterPath(const QString& id) {
    return SerialByIdFolder() + QLatin1Char('/') + id;
}
} // namespace

void AssignAdapterPorts() {
    const QDir byId(SerialByIdFolder());
    // Adapters as udev lists them: links to the devices that are there now.
    QStringList adapters;
    for (const QFileInfo& entry :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (entry.exists())
            adapters << entry.fileName();
    }
    if (adapters.isEmpty())
        return;
    const QString ports = PortsFolder();
    // What the ports folder names already: by the link's own text, and by the device it leads to.
    QStringList targets, devices;
    for (int n = 1; n <= PORT_LAST_NAME; ++n) {
        const QFileInfo entry(ports + QStringLiteral("/COM%1").arg(n));
        targets << entry.symLinkTarget();
        devices << entry.canonicalFilePath();
    }
    for (const QString& id : adapters) {
        const QString path = AdapterPath(id);
        const QString device = QFileInfo(path).canonicalFilePath();
        if (targets.contains(path) || (!device.isEmpty() && devices.contains(device)))
            continue; // named already, by hand or by an earlier start
        for (int n = PORT_FIRST_ADAPTER_NAME; n <= PORT_LAST_NAME; ++n) {
            const QString link = ports + QStringLiteral("/COM%1").arg(n);
            const QFileInfo entry(link);
            if (entry.exists() || entry.isSymLink())
                continue;
            QDir().mkpath(ports);
            if (QFile::link(path, link)) {
                targets[n - 1] = path;
                devices[n - 1] = device;
            }
            break;
        }
    }
}

QString PortAdapter(const QString& comName) {
    const QString number = comName.mid(3);
    if (!comName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) || AtoiLike(number) < 1)
        return QString();
    const QFileInfo entry(PortsFolder() + QStringLiteral("/COM%1").arg(AtoiLike(number)));
    if (!entry.isSymLink())
        return QString();
    const QFileInfo target(entry.symLinkTarget());
    if (target.absolutePath() != QFileInfo(SerialByIdFolder()).absoluteFilePath())
        return QString();
    return target.fileName();
}

std::vector<int> AdapterPortNumbers() {
    std::vector<int> numbers;
    for (int n = 1; n <= PORT_LAST_NAME; ++n) {
        if (!PortAdapter(QStringLiteral("COM%1").arg(n)).isEmpty())
            numbers.push_back(n);
    }
    return numbers;
}

#endif
