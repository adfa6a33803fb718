#pragma once

// Loopback peers for the transport tests: a TCP listener on a 127.0.0.x address of the test's own,
// and a pseudo-terminal published behind a COM name.

#include "transport/port_names.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

class CTestListener {
public:
    CTestListener(const char* address, int backlog = 8, int port = 48501) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &addr.sin_addr);
        m_bOk = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                ::listen(m_fd, backlog) == 0;
    }
    ~CTestListener() { ::close(m_fd); }
    bool IsListening() const { return m_bOk; }
    // Waits up to timeoutMs for a connection; -1 when none came.
    int Accept(int timeoutMs = 5000) {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            return -1;
        return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
    bool m_bOk = false;
};

// Waits up to timeoutMs for bytes on fd and appends what one read returns. Returns that count, 0 when
// the peer closed, -1 on silence or an error.
inline ssize_t ReadWithin(int fd, int timeoutMs, QByteArray& data) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0)
        return -1;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n > 0)
        data.append(buffer, n);
    return n < 0 ? -1 : n;
}

// Reads what arrives on fd until `count` bytes came or timeoutMs of silence passed.
inline QByteArray ReadFor(int fd, qsizetype count, int timeoutMs = 3000) {
    QByteArray data;
    while (data.size() < count && ReadWithin(fd, timeoutMs, data) > 0) {
    }
    return data;
}

inline void ResetAndClose(int fd) {
    linger lin{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lin, sizeof(lin));
    ::close(fd);
}

inline void WriteBytes(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

// A pseudo-terminal whose slave side is published as a COM name; the test talks on the master side.
class CTestPty {
public:
    explicit CTestPty(const QString& comName = QString()) {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        m_slavePath = ::ptsname(m_master);
        // Held open so that the master stays usable while the program under test closes its side.
        m_slave = ::open(m_slavePath.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        if (comName.isEmpty())
            return; // the test puts it where it wants
        Publish(comName, m_slavePath);
        m_strLink = PortsFolder() + QLatin1Char('/') + comName;
    }
    ~CTestPty() {
        CloseMaster();
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_strLink.isEmpty())
            return;
        // Masked again, never left to fall back on a real device.
        QFile::remove(m_strLink);
        ::symlink(NOWHERE, QFile::encodeName(m_strLink).constData());
    }
    static constexpr const char* NOWHERE = "/nonexistent/no-such-device";
    static void Publish(const QString& comName, const QByteArray& target) {
        QDir().mkpath(PortsFolder());
        const QString link = PortsFolder() + QLatin1Char('/') + comName;
        QFile::remove(link);
        ::symlink(target.constData(), QFile::encodeName(link).constData());
    }
    void CloseMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    int Master() const { return m_master; }
    const QByteArray& SlavePath() const { return m_slavePath; }
    int Slave() const { return m_slave; }
    termios SlaveSettings() const {
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        return tio;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QByteArray m_slavePath;
    QString m_strLink;
};

// Puts dangling entries behind COM1..COM14 so that no test ever opens a real serial device.
inline void MaskAllComPorts() {
    for (int n = 1; n <= 14; ++n)
        CTestPty::Publish(QStringLiteral("COM%1").arg(n), CTestPty::NOWHERE);
}
