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
static QString ResolverError(int error) {
    return QString::fromWCharArray(gai_strerrorW(error));
}
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
static QString ResolverError(int error) {
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

QStringList SocketResolve(const QString& host, QString* why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray name = host.toUtf8();
    const int error = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
    QStringList v4, v6;
    if (error != 0) {
        if (why)
            *why = ResolverError(error);
        return v4;
    }
    for (const addrinfo* at = found; at; at = at->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(at->ai_addr, socklen_t(at->ai_addrlen), text, sizeof(text), nullptr, 0,
                          NI_NUMERICHOST) != 0)
            continue;
        QStringList& list = at->ai_family == AF_INET ? v4 : v6;
        if (!list.contains(QLatin1String(text)))
            list << QLatin1String(text);
    }
    ::freeaddrinfo(found);
    if (v4.isEmpty() && v6.isEmpty() && why)
        *why = QStringLiteral("no address found");
    return v4 + v6;
}

QString SocketAddressWithPort(const QString& address, int port) {
    return (address.contains(QLatin1Char(':')) ? QLatin1Char('[') + address + QLatin1Char(']') : address) +
           QLatin1Char(':') + QString::number(port);
}

int SocketAddressOf(const QByteArray& address, unsigned short port, sockaddr_storage* peer,
                    socklen_t* length) {
    *peer = sockaddr_storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(peer);
    if (::inet_pton(AF_INET, address.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        *length = sizeof(sockaddr_in);
        return AF_INET;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(peer);
    if (::inet_pton(AF_INET6, address.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        *length = sizeof(sockaddr_in6);
        return AF_INET6;
    }
    return 0;
}
