#include "transport/tcp_socket.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {
enum EOwner { OWNER_OBJECT, OWNER_CONNECT_THREAD, OWNER_RECEIVE_THREAD };

struct SReceiveControl {
    bool bCloseOnExit = false; // set by a Close that runs on the receive thread itself
};
} // namespace

// State shared with the worker threads; a stale connect thread may outlive the socket object.
// Every change of state happens under the mutex, and so do the connect and close events, so that
// Close orders against them; a thread that finds its generation gone ends without an event.
struct CTcpSocket::SShared {
    std::recursive_mutex mutex;
    CTcpSocketSink* pSink = nullptr;
    std::atomic<unsigned> nGeneration{0};
    std::atomic<int> bConnected{0};
    std::atomic<SocketHandle> hSocket{SOCKET_INVALID};
    std::atomic<bool> bConnectRunning{false};
    EOwner owner = OWNER_OBJECT;
    std::thread receiveThread;
    std::shared_ptr<SReceiveControl> pReceiveControl;
    QString strAddress;
    unsigned short nPort = 0;
    int nType = SOCK_STREAM;
};

namespace {

constexpr int TCP_CLOSE_CHECK_MS = 50;

using Shared = CTcpSocket::SShared;

void ConnectThread(std::shared_ptr<Shared> shared, unsigned generation, SocketHandle handle,
                   QByteArray address, unsigned short port) {
    int error = 0;
    sockaddr_storage peer;
    socklen_t length = 0;
    if (SocketAddressOf(address, port, &peer, &length) == 0) {
        error = SocketBadAddressError();
    } else if (::connect(handle, reinterpret_cast<sockaddr*>(&peer), length) != 0) {
        error = SocketLastError();
    } else {
        SocketSendUnbuffered(handle);
    }
    std::lock_guard<std::recursive_mutex> lock(shared->mutex);
    if (generation != shared->nGeneration) {
        // Closed meanwhile: this attempt owns its handle and takes it along.
        if (handle != SOCKET_INVALID)
            SocketCloseHandle(handle);
        return;
    }
    shared->bConnectRunning = false;
    shared->owner = OWNER_OBJECT;
    if (error == 0)
        shared->bConnected = 1;
    if (shared->pSink)
        shared->pSink->OnConnect(error);
}

// Takes the mutex unless the connection is closed meanwhile (Close may be waiting for this thread).
bool LockCurrent(Shared& shared, unsigned generation) {
    while (!shared.mutex.try_lock()) {
        if (generation != shared.nGeneration)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (generation != shared.nGeneration) {
        shared.mutex.unlock();
        return false;
    }
    return true;
}

void ReceiveThread(std::shared_ptr<Shared> shared, unsigned generation, SocketHandle handle,
                   std::shared_ptr<SReceiveControl> control) {
    char buffer[TCP_RECEIVE_BUFFER];
    for (;;) {
        // Close's shutdown wakes a blocked receive on POSIX but not with Winsock: short waits let the
        // thread see a Close on every platform (data still goes on at once).
        if (!SocketWaitReadable(handle, TCP_CLOSE_CHECK_MS)) {
            if (generation != shared->nGeneration)
                break;
            continue;
        }
        const int n = static_cast<int>(::recv(handle, buffer, TCP_RECEIVE_BUFFER - 1, 0));
        const int error = n < 0 ? SocketLastError() : 0;
        if (!LockCurrent(*shared, generation))
            break;
        if (n > 0) {
            // Data goes out without the mutex, so that the handler may take its time (a window that
            // takes a flood in at its own pace) without holding up Send; Close joins this thread, so
            // nothing arrives after it.
            CTcpSocketSink* sink = shared->pSink;
            shared->mutex.unlock();
            buffer[n] = 0;
            if (sink)
                sink->OnReceive(buffer, n, 0);
            continue;
        }
        // The peer ended the connection or it failed: close it, then tell.
        ++shared->nGeneration;
        shared->bConnected = 0;
        shared->hSocket = SOCKET_INVALID;
        shared->owner = OWNER_OBJECT;
        shared->receiveThread.detach();
        shared->pReceiveControl.reset();
        SocketShutdown(handle);
        SocketCloseHandle(handle);
        if (shared->pSink)
            shared->pSink->OnClose(error);
        shared->mutex.unlock();
        return;
    }
    if (control->bCloseOnExit)
        SocketCloseHandle(handle);
}

} // namespace

CTcpSocket::CTcpSocket() : m_pShared(std::make_shared<SShared>()) {}

CTcpSocket::~CTcpSocket() {
    SetSink(nullptr);
    Close();
}

int CTcpSocket::Create(int type) {
    std::lock_guard<std::recursive_mutex> lock(m_pShared->mutex);
    if (m_pShared->hSocket != SOCKET_INVALID)
        return TCP_ALREADY_CREATED;
    const SocketHandle handle = ::socket(AF_INET, type, 0);
    if (handle == SOCKET_INVALID)
        return TCP_FAILED;
    m_pShared->nType = type;
    m_pShared->hSocket = handle;
    m_pShared->owner = OWNER_OBJECT;
    return TCP_OK;
}

int CTcpSocket::Connect(const QString& address, unsigned int port) {
    std::lock_guard<std::recursive_mutex> lock(m_pShared->mutex);
    if (m_pShared->bConnected || m_pShared->bConnectRunning)
        return TCP_BUSY;
    m_pShared->strAddress = address;
    m_pShared->nPort = static_cast<unsigned short>(port);
    // An IPv6 address needs a socket of its own family; the socket made for IPv4 is swapped for one.
    sockaddr_storage peer;
    socklen_t length = 0;
    if (SocketAddressOf(address.toLatin1(), m_pShared->nPort, &peer, &length) == AF_INET6 &&
        m_pShared->hSocket != SOCKET_INVALID) {
        const SocketHandle handle = ::socket(AF_INET6, m_pShared->nType, 0);
        if (handle != SOCKET_INVALID)
            SocketCloseHandle(m_pShared->hSocket.exchange(handle));
    }
    m_pShared->bConnectRunning = true;
    m_pShared->owner = OWNER_CONNECT_THREAD;
    std::thread(ConnectThread, m_pShared, m_pShared->nGeneration.load(), m_pShared->hSocket.load(),
                address.toLatin1(), m_pShared->nPort)
        .detach();
    return TCP_OK;
}

void CTcpSocket::StartReceiving() {
    std::lock_guard<std::recursive_mutex> lock(m_pShared->mutex);
    if (m_pShared->receiveThread.joinable() || !m_pShared->bConnected)
        return;
    m_pShared->owner = OWNER_RECEIVE_THREAD;
    m_pShared->pReceiveControl = std::make_shared<SReceiveControl>();
    m_pShared->receiveThread = std::thread(ReceiveThread, m_pShared, m_pShared->nGeneration.load(),
                                           m_pShared->hSocket.load(), m_pShared->pReceiveControl);
}

// An OCS that stops reading fills the socket's buffers; a blocking send would then hold the calling
// (window's) thread for as long as the OCS stays silent. The wait for room is bounded instead and the
// caller learns of it.
int CTcpSocket::Send(const char* data, int length, int* sent) {
    // Under the mutex: the receive thread may close the handle when the peer goes.
    std::lock_guard<std::recursive_mutex> lock(m_pShared->mutex);
    if (!m_pShared->bConnected)
        return TCP_NOT_CONNECTED;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TCP_SEND_WAIT_MS);
    int total = 0;
    while (total < length) {
        const long n = SocketSendNow(m_pShared->hSocket, data + total, length - total);
        if (n > 0) {
            total += static_cast<int>(n);
            continue;
        }
        if (n == 0 || !SocketSendWouldBlock())
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !SocketWaitWritable(m_pShared->hSocket, static_cast<int>(left.count())))
            break;
    }
    if (sent)
        *sent = total;
    if (total == length)
        return TCP_OK;
    return total > 0 ? TCP_PARTIAL_SEND : TCP_FAILED;
}

int CTcpSocket::Close() {
    std::unique_lock<std::recursive_mutex> lock(m_pShared->mutex);
    ++m_pShared->nGeneration;
    m_pShared->bConnected = 0;
    m_pShared->bConnectRunning = false;
    const SocketHandle handle = m_pShared->hSocket.exchange(SOCKET_INVALID);
    const EOwner owner = m_pShared->owner;
    m_pShared->owner = OWNER_OBJECT;
    std::thread receiver;
    if (owner == OWNER_RECEIVE_THREAD && m_pShared->receiveThread.joinable()) {
        if (m_pShared->receiveThread.get_id() == std::this_thread::get_id()) {
            // Called from one of its own events: the thread closes the handle when the event returns.
            m_pShared->pReceiveControl->bCloseOnExit = true;
            m_pShared->receiveThread.detach();
        } else {
            receiver = std::move(m_pShared->receiveThread);
        }
    }
    m_pShared->pReceiveControl.reset();
    if (handle != SOCKET_INVALID)
        SocketShutdown(handle); // wakes a receive blocked on it
    lock.unlock();
    if (receiver.joinable()) {
        receiver.join();
        SocketCloseHandle(handle);
    } else if (owner == OWNER_OBJECT && handle != SOCKET_INVALID) {
        SocketCloseHandle(handle);
    }
    return TCP_OK;
}

bool CTcpSocket::IsCreated() const {
    return m_pShared->hSocket != SOCKET_INVALID;
}
bool CTcpSocket::IsConnected() const {
    return m_pShared->bConnected != 0;
}

QString CTcpSocket::GetAddress() const {
    std::lock_guard<std::recursive_mutex> lock(m_pShared->mutex);
    return m_pShared->strAddress;
}

unsigned short CTcpSocket::GetPort() const {
    std::lock_guard<std::recursive_mutex> lock(m_pShared->mutex);
    return m_pShared->nPort;
}

CTcpSocketSink* CTcpSocket::SetSink(CTcpSocketSink* sink) {
    std::lock_guard<std::recursive_mutex> lock(m_pShared->mutex);
    CTcpSocketSink* previous = m_pShared->pSink;
    m_pShared->pSink = sink;
    return previous;
}
