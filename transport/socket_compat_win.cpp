// The socket layer's Windows side (Winsock).
#include "transport/socket_compat.h"

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
void SocketSendUnbuffered(SocketHandle handle) {
    const BOOL yes = TRUE;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof(yes));
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
QString SocketResolverError(int error) {
    return QString::fromWCharArray(gai_strerrorW(error));
}
