#include "transport/socket_compat.h"

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
            *why = SocketResolverError(error);
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
