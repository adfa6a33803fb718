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

// Starts the socket library where the platform needs it (WinSock 2.2); true when ready.
bool SocketStartup();
void SocketCleanup();
