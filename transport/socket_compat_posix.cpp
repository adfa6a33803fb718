// The socket layer's POSIX side.
#include "transport/socket_compat.h"

#include <csignal>

#include <cerrno>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>
QString SocketResolverError(int error) {
    return QString::fromLocal8Bit(gai_strerror(error));
}
int SocketLastError() {
    return errno;
}
void SocketShutdown(SocketHandle handle) {
    ::shutdown(handle, SHUT_RDWR);
}
void SocketCloseHandle(SocketHandle handle) {
    ::close(handle);
}
int SocketBadAddressError() {
    return EADDRNOTAVAIL;
}
long SocketSendNow(SocketHandle handle, const char* data, int length) {
#ifdef MSG_NOSIGNAL
    constexpr int flags = MSG_DONTWAIT | MSG_NOSIGNAL;
#else
    constexpr int flags = MSG_DONTWAIT;
#endif
    return ::send(handle, data, static_cast<size_t>(length), flags);
}
void SocketSendUnbuffered(SocketHandle handle) {
    const int yes = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
}
bool SocketSendWouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
bool SocketWaitWritable(SocketHandle handle, int timeoutMs) {
    pollfd pfd{handle, POLLOUT, 0};
    int ready;
    do
        ready = ::poll(&pfd, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0 && (pfd.revents & POLLOUT);
}
bool SocketWaitReadable(SocketHandle handle, int timeoutMs) {
    pollfd pfd{handle, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&pfd, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready != 0; // an error is for recv to report
}
bool SocketStartup() {
    // A write to a peer that has gone must not end the process: it is an error to report.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}
void SocketCleanup() {}
