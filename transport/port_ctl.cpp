#include "transport/port_ctl.h"

#include "app/app_settings.h"
#include "transport/port_names.h"

#include <QSerialPort>

CPortCtl::CPortCtl(QObject* parent) : QObject(parent), m_pPort(new QSerialPort(this)) {
    connect(m_pPort, &QSerialPort::readyRead, this, &CPortCtl::DataWaiting);
    connect(m_pPort, &QSerialPort::errorOccurred, this, &CPortCtl::OnError);
}

CPortCtl::~CPortCtl() {
    m_pPort->close();
}

int CPortCtl::OpenPort() {
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    static const QSerialPort::StopBits stopBits[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                                     QSerialPort::TwoStop};
    if (m_pPort->isOpen())
        m_pPort->close();
    const QString name = QStringLiteral("COM%1").arg(m_nPortNumber);
    if (m_nParity < 0 || m_nParity > 4 || m_nStopBits < 0 || m_nStopBits > 2 || m_nDataBits < 5 ||
        m_nDataBits > 8 || m_nBaudRate <= 0) {
        m_strProblem = name + QStringLiteral(": the line settings cannot be used");
        return 0;
    }
    if (m_nStopBits == PORT_STOPBITS_ONE_AND_HALF && !SerialTakesOneAndHalfStopBits()) {
        m_strProblem = name + QStringLiteral(": 1.5 stop bits cannot be set on this system's serial ports");
        return 0;
    }
    const QString device = PortDeviceName(m_nPortNumber);
    if (device.isEmpty()) {
        m_strProblem = QStringLiteral("the port is not a COM name");
        return 0;
    }
    m_pPort->setPortName(device);
    m_pPort->setBaudRate(m_nBaudRate);
    m_pPort->setDataBits(static_cast<QSerialPort::DataBits>(m_nDataBits));
    m_pPort->setParity(parities[m_nParity]);
    m_pPort->setStopBits(stopBits[m_nStopBits]);
    m_pPort->setFlowControl(m_bHardwareFlow   ? QSerialPort::HardwareControl
                            : m_bSoftwareFlow ? QSerialPort::SoftwareControl
                                              : QSerialPort::NoFlowControl);
    if (!m_pPort->open(QIODevice::ReadWrite)) {
        m_strProblem = PortWithDevice(name) + QStringLiteral(": ") +
                       PortOpenProblem(device, m_pPort->error(), m_pPort->errorString());
        return 0;
    }
    m_pPort->clearError();
    m_strProblem.clear();
    return 1;
}

int CPortCtl::ClosePort() {
    m_pPort->close();
    return 0;
}

int CPortCtl::GetBytesWaiting() {
    if (!m_pPort->isOpen())
        return 0;
    if (m_pPort->bytesAvailable() == 0)
        m_pPort->waitForReadyRead(0); // takes in what the device already holds
    return static_cast<int>(m_pPort->bytesAvailable());
}

int CPortCtl::ReadByte() {
    char c = 0;
    if (!m_pPort->isOpen() || m_pPort->read(&c, 1) != 1)
        return 0;
    return static_cast<unsigned char>(c);
}

int CPortCtl::WriteByte(int value) {
    if (!m_pPort->isOpen())
        return 0;
    const char c = static_cast<char>(value & 0xFF);
    const qint64 written = m_pPort->write(&c, 1);
    m_pPort->flush();
    return written == 1 ? 1 : 0;
}

bool CPortCtl::IsOpen() const {
    return m_pPort->isOpen();
}

QString CPortCtl::DeviceName() const {
    return m_pPort->portName();
}

void CPortCtl::OnError() {
    const QSerialPort::SerialPortError error = m_pPort->error();
    if (error == QSerialPort::ResourceError && m_pPort->isOpen()) {
        m_pPort->close();
        emit PortLost();
    }
}

void ApplyPortSettings(CPortCtl& port, const CAppSettings& s) {
    port.SetPortNumber(s.GetPortNumber());
    port.SetBaudRate(s.GetBaudRate());
    port.SetParity(s.GetParityIndex());
    port.SetDataBits(s.GetDataBits());
    port.SetStopBits(s.GetStopBitsIndex());
    port.SetHardwareFlow(s.m_strFlowControl == QLatin1String("Hardware") ? 1 : 0);
    port.SetSoftwareFlow(s.m_strFlowControl == QLatin1String("Software") ? 1 : 0);
}
