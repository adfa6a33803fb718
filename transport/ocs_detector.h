#pragma once

#include <QByteArray>
#include <QString>

// Line-setting codes of a probe.
enum { PROBE_PARITY_NONE = 0, PROBE_PARITY_ODD = 1 };
enum { PROBE_STOPBITS_ONE = 0 };

// A serial OCS probe: writes the query and waits for the reply, a number of times in a row.
class COcsDetector {
public:
    COcsDetector(const QByteArray& reply, const QByteArray& query, unsigned int timeoutMs, int attempts);

    // True when the device behind the COM name answered every exchange with these line settings.
    bool Probe(const QString& port, unsigned int baud, unsigned char dataBits, unsigned char parity,
               unsigned char stopBits, int flowControl) const;

    // One step of the reply search: appends what was read (every byte, 0x00 too) to the carried text
    // and looks for the reply. On a match the text keeps what followed the reply less one character.
    bool TakeReply(QByteArray& carried, const QByteArray& read) const;

private:
    QByteArray m_strReply;
    QByteArray m_strQuery;
    unsigned int m_nTimeout;
    int m_nAttempts;
};
