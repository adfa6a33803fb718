#pragma once

#include <QObject>

class CAppSettings;
class QSerialPort;

// Parity and stop-bit codes of the serial settings.
enum { PORT_PARITY_NONE, PORT_PARITY_ODD, PORT_PARITY_EVEN, PORT_PARITY_MARK, PORT_PARITY_SPACE };
enum { PORT_STOPBITS_ONE, PORT_STOPBITS_ONE_AND_HALF, PORT_STOPBITS_TWO };

// The serial line of the order engine: settings are put first, then the port is opened with all of
// them. DataWaiting is emitted when received bytes wait to be read; PortLost when the device fails
// while open (unplugged adapter, closed pseudo-terminal).
class CPortCtl : public QObject {
    Q_OBJECT
public:
    explicit CPortCtl(QObject* parent = nullptr);
    ~CPortCtl() override;

    void SetPortNumber(int number) { m_nPortNumber = number; }
    void SetBaudRate(int baud) { m_nBaudRate = baud; }
    void SetParity(int parity) { m_nParity = parity; }
    void SetDataBits(int bits) { m_nDataBits = bits; }
    void SetStopBits(int stopBits) { m_nStopBits = stopBits; }
    void SetSoftwareFlow(int on) { m_bSoftwareFlow = on; }
    void SetHardwareFlow(int on) { m_bHardwareFlow = on; }
    int GetBytesWaiting();
    int OpenPort();
    int ClosePort();
    int ReadByte();
    int WriteByte(int value);

    bool IsOpen() const;
    QString DeviceName() const;
    // Why the last OpenPort failed: "COM3 (/dev/ttyUSB0): in use by another program".
    QString OpenProblem() const { return m_strProblem; }

signals:
    void DataWaiting();
    void PortLost();

private:
    void OnError();

    QSerialPort* m_pPort;
    int m_nPortNumber = 1;
    int m_nBaudRate = 9600;
    int m_nParity = PORT_PARITY_NONE;
    int m_nDataBits = 8;
    int m_nStopBits = PORT_STOPBITS_ONE;
    int m_bSoftwareFlow = 0;
    int m_bHardwareFlow = 0;
    QString m_strProblem;
};

// Puts the serial settings of the record (the texts the Communications page offers) on the port.
void ApplyPortSettings(CPortCtl& port, const CAppSettings& settings);
