#pragma once

#include "transport/socket_compat.h"

#include <QByteArray>
#include <QString>

// What the simulator does differently by platform (sim_platform_posix.cpp, sim_platform_win.cpp).

// Ctrl+C, SIGTERM (and on Windows Ctrl+Break) call `handler`.
void SimCatchStopSignals(void (*handler)(int));
// A listening or accepted socket, not inherited by programs started later.
SocketHandle SimOpenSocket(int family);
SocketHandle SimAccept(SocketHandle listener, sockaddr_storage* peer, socklen_t* length);
// Waits for any of the handles (fd, events, revents as poll has them); -1 on an error.
struct SSimPoll {
    SocketHandle fd;
    short events;
    short revents;
};
int SimPoll(SSimPoll* fds, size_t count, int timeoutMs);
// The wait was cut short by a signal: not an error.
bool SimInterrupted();
// Reads from a socket, or from the serial side (isSocket false); 0 at its end, -1 on an error, and
// -2 when nothing is there now (try again later).
long SimRead(SocketHandle fd, bool isSocket, char* buffer, size_t size);
// Writes what it can; the count written, or -1.
long SimWrite(SocketHandle fd, const char* data, size_t size);
constexpr short SIM_POLLIN = 0x0001;
constexpr short SIM_POLLERR = 0x0008;
constexpr short SIM_POLLHUP = 0x0010;

// Whether --serial can be served here (not on Windows: no pseudo-terminals).
bool SimCanServeSerial();

// The serial side: a pseudo-terminal published as a COM name in the ports folder.
class CSimSerial {
public:
    CSimSerial() = default;
    CSimSerial(const CSimSerial&) = delete;
    CSimSerial& operator=(const CSimSerial&) = delete;
    ~CSimSerial();
    // False with the message to print and the exit status.
    bool Open(const QString& comName, QString& error, int& status);
    SocketHandle Handle() const { return m_hHandle; }
    QByteArray Description() const { return m_description; }

private:
    SocketHandle m_hHandle = SOCKET_INVALID;
    SocketHandle m_hSlave = SOCKET_INVALID;
    QString m_strPublished;
    QByteArray m_description;
};
