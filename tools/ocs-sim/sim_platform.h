#pragma once

#include "transport/socket_compat.h"

#include <QByteArray>
#include <QString>
#include <vector>

// What the simulator does differently by platform (sim_platform_posix.cpp, sim_platform_win.cpp).

// Ctrl+C, SIGTERM (and on Windows Ctrl+Break) call `handler`.
void SimCatchStopSignals(void (*handler)(int));
// A listening or accepted socket, not inherited by programs started later.
SocketHandle SimOpenSocket(int family);
SocketHandle SimAccept(SocketHandle listener, sockaddr_storage* peer, socklen_t* length);
constexpr short SIM_POLLIN = 0x0001;
constexpr short SIM_POLLERR = 0x0008;
constexpr short SIM_POLLHUP = 0x0010;
// Waits for any of the handles (fd, events, revents as poll has them); -1 on an error.
struct SSimPoll {
    SocketHandle fd;
    short events;
    short revents;
};
int SimPoll(SSimPoll* fds, size_t count, int timeoutMs);
// SimPoll over the platform's own poll and its flag values.
template <typename Native, typename Poll>
int SimPollWith(SSimPoll* fds, size_t count, Poll poll, short in, short err, short hup) {
    std::vector<Native> native(count);
    for (size_t i = 0; i < count; ++i)
        native[i] = {fds[i].fd, short(fds[i].events & SIM_POLLIN ? in : 0), 0};
    const int ready = poll(native.data());
    for (size_t i = 0; i < count; ++i) {
        const short r = native[i].revents;
        fds[i].revents =
            short((r & in ? SIM_POLLIN : 0) | (r & err ? SIM_POLLERR : 0) | (r & hup ? SIM_POLLHUP : 0));
    }
    return ready;
}
// The wait was cut short by a signal: not an error.
bool SimInterrupted();
// Reads from a socket, or from the serial side (isSocket false); 0 at its end, -1 on an error, and
// -2 when nothing is there now (try again later).
long SimRead(SocketHandle fd, bool isSocket, char* buffer, size_t size);
// Writes what it can; the count written, or -1.
long SimWrite(SocketHandle fd, const char* data, size_t size);

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
