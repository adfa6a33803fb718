#pragma once

#include "transport/socket_compat.h"

#include <QString>
#include <memory>

// Events of a CTcpSocket; called on its worker threads.
class CTcpSocketSink {
public:
    virtual void OnClose(int /*error*/) {}
    virtual void OnConnect(int /*error*/) {}
    virtual void OnReceive(const char* /*data*/, int /*length*/, int /*flags*/) {}
    virtual ~CTcpSocketSink() = default;
};

// Result codes of the socket layer.
enum {
    TCP_OK = 0,
    TCP_ALREADY_CREATED = 1,
    TCP_BUSY = 2,
    TCP_PARTIAL_SEND = 3,
    TCP_NOT_CONNECTED = 7,
    TCP_ALREADY_CONNECTED = 8,
    TCP_FAILED = -1,
};

constexpr int TCP_RECEIVE_BUFFER = 1024;
// How long Send waits for room in the socket's buffers before it gives up.
constexpr int TCP_SEND_WAIT_MS = 200;

// A blocking TCP socket that connects on a thread of its own and receives on a second one.
// Close() ends the connection at once: afterwards no event of it is delivered, the receive thread has
// ended (unless Close runs on it), and an attempt still hanging in connect ends on its own and drops
// its outcome.
class CTcpSocket {
public:
    CTcpSocket();
    virtual ~CTcpSocket();
    CTcpSocket(const CTcpSocket&) = delete;
    CTcpSocket& operator=(const CTcpSocket&) = delete;

    int Create(int type);
    int Connect(const QString& address, unsigned int port);
    void StartReceiving();
    int Send(const char* data, int length, int* sent = nullptr);
    int Close();

    bool IsCreated() const;
    bool IsConnected() const;
    QString GetAddress() const;
    unsigned short GetPort() const;
    CTcpSocketSink* SetSink(CTcpSocketSink* sink);

    struct SShared;

private:
    std::shared_ptr<SShared> m_pShared;
};
