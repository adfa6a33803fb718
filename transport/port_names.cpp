#include "transport/port_names.h"

#include "app/app_settings.h"
#include "app/emulator_app.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>
#include <mutex>
#include <utility>

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

namespace {
std::mutex& NotesMutex() {
    static std::mutex mutex;
    return mutex;
}
QStringList& PendingNotes() {
    static QStringList notes;
    return notes;
}
} // namespace

void KeepAdapterNotes(const QStringList& notes) {
    if (notes.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(NotesMutex());
    PendingNotes() << notes;
}

QStringList TakeAdapterNotes() {
    std::lock_guard<std::mutex> lock(NotesMutex());
    return std::exchange(PendingNotes(), QStringList());
}

QString PortDeviceShown(const QString& comName) {
    const QFileInfo device(PortDeviceName(comName));
    return device.exists()      ? device.canonicalFilePath()
           : device.isSymLink() ? device.symLinkTarget()
                                : device.filePath();
}

QString PortWithDevice(const QString& comName) {
    const QString device = PortDeviceShown(comName);
    return device.isEmpty() || device == comName ? comName : QStringLiteral("%1 (%2)").arg(comName, device);
}

QString SerialByIdFolder() {
    const QString folder = qEnvironmentVariable("POS_EMULATOR_SERIAL_BY_ID");
    // Absolute, so that the links made to it hold from any folder.
    return folder.isEmpty() ? QStringLiteral("/dev/serial/by-id") : QDir(folder).absolutePath();
}

// Read without a regular expression: the detection worker reads port names, and a MinGW thread that has
// used one can crash as it ends (the matcher's per-thread stack is freed after its thread storage).
int ComNameNumber(const QString& name) {
    if (name.size() < 4 || name.size() > 6 || !name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ||
        name.at(3) == QLatin1Char('0'))
        return 0;
    int number = 0;
    for (const QChar c : name.mid(3)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        number = number * 10 + (c.unicode() - '0');
    }
    return number <= 255 ? number : 0;
}

std::vector<SPresentPort> PresentComPorts() {
    // Labelling a list asks once a name: the system is asked at most once in a short while.
    static std::mutex mutex;
    static QElapsedTimer age;
    static std::vector<SPresentPort> ports;
    std::lock_guard<std::mutex> lock(mutex);
    if (age.isValid() && age.elapsed() < 300)
        return ports;
    age.start();
    ports.clear();
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (const int number = ComNameNumber(info.portName()))
            ports.push_back({number, info.description()});
    }
    std::sort(ports.begin(), ports.end(),
              [](const SPresentPort& a, const SPresentPort& b) { return a.nNumber < b.nNumber; });
    return ports;
}

QString AdapterLabel(const QString& id) {
    static const QRegularExpression wrapping(
        QStringLiteral("\\A(usb|pci|platform)-|-if[0-9]+(-port[0-9]+)?\\z"));
    return QString(id).remove(wrapping).replace(QLatin1Char('_'), QLatin1Char(' '));
}

namespace {
// What the system says a port is (Windows), or empty.
QString SystemDescription(const QString& comName) {
    for (const SPresentPort& port : PresentComPorts()) {
        if (QStringLiteral("COM%1").arg(port.nNumber).compare(comName, Qt::CaseInsensitive) == 0)
            return port.strDescription;
    }
    return QString();
}
} // namespace

QString PortItemText(const QString& comName) {
    if (!PortPresent(comName))
        return comName + QStringLiteral(" - not connected");
    const QString adapter = PortAdapter(comName);
    const QString what = adapter.isEmpty() ? SystemDescription(comName) : AdapterLabel(adapter);
    return what.isEmpty() ? comName : comName + QStringLiteral(" - ") + what;
}

QStringList PortListing() {
    QStringList lines;
    for (const SPresentPort& port : OfferedComPorts()) {
        const QString name = QStringLiteral("COM%1").arg(port.nNumber);
        const QString adapter = PortAdapter(name);
        const QString shown = PortDeviceShown(name);
        lines << QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(name, shown.isEmpty() ? name : shown,
                          adapter.isEmpty() ? port.strDescription : AdapterLabel(adapter),
                          PortPresent(name) ? QStringLiteral("present") : QStringLiteral("not connected"));
    }
    return lines;
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
