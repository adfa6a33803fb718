#include "transport/socket_compat.h"

#ifdef _WIN32
int SocketLastError() {
    return WSAGetLastError();
}
void SocketShutdown(SocketHandle handle) {
    shutdown(handle, SD_BOTH);
}
void SocketCloseHandle(SocketHandle handle) {
    closesocket(handle);
}
int SocketBadAddressError() {
    return WSAEADDRNOTAVAIL;
}
long SocketSendNow(SocketHandle handle, const char* data, int length) {
    // A blocking Windows socket has no per-call "don't wait": send only when there is room.
    if (!SocketWaitWritable(handle, 0)) {
        WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return send(handle, data, length, 0);
}
bool SocketSendWouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
bool SocketWaitWritable(SocketHandle handle, int timeoutMs) {
    WSAPOLLFD pfd{handle, POLLWRNORM, 0};
    return WSAPoll(&pfd, 1, timeoutMs) > 0;
}
bool SocketWaitReadable(SocketHandle handle, int timeoutMs) {
    WSAPOLLFD pfd{handle, POLLRDNORM, 0};
    return WSAPoll(&pfd, 1, timeoutMs) != 0; // an error is for recv to report
}
bool SocketStartup() {
    WSADATA data;
    return WSAStartup(0x0202, &data) == 0;
}
void SocketCleanup() {
    WSACleanup();
}
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
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
    return true;
}
void SocketCleanup() {}
#endif
