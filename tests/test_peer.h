#pragma once

// Loopback peers for the transport tests: a TCP listener on a 127.0.0.x address of the test's own,
// and a pseudo-terminal published behind a COM name.

#include "test_support.h"
#include "transport/port_names.h"

#include "transport/socket_compat.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

// A connection the test holds: a socket, or (POSIX) the master side of a pseudo-terminal.
using PeerHandle = SocketHandle;
constexpr PeerHandle PEER_NONE = SOCKET_INVALID;

namespace test_peer {
#ifdef _WIN32
inline long ReadSome(PeerHandle fd, char* buffer, int size) {
    return recv(fd, buffer, size, 0);
}
inline long WriteSome(PeerHandle fd, const char* data, int size) {
    return send(fd, data, size, 0);
}
#else
// read/write rather than recv/send: a pseudo-terminal's master is no socket.
inline long ReadSome(PeerHandle fd, char* buffer, int size) {
    return long(::read(fd, buffer, size_t(size)));
}
inline long WriteSome(PeerHandle fd, const char* data, int size) {
    return long(::write(fd, data, size_t(size)));
}
#endif
} // namespace test_peer

// Closes a socket, or (POSIX) a pseudo-terminal's master: there the same call serves both.
inline void ClosePeer(PeerHandle fd) {
    SocketCloseHandle(fd);
}

class CTestListener {
public:
    // A receive buffer (bytes, 0: the system's) keeps what a peer that never reads can hold small.
    CTestListener(const char* address, int backlog = 8, int port = 48501, int receiveBuffer = 0) {
        static const bool started = SocketStartup();
        Q_UNUSED(started);
#ifdef _WIN32
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
#else
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
#endif
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &addr.sin_addr);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                         sizeof(receiveBuffer));
        m_bOk = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                ::listen(m_fd, backlog) == 0;
        // A busy address on a shared host fails the test with that reason, not as a fault of ours.
        if (!m_bOk)
            QTest::qFail(qPrintable(QStringLiteral("cannot listen on %1:%2 (error %3): another program holds "
                                                   "the address, or it is not this host's")
                                        .arg(QLatin1String(address))
                                        .arg(port)
                                        .arg(SocketLastError())),
                         __FILE__, __LINE__);
    }
    ~CTestListener() {
        ClosePeer(m_fd);
    }
    bool IsListening() const {
        return m_bOk;
    }
    // Waits up to timeoutMs for a connection; PEER_NONE when none came.
    PeerHandle Accept(int timeoutMs = 5000) {
        if (!m_bOk || !SocketWaitReadable(m_fd, TestTimeout(timeoutMs)))
            return PEER_NONE;
#ifdef _WIN32
        return ::accept(m_fd, nullptr, nullptr);
#else
        return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
#endif
    }

private:
    PeerHandle m_fd = PEER_NONE;
    bool m_bOk = false;
};

// Waits up to timeoutMs for bytes on fd and appends what one read returns. Returns that count, 0 when
// the peer closed, -1 on silence or an error.
inline long ReadWithin(PeerHandle fd, int timeoutMs, QByteArray& data) {
    if (!SocketWaitReadable(fd, timeoutMs))
        return -1;
    char buffer[4096];
    const long n = test_peer::ReadSome(fd, buffer, int(sizeof(buffer)));
    if (n > 0)
        data.append(buffer, n);
    return n < 0 ? -1 : n;
}

// Reads what arrives on fd until `count` bytes came or timeoutMs of silence passed.
inline QByteArray ReadFor(PeerHandle fd, qsizetype count, int timeoutMs = 3000) {
    QByteArray data;
    while (data.size() < count && ReadWithin(fd, timeoutMs, data) > 0) {
    }
    return data;
}

inline void ResetAndClose(PeerHandle fd) {
    linger lin{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lin), sizeof(lin));
    ClosePeer(fd);
}

inline void WriteBytes(PeerHandle fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const long n = test_peer::WriteSome(fd, data.constData() + done, int(data.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

// The line settings a serial peer sees, decoded from the terminal's attributes.
struct SLineSettings {
    int nBaud = 0; // bits per second, 0 when not one of the usual rates
    bool bTwoStopBits = false;
    bool bHardwareFlow = false;
    bool bXonOut = false; // IXON
    bool bXoffIn = false; // IXOFF
};

#ifndef _WIN32
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
    SLineSettings SlaveSettings() const {
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        static const std::pair<speed_t, int> rates[] = {{B1200, 1200},   {B2400, 2400},    {B4800, 4800},
                                                        {B9600, 9600},   {B19200, 19200},  {B38400, 38400},
                                                        {B57600, 57600}, {B115200, 115200}};
        SLineSettings line;
        for (const auto& [code, baud] : rates)
            if (cfgetospeed(&tio) == code)
                line.nBaud = baud;
        line.bTwoStopBits = tio.c_cflag & CSTOPB;
        line.bHardwareFlow = tio.c_cflag & CRTSCTS;
        line.bXonOut = tio.c_iflag & IXON;
        line.bXoffIn = tio.c_iflag & IXOFF;
        return line;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QByteArray m_slavePath;
    QString m_strLink;
};
#define SKIP_WITHOUT_PTY()                                                                                   \
    do {                                                                                                     \
    } while (false)
#else
// Windows has no pseudo-terminals: tests of a serial peer begin with SKIP_WITHOUT_PTY() and end there.
class CTestPty {
public:
    explicit CTestPty(const QString& = QString()) {}
    static constexpr const char* NOWHERE = "";
    static void Publish(const QString&, const QByteArray&) {}
    void CloseMaster() {}
    PeerHandle Master() const { return PEER_NONE; }
    QByteArray SlavePath() const { return QByteArray(); }
    SLineSettings SlaveSettings() const { return SLineSettings(); }
};
#define SKIP_WITHOUT_PTY() QSKIP("no pseudo-terminals on Windows")
#endif

// Puts dangling entries behind COM1..COM14 so that no test ever opens a real serial device.
inline void MaskAllComPorts() {
    for (int n = 1; n <= 14; ++n)
        CTestPty::Publish(QStringLiteral("COM%1").arg(n), CTestPty::NOWHERE);
}

// Keeps reading what a peer receives, so that tests can wait for bytes without blocking the program.
class CPeerReader {
public:
    explicit CPeerReader(PeerHandle fd) : m_fd(fd) {}
    QByteArray& Data() {
        while (ReadWithin(m_fd, 0, m_data) > 0) {
        }
        return m_data;
    }

private:
    PeerHandle m_fd;
    QByteArray m_data;
};

// Answers on the master side of a pseudo-terminal: for the n-th ENQ, whatever `answer` returns, given
// the baud rate the slave side was set to.
class CSerialPeer {
public:
    using Answer = std::function<QByteArray(int enqIndex, int baud)>;
    CSerialPeer(CTestPty& pty, Answer answer) : m_pty(pty), m_answer(std::move(answer)) {
        m_thread = std::thread([this] { Run(); });
    }
    ~CSerialPeer() {
        m_bStop = true;
        m_thread.join();
    }
    int EnqCount() const { return m_nEnq; }

private:
    void Run() {
        while (!m_bStop) {
            QByteArray buffer;
            if (ReadWithin(m_pty.Master(), 20, buffer) <= 0)
                continue;
            for (const char byte : std::as_const(buffer)) {
                if (byte != 0x05)
                    continue;
                const QByteArray reply = m_answer(m_nEnq++, m_pty.SlaveSettings().nBaud);
                WriteBytes(m_pty.Master(), reply);
            }
        }
    }
    CTestPty& m_pty;
    Answer m_answer;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nEnq{0};
    std::thread m_thread;
};
