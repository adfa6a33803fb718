#pragma once

// The few socket calls the client needs, the same on POSIX and Windows.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketHandle = SOCKET;
constexpr SocketHandle SOCKET_INVALID = INVALID_SOCKET;
#else
#include <arpa/inet.h>
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
bool SocketSendWouldBlock();
// Waits up to timeoutMs for room to send; false when none came.
bool SocketWaitWritable(SocketHandle handle, int timeoutMs);

// Waits up to timeoutMs for bytes (or an end or error) to read; false when none came.
bool SocketWaitReadable(SocketHandle handle, int timeoutMs);

// Starts the socket library where the platform needs it (WinSock 2.2); true when ready.
bool SocketStartup();
void SocketCleanup();
