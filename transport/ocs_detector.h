#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

// Line-setting codes of a probe.
enum { PROBE_PARITY_NONE = 0, PROBE_PARITY_ODD = 1 };
enum { PROBE_STOPBITS_ONE = 0 };

// A serial OCS probe: writes the query and waits for the reply, a number of times in a row.
class COcsDetector {
public:
    COcsDetector(const QByteArray& reply, const QByteArray& query, unsigned int timeoutMs, int attempts);

    // True when the device behind the COM name answered every exchange with these line settings. An
    // exchange that gets no reply within the time-out fails, also while other bytes keep coming; a
    // cancel set meanwhile ends the probe within PROBE_SLICE_MS.
    bool Probe(const QString& port, unsigned int baud, unsigned char dataBits, unsigned char parity,
               unsigned char stopBits, int flowControl, const std::atomic<bool>* cancel = nullptr) const;

    // One step of the reply search: appends what was read (every byte, 0x00 too) to the carried text
    // and looks for the reply. On a match the text keeps what followed the reply less one character.
    bool TakeReply(QByteArray& carried, const QByteArray& read) const;

private:
    QByteArray m_strReply;
    QByteArray m_strQuery;
    unsigned int m_nTimeout;
    int m_nAttempts;
};

// The OCS's own exchange: ENQ answered by ACK within 5 s, five times in a row.
COcsDetector DefaultOcsDetector();

// How long a probe waits at most before it looks at its cancel flag again.
constexpr unsigned int PROBE_SLICE_MS = 100;

// What a search for the OCS found: the port and line settings it answered on.
struct SDetectResult {
    bool bFound = false;
    bool bCancelled = false;
    QString strPort;
    QString strBaud;
    QString strParity;
};

class CAppSettings;
// Each try before it is probed: the port and the baud rate.
using DetectProgress = std::function<void(const QString& port, const QString& baud)>;

// Probes COM1..COM11 (adapters first) at each candidate setting until the OCS answers.
SDetectResult SearchForOcs(const COcsDetector& detector, const DetectProgress& trying = DetectProgress(),
                           const std::atomic<bool>* cancel = nullptr);
// How many tries a whole search makes.
int SearchTryCount();
// The serial settings take the ones that worked.
void ApplyDetectResult(CAppSettings& settings, const SDetectResult& result);

// A search on a worker thread: Trying and Finished come on the thread that started it.
class COcsSearch : public QObject {
    Q_OBJECT
public:
    explicit COcsSearch(const COcsDetector& detector, QObject* parent = nullptr);
    ~COcsSearch() override; // cancels and waits for the worker
    void Start();
    // Finished (cancelled) follows within PROBE_SLICE_MS or so.
    void Cancel();
    bool IsRunning() const { return m_bRunning; }

signals:
    void Trying(const QString& port, const QString& baud, int index);
    void Finished(const SDetectResult& result);

private:
    struct SShared;
    COcsDetector m_detector;
    std::shared_ptr<SShared> m_pShared;
    bool m_bRunning = false;
};
