// COM names elsewhere: the ports folder, the by-id adapters, /dev/ttyS.
#include "transport/port_names.h"

#include "app/app_settings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

// A link in the ports folder, else the built-in port that Linux numbers from 0.
QString PortDeviceOf(const QString& comName, int number) {
    const QString entry = PortsFolder() + QLatin1Char('/') + comName;
    const QFileInfo info(entry);
    if (info.exists() || info.isSymLink())
        return entry;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

// A character device behind the name: a regular file or a FIFO is no port.
bool PortPresent(const QString& comName) {
    const QString device = PortDeviceName(comName);
    struct stat info {};
    return !device.isEmpty() && ::stat(QFile::encodeName(device).constData(), &info) == 0 &&
           S_ISCHR(info.st_mode);
}

bool SerialTakesOneAndHalfStopBits() {
    return false;
}

// Told by what the device is, and what the system lets this user do with it; nothing is opened, so a
// program that holds the port is not disturbed.
QString PortOpenProblem(const QString& device, int serialPortError, const QString& systemText) {
    const QByteArray path = QFile::encodeName(device);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return errno == EACCES ? QStringLiteral("permission denied")
                               : QStringLiteral("no such device (not plugged in?)");
    if (!S_ISCHR(info.st_mode) || systemText.contains(QLatin1String("Inappropriate ioctl")))
        return QStringLiteral("not a serial device");
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0) // as this program runs
        return QStringLiteral("permission denied (add your user to the dialout group)");
    if (serialPortError == QSerialPort::PermissionError) // EBUSY, or the lock of another program
        return QStringLiteral("in use by another program");
    return systemText;
}

namespace {
QString AdapterPath(const QString& id) {
    return SerialByIdFolder() + QLatin1Char('/') + id;
}
} // namespace

namespace {
// The names this program gave, one a line: only these are ever given again to another adapter.
QString GivenNamesFile() {
    return PortsFolder() + QStringLiteral("/.given-names");
}
QStringList ReadGivenNames() {
    QFile file(GivenNamesFile());
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
void WriteGivenNames(const QStringList& names) {
    QFile file(GivenNamesFile());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(names.join(QLatin1Char('\n')).toLatin1() + '\n');
}
// The link's own time says when its adapter was last seen.
void MarkSeen(const QString& link) {
    ::utimensat(AT_FDCWD, QFile::encodeName(link).constData(), nullptr, AT_SYMLINK_NOFOLLOW);
}
qint64 LastSeen(const QString& link) {
    struct stat info {};
    if (::lstat(QFile::encodeName(link).constData(), &info) != 0)
        return 0;
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}
bool IsCharacterDevice(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}
} // namespace

QStringList AssignAdapterPorts() {
    // The lanes of a lab waiting for their adapters ask from their own threads.
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    const QDir byId(SerialByIdFolder());
    // Adapters as udev lists them: links to the devices that are there now.
    QStringList adapters;
    for (const QFileInfo& entry :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        if (IsCharacterDevice(entry.filePath()))
            adapters << entry.fileName();
    }
    QStringList notes;
    if (adapters.isEmpty())
        return notes;
    const QString ports = PortsFolder();
    QStringList given = ReadGivenNames();
    const int givenBefore = int(given.size());
    // What the ports folder names already: by the link's own text, and by the device it leads to.
    QStringList targets, devices;
    for (int n = 1; n <= PORT_LAST_NAME; ++n) {
        const QString link = ports + QStringLiteral("/COM%1").arg(n);
        const QFileInfo entry(link);
        targets << entry.symLinkTarget();
        devices << entry.canonicalFilePath();
        if (given.contains(entry.fileName()) && entry.exists())
            MarkSeen(link);
    }
    for (const QString& id : adapters) {
        const QString path = AdapterPath(id);
        const QString device = QFileInfo(path).canonicalFilePath();
        if (targets.contains(path) || (!device.isEmpty() && devices.contains(device)))
            continue; // named already, by hand or by an earlier start
        int chosen = 0;
        for (int n = PORT_FIRST_ADAPTER_NAME; n <= PORT_LAST_NAME && !chosen; ++n) {
            const QFileInfo entry(ports + QStringLiteral("/COM%1").arg(n));
            if (!entry.exists() && !entry.isSymLink())
                chosen = n;
        }
        QString note;
        if (!chosen) { // none free: the name of ours whose adapter has been away longest
            qint64 oldest = 0;
            for (int n = PORT_FIRST_ADAPTER_NAME; n <= PORT_LAST_NAME; ++n) {
                const QString link = ports + QStringLiteral("/COM%1").arg(n);
                const QFileInfo entry(link);
                const qint64 seen = LastSeen(link);
                if (given.contains(entry.fileName()) && entry.isSymLink() && !entry.exists() &&
                    (!chosen || seen < oldest)) {
                    chosen = n;
                    oldest = seen;
                }
            }
            if (!chosen)
                continue; // every name is taken by an adapter here now, or by hand
            const QString link = ports + QStringLiteral("/COM%1").arg(chosen);
            note = QStringLiteral("COM%1 now names the adapter %2; it named %3, not seen since %4")
                       .arg(chosen)
                       .arg(id, QFileInfo(targets[chosen - 1]).fileName(),
                            QDateTime::fromMSecsSinceEpoch(oldest / 1000000)
                                .toString(QStringLiteral("yyyy-MM-dd HH:mm")));
            QFile::remove(link);
        }
        const QString link = ports + QStringLiteral("/COM%1").arg(chosen);
        QDir().mkpath(ports);
        if (!QFile::link(path, link))
            continue;
        MarkSeen(link);
        targets[chosen - 1] = path;
        devices[chosen - 1] = device;
        if (!given.contains(QStringLiteral("COM%1").arg(chosen)))
            given << QStringLiteral("COM%1").arg(chosen);
        if (!note.isEmpty())
            notes << note;
    }
    if (given.size() != givenBefore)
        WriteGivenNames(given);
    KeepAdapterNotes(notes);
    return notes;
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
