#include "sim_platform.h"

#include <csignal>

bool SimCanServeSerial() {
    return false;
}

void SimCatchStopSignals(void (*handler)(int)) {
    std::signal(SIGINT, handler);
    std::signal(SIGBREAK, handler); // Ctrl+Break, the one console event a single program can be sent
    std::signal(SIGTERM, handler);
}

SocketHandle SimOpenSocket(int family) {
    return ::socket(family, SOCK_STREAM, 0);
}

SocketHandle SimAccept(SocketHandle listener, sockaddr_storage* peer, socklen_t* length) {
    return ::accept(listener, reinterpret_cast<sockaddr*>(peer), length);
}

int SimPoll(SSimPoll* fds, size_t count, int timeoutMs) {
    return SimPollWith<WSAPOLLFD>(
        fds, count, [&](WSAPOLLFD* native) { return ::WSAPoll(native, ULONG(count), timeoutMs); }, POLLIN,
        POLLERR, POLLHUP);
}

bool SimInterrupted() {
    return false;
}

long SimRead(SocketHandle fd, bool, char* buffer, size_t size) {
    return ::recv(fd, buffer, int(size), 0);
}

long SimWrite(SocketHandle fd, const char* data, size_t size) {
    return ::send(fd, data, int(size), 0);
}

CSimSerial::~CSimSerial() = default;

// The TCP side only: Windows has no pseudo-terminals to serve a COM name with.
bool CSimSerial::Open(const QString&, QString& error, int& status) {
    status = 2;
    error = QStringLiteral("--serial needs pseudo-terminals, which Windows does not have; use the TCP side");
    return false;
}
