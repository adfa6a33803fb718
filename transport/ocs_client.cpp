#include "transport/ocs_client.h"

COcsClient::COcsClient() {
    m_socket.SetSink(this);
}

COcsClient::~COcsClient() {
    m_socket.SetSink(nullptr);
    Close();
}

int COcsClient::Connect(const QString& address, int port) {
    if (IsConnected())
        return TCP_ALREADY_CONNECTED;
    if (!m_socket.IsCreated())
        m_socket.Create(SOCK_STREAM); // a failure shows as a failed attempt
    return m_socket.Connect(address, static_cast<unsigned int>(port));
}

int COcsClient::Send(const char* data, int length, int* sent) {
    if (!IsConnected())
        return TCP_NOT_CONNECTED;
    return m_socket.Send(data, length, sent);
}

int COcsClient::Close() {
    return m_socket.Close();
}

bool COcsClient::IsConnected() const {
    return m_socket.IsConnected();
}

COcsClientEvents* COcsClient::SetHandler(COcsClientEvents* handler) {
    return m_pHandler.exchange(handler);
}

void COcsClient::OnConnect(int error) {
    if (error == 0)
        m_socket.StartReceiving();
    if (COcsClientEvents* handler = m_pHandler)
        handler->OnOcsConnect(m_socket.GetAddress(), m_socket.GetPort(), error);
}

void COcsClient::OnReceive(const char* data, int length, int flags) {
    if (COcsClientEvents* handler = m_pHandler)
        handler->OnOcsReceive(m_socket.GetAddress(), m_socket.GetPort(), const_cast<char*>(data), length,
                              flags);
}

void COcsClient::OnClose(int error) {
    if (COcsClientEvents* handler = m_pHandler)
        handler->OnOcsDisconnect(m_socket.GetAddress(), m_socket.GetPort(), error);
}
