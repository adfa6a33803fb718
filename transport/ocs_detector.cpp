#include "transport/ocs_detector.h"

#include "app/emulator_app.h"
#include "app/message_box.h"
#include "app/wait_cursor.h"
#include "transport/port_names.h"

#include <QFile>
#include <algorithm>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

COcsDetector::COcsDetector(const QByteArray& reply, const QByteArray& query, unsigned int timeoutMs,
                           int attempts)
    : m_strReply(reply), m_strQuery(query), m_nTimeout(timeoutMs), m_nAttempts(attempts) {}

bool COcsDetector::TakeReply(QByteArray& carried, const QByteArray& read) const {
    carried += read; // NUL bytes before the ACK do not hide it
    const qsizetype found = carried.indexOf(m_strReply);
    if (found < 0)
        return false;
    carried = carried.mid(found + m_strReply.size() + 1);
    return true;
}

namespace {

// One open serial device for the probe, closed when it goes.
class CProbePort {
public:
    bool Open(const QString& device, unsigned int baud, unsigned char dataBits, unsigned char parity,
              unsigned char stopBits, unsigned int timeoutMs);
    ~CProbePort();
    void Write(const QByteArray& data);
    // Returns the bytes waiting at once, else waits up to the time-out for the first; empty on
    // time-out or error.
    QByteArray Read(int maxBytes);

private:
#ifdef _WIN32
    HANDLE m_h = INVALID_HANDLE_VALUE;
#else
    int m_fd = -1;
#endif
    unsigned int m_nTimeout = 0;
};

#ifdef _WIN32
bool CProbePort::Open(const QString& device, unsigned int baud, unsigned char dataBits, unsigned char parity,
                      unsigned char stopBits, unsigned int timeoutMs) {
    m_nTimeout = timeoutMs;
    // COM10 and up open only by their device path; the path serves COM1..COM9 as well.
    const std::wstring path = (QStringLiteral("\\\\.\\") + device).toStdWString();
    m_h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_h == INVALID_HANDLE_VALUE)
        return false;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, timeoutMs, timeoutMs, timeoutMs};
    if (!SetCommTimeouts(m_h, &timeouts))
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(m_h, &dcb);
    dcb.BaudRate = baud;
    dcb.ByteSize = dataBits;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    return SetCommState(m_h, &dcb) != 0;
}
CProbePort::~CProbePort() {
    if (m_h != INVALID_HANDLE_VALUE)
        CloseHandle(m_h);
}
void CProbePort::Write(const QByteArray& data) {
    DWORD written = 0;
    WriteFile(m_h, data.constData(), static_cast<DWORD>(data.size()), &written, nullptr);
}
QByteArray CProbePort::Read(int maxBytes) {
    QByteArray buffer(maxBytes, 0);
    DWORD n = 0;
    if (!ReadFile(m_h, buffer.data(), static_cast<DWORD>(maxBytes), &n, nullptr))
        return QByteArray();
    buffer.resize(static_cast<qsizetype>(n));
    return buffer;
}
#else
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

bool CProbePort::Open(const QString& device, unsigned int baud, unsigned char dataBits, unsigned char parity,
                      unsigned char stopBits, unsigned int timeoutMs) {
    m_nTimeout = timeoutMs;
    const speed_t speed = SpeedCode(baud);
    if (device.isEmpty() || speed == B0 || dataBits < 5 || dataBits > 8)
        return false;
    m_fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    if (::ioctl(m_fd, TIOCEXCL) != 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        return false;
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
    return ::tcsetattr(m_fd, TCSANOW, &tio) == 0;
}
CProbePort::~CProbePort() {
    if (m_fd >= 0) {
        ::ioctl(m_fd, TIOCNXCL); // the device may stay open elsewhere
        ::close(m_fd);
    }
}
void CProbePort::Write(const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        pollfd pfd{m_fd, POLLOUT, 0};
        if (::poll(&pfd, 1, static_cast<int>(m_nTimeout)) <= 0)
            return;
        const ssize_t n = ::write(m_fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        if (n > 0)
            done += n;
    }
}
QByteArray CProbePort::Read(int maxBytes) {
    pollfd pfd{m_fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, static_cast<int>(m_nTimeout));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || !(pfd.revents & POLLIN))
        return QByteArray();
    QByteArray buffer(maxBytes, 0);
    const ssize_t n = ::read(m_fd, buffer.data(), static_cast<size_t>(maxBytes));
    if (n <= 0)
        return QByteArray();
    buffer.resize(n);
    return buffer;
}
#endif

} // namespace

bool COcsDetector::Probe(const QString& port, unsigned int baud, unsigned char dataBits, unsigned char parity,
                         unsigned char stopBits, int /*flowControl: none is the only one used*/) const {
    CProbePort device;
    if (!device.Open(PortDeviceName(port), baud, dataBits, parity, stopBits, m_nTimeout))
        return false;
    QByteArray carried;
    for (int attempt = 0; attempt < m_nAttempts; ++attempt) {
        device.Write(m_strQuery);
        for (;;) {
            const QByteArray read = device.Read(256);
            if (read.isEmpty())
                return false;
            if (TakeReply(carried, read))
                break;
        }
    }
    return true;
}

namespace {
struct SProbeCandidate {
    unsigned int nBaud;
    unsigned char nParity;
    const char* pszBaud;
    const char* pszParity;
};
const SProbeCandidate PROBE_CANDIDATES[] = {
    {9600, PROBE_PARITY_NONE, "9600", "None"},
    {19200, PROBE_PARITY_ODD, "19200", "Odd"},
};
constexpr int PROBE_LAST_PORT = 11;
} // namespace

// Ports with an adapter behind them first (on a laptop the only real ones), then the rest in order.
static std::vector<int> ProbeOrder() {
    AssignAdapterPorts(); // an adapter plugged in just now
    std::vector<int> order = AdapterPortNumbers();
    for (int n = 1; n <= PROBE_LAST_PORT; ++n) {
        if (std::find(order.begin(), order.end(), n) == order.end())
            order.push_back(n);
    }
    return order;
}

bool CEmulatorApp::AutoDetectSerial(const DetectProgress& trying) {
    CWaitCursor wait;
    for (const int n : ProbeOrder()) {
        const QString port = QStringLiteral("COM%1").arg(n);
        for (const SProbeCandidate& candidate : PROBE_CANDIDATES) {
            if (trying)
                trying(port, QString::fromLatin1(candidate.pszBaud));
            if (!m_ocsDetector.Probe(port, candidate.nBaud, 8, candidate.nParity, PROBE_STOPBITS_ONE, 0))
                continue;
            m_settings.m_strBaud = QString::fromLatin1(candidate.pszBaud);
            m_settings.m_strParity = QString::fromLatin1(candidate.pszParity);
            m_settings.m_strPort = port;
            m_settings.m_strDataBits = QStringLiteral("8");
            m_settings.m_strFlowControl = QStringLiteral("None");
            m_settings.m_strStopBits = QStringLiteral("1");
            m_settings.m_bAutodetect = 1;
            m_settings.m_bUseNetwork = 0;
            m_settings.m_bUseSerial = 1;
            ShowMessageBox(
                nullptr,
                QStringLiteral("An OCS unit has been found. \n\nYour connection settings have been "
                               "changed to match the detected OCS's settings."),
                QStringLiteral("OCS Found"), CMessageBox::Ok, CMessageBox::Information);
            return true;
        }
    }
    ShowMessageBox(
        nullptr,
        QStringLiteral("No OCS unit was found.\n\nPlease make sure you are connected to an OCS via "
                       "serial cable and that the connection is sound."),
        QStringLiteral("OCS Not Found"), CMessageBox::Ok, CMessageBox::Warning);
    return false;
}
