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
bool SocketStartup() {
    WSADATA data;
    return WSAStartup(0x0202, &data) == 0;
}
void SocketCleanup() {
    WSACleanup();
}
#else
#include <cerrno>
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
bool SocketStartup() {
    return true;
}
void SocketCleanup() {}
#endif
