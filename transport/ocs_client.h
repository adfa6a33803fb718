#pragma once

#include "transport/tcp_socket.h"

#include <QString>
#include <atomic>

// Events of the OCS client, called on its worker threads: OnOcsConnect on the connect thread,
// OnOcsReceive and OnOcsDisconnect on the receive thread.
class COcsClientEvents {
public:
    // data points into the receive thread's buffer, which has room for a 0x00 behind the data.
    virtual void OnOcsReceive(const QString& /*address*/, int /*port*/, char* /*data*/, int /*length*/,
                              int /*flags*/) {}
    virtual void OnOcsDisconnect(const QString& /*address*/, int /*port*/, int /*error*/) {}
    virtual void OnOcsConnect(const QString& /*address*/, int /*port*/, int /*error*/) {}
    virtual ~COcsClientEvents() = default;
};

constexpr int OCS_TCP_PORT = 48501;

// The TCP client to the OCS: one socket, events passed on to the handler with the peer's address.
class COcsClient : public CTcpSocketSink {
public:
    COcsClient();
    ~COcsClient() override;

    int Connect(const QString& address, int port);
    int Send(const char* data, int length, int* sent = nullptr);
    int Close();
    bool IsConnected() const;
    COcsClientEvents* SetHandler(COcsClientEvents* handler);

protected:
    void OnConnect(int error) override;
    void OnReceive(const char* data, int length, int flags) override;
    void OnClose(int error) override;

private:
    CTcpSocket m_socket;
    std::atomic<COcsClientEvents*> m_pHandler{nullptr};
};
