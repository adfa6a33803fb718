#include "transport/serial_gather.h"

#include "transport/port_ctl.h"

CSerialGather::CSerialGather(CPortCtl& port, std::function<void(const QByteArray&)> onLine)
    : m_port(port), m_onLine(std::move(onLine)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CSerialGather::OnTimer);
}

void CSerialGather::OnInput() {
    if (m_bGathering)
        return; // joins the pass under way
    m_bGathering = true;
    m_text.clear();
    if (m_port.GetBytesWaiting() <= 0) {
        Finish();
        return;
    }
    OnTimer();
}

void CSerialGather::OnTimer() {
    if (!m_bGathering)
        return;
    if (m_port.GetBytesWaiting() <= 0) {
        Finish();
        return;
    }
    QByteArray read;
    while (m_port.GetBytesWaiting() > 0)
        read.append(static_cast<char>(m_port.ReadByte() & 0xFF));
    m_text += read;
    if (m_tap)
        m_tap(read);
    m_timer.start(SERIAL_GATHER_MS);
}

void CSerialGather::Finish() {
    if (!m_bGathering)
        return;
    m_timer.stop();
    m_bGathering = false;
    const QByteArray text = m_text;
    m_text.clear();
    m_onLine(text);
}
