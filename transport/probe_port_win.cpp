#include "transport/probe_port.h"

#include <windows.h>

namespace {
HANDLE Native(qintptr handle) {
    return reinterpret_cast<HANDLE>(handle);
}
} // namespace

bool CProbePort::Open(const QString& device, unsigned int baud, unsigned char dataBits, unsigned char parity,
                      unsigned char stopBits, unsigned int sliceMs) {
    m_nSlice = sliceMs;
    // COM10 and up open only by their device path; the path serves COM1..COM9 as well.
    const std::wstring path = (QStringLiteral("\\\\.\\") + device).toStdWString();
    m_hHandle = reinterpret_cast<qintptr>(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (Native(m_hHandle) == INVALID_HANDLE_VALUE)
        return false;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, sliceMs, sliceMs, sliceMs};
    if (!SetCommTimeouts(Native(m_hHandle), &timeouts))
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(Native(m_hHandle), &dcb);
    m_saved = QByteArray(reinterpret_cast<const char*>(&dcb), sizeof(dcb));
    dcb.BaudRate = baud;
    dcb.ByteSize = dataBits;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    return SetCommState(Native(m_hHandle), &dcb) != 0;
}
CProbePort::~CProbePort() {
    if (Native(m_hHandle) == INVALID_HANDLE_VALUE)
        return;
    if (m_saved.size() == sizeof(DCB))
        SetCommState(Native(m_hHandle), reinterpret_cast<DCB*>(m_saved.data()));
    CloseHandle(Native(m_hHandle));
}
void CProbePort::Write(const QByteArray& data) {
    DWORD written = 0;
    WriteFile(Native(m_hHandle), data.constData(), static_cast<DWORD>(data.size()), &written, nullptr);
}
void CProbePort::Discard() {
    PurgeComm(Native(m_hHandle), PURGE_RXCLEAR);
}
QByteArray CProbePort::Read(int maxBytes) {
    QByteArray buffer(maxBytes, 0);
    DWORD n = 0;
    if (!ReadFile(Native(m_hHandle), buffer.data(), static_cast<DWORD>(maxBytes), &n, nullptr))
        return QByteArray();
    buffer.resize(static_cast<qsizetype>(n));
    return buffer;
}
