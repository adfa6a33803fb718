#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The few socket calls the client needs, the same on POSIX and Windows.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
constexpr SocketHandle SOCKET_INVALID = INVALID_SOCKET;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
using SocketHandle = int;
constexpr SocketHandle SOCKET_INVALID = -1;
#endif

int SocketLastError();
void SocketShutdown(SocketHandle handle);
void SocketCloseHandle(SocketHandle handle);
// The error a connect attempt reports for an address text that is not dotted decimal.
int SocketBadAddressError();
// Sends what fits in the socket's buffer now, without waiting; -1 on failure, and then
// SocketSendWouldBlock() tells whether it was only full.
long SocketSendNow(SocketHandle handle, const char* data, int length);
// Each write leaves at once instead of waiting for the peer to acknowledge the last (Nagle): an OCS
// that delays its acknowledgements would otherwise get a line's bytes, and the next line, late.
void SocketSendUnbuffered(SocketHandle handle);
bool SocketSendWouldBlock();
// Waits up to timeoutMs for room to send; false when none came.
bool SocketWaitWritable(SocketHandle handle, int timeoutMs);

// Waits up to timeoutMs for bytes (or an end or error) to read; false when none came.
bool SocketWaitReadable(SocketHandle handle, int timeoutMs);

// The numeric addresses that a host name or an IPv4 or IPv6 address stands for, IPv4 ones first;
// empty, with the resolver's reason, when there are none.
// The text of a resolver error code.
QString SocketResolverError(int error);
QStringList SocketResolve(const QString& host, QString* why);
// An address text as it is written with a port after it: IPv6 ones in brackets.
QString SocketAddressWithPort(const QString& address, int port);
// Puts a numeric IPv4 or IPv6 address and a port into `peer`; its family, or 0 when the text is
// neither.
int SocketAddressOf(const QByteArray& address, unsigned short port, sockaddr_storage* peer,
                    socklen_t* length);

// Starts the socket library where the platform needs it (WinSock 2.2); true when ready.
bool SocketStartup();
void SocketCleanup();
