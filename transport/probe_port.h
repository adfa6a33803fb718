#pragma once

#include <QByteArray>
#include <QString>

// One open serial device for the detection probe, closed when it goes. Reads and writes wait at most
// the slice given to Open, so that a search can be cancelled between them.
class CProbePort {
public:
    CProbePort() = default;
    CProbePort(const CProbePort&) = delete;
    CProbePort& operator=(const CProbePort&) = delete;
    ~CProbePort();
    bool Open(const QString& device, unsigned int baud, unsigned char dataBits, unsigned char parity,
              unsigned char stopBits, unsigned int sliceMs);
    void Write(const QByteArray& data);
    // Drops what the device sent and nobody has read yet.
    void Discard();
    // The bytes waiting at once, else those that come within the slice; empty if none came.
    QByteArray Read(int maxBytes);

private:
    qintptr m_hHandle = -1; // a file descriptor, or a Windows HANDLE
    unsigned int m_nSlice = 0;
    QByteArray m_saved; // the line settings the device had, put back on closing
};
