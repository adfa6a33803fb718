#include "transport/probe_port.h"

#include "transport/ocs_detector.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
speed_t SpeedCode(unsigned int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

} // namespace

bool CProbePort::Open(const QString& device, unsigned int baud, unsigned char dataBits, unsigned char parity,
                      unsigned char stopBits, unsigned int sliceMs) {
    m_nSlice = sliceMs;
    const speed_t speed = SpeedCode(baud);
    if (device.isEmpty() || speed == B0 || dataBits < 5 || dataBits > 8)
        return false;
    m_hHandle = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_hHandle < 0)
        return false;
    if (::ioctl(m_hHandle, TIOCEXCL) != 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_hHandle, &tio) != 0)
        return false;
    m_saved = QByteArray(reinterpret_cast<const char*>(&tio), sizeof(tio));
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[dataBits - 5] | CREAD | CLOCAL;
    if (parity == PROBE_PARITY_ODD)
        tio.c_cflag |= PARENB | PARODD;
    else if (parity == 2)
        tio.c_cflag |= PARENB;
    if (stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return ::tcsetattr(m_hHandle, TCSANOW, &tio) == 0;
}
CProbePort::~CProbePort() {
    if (m_hHandle >= 0) {
        if (m_saved.size() == sizeof(termios))
            ::tcsetattr(m_hHandle, TCSANOW, reinterpret_cast<const termios*>(m_saved.constData()));
        ::ioctl(m_hHandle, TIOCNXCL); // the device may stay open elsewhere
        ::close(m_hHandle);
    }
}
void CProbePort::Write(const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        pollfd pfd{int(m_hHandle), POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(m_nSlice)) <= 0)
            return;
        const ssize_t n =
            ::write(m_hHandle, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        if (n > 0)
            done += n;
    }
}
void CProbePort::Discard() {
    ::tcflush(int(m_hHandle), TCIFLUSH);
}
QByteArray CProbePort::Read(int maxBytes) {
    pollfd pfd{int(m_hHandle), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, static_cast<int>(m_nSlice));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || !(pfd.revents & POLLIN))
        return QByteArray();
    QByteArray buffer(maxBytes, 0);
    const ssize_t n = ::read(m_hHandle, buffer.data(), static_cast<size_t>(maxBytes));
    if (n <= 0)
        return QByteArray();
    buffer.resize(n);
    return buffer;
}
