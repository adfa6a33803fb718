#include "sim_platform.h"

#include "app/app_settings.h"
#include "transport/port_names.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool SimCanServeSerial() {
    return true;
}

void SimCatchStopSignals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

SocketHandle SimOpenSocket(int family) {
    return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

SocketHandle SimAccept(SocketHandle listener, sockaddr_storage* peer, socklen_t* length) {
    return ::accept4(listener, reinterpret_cast<sockaddr*>(peer), length, SOCK_CLOEXEC);
}

int SimPoll(SSimPoll* fds, size_t count, int timeoutMs) {
    return SimPollWith<pollfd>(
        fds, count, [&](pollfd* native) { return ::poll(native, count, timeoutMs); }, POLLIN, POLLERR,
        POLLHUP);
}

bool SimInterrupted() {
    return errno == EINTR;
}

long SimRead(SocketHandle fd, bool isSocket, char* buffer, size_t size) {
    const ssize_t n = isSocket ? ::recv(fd, buffer, size, 0) : ::read(fd, buffer, size);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return -2;
    return long(n);
}

long SimWrite(SocketHandle fd, const char* data, size_t size) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) // the pseudo-terminal
        return long(::write(fd, data, size));
    return long(n);
}

CSimSerial::~CSimSerial() {
    if (m_hHandle == SOCKET_INVALID)
        return;
    QFile::remove(m_strPublished);
    ::close(m_hHandle);
    ::close(m_hSlave);
}

bool CSimSerial::Open(const QString& comName, QString& error, int& status) {
    status = 2;
    if (AtoiLike(comName.mid(3)) < 1 || !comName.startsWith(QLatin1String("COM"))) {
        error = QStringLiteral("'%1' is not a COM name").arg(comName);
        return false;
    }
    status = 1;
    m_hHandle = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_hHandle < 0 || ::grantpt(m_hHandle) != 0 || ::unlockpt(m_hHandle) != 0) {
        error = QStringLiteral("cannot create a pseudo-terminal: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QByteArray slavePath = ::ptsname(m_hHandle);
    // Holding the slave open keeps the master readable while the emulator closes and reopens it.
    m_hSlave = ::open(slavePath.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(m_hSlave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_hSlave, TCSANOW, &tio);
    ::fcntl(m_hHandle, F_SETFL, ::fcntl(m_hHandle, F_GETFL) | O_NONBLOCK);
    QDir().mkpath(PortsFolder());
    m_strPublished = PortsFolder() + QLatin1Char('/') + comName;
    QFile::remove(m_strPublished);
    if (::symlink(slavePath.constData(), QFile::encodeName(m_strPublished).constData()) != 0) {
        error = QStringLiteral("cannot publish %1: %2")
                    .arg(m_strPublished, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_description = comName.toLatin1() + " -> " + slavePath + " (" + QFile::encodeName(m_strPublished) + ")";
    return true;
}
