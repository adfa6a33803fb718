#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
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

    // True when the device behind the COM name answered every exchange with these line settings. Each
    // exchange starts from a drained input and fails when no reply comes within the time-out of its
    // query, also while other bytes keep coming. A device that sends anything in the quiet moment
    // before the first query is no OCS (an OCS speaks when asked): false, with *unasked set. A cancel
    // set meanwhile ends the probe within PROBE_SLICE_MS. The device gets its line settings back.
    bool Probe(const QString& port, unsigned int baud, unsigned char dataBits, unsigned char parity,
               unsigned char stopBits, int flowControl, const std::atomic<bool>* cancel = nullptr,
               bool* unasked = nullptr) const;

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
// How long a probe listens before its first query: a streaming device sends something by then.
constexpr unsigned int PROBE_QUIET_MS = 150;

// What a search for the OCS found: the port and line settings it answered on.
struct SDetectResult {
    bool bFound = false;
    bool bCancelled = false;
    QString strPort;
    QString strBaud;
    QString strParity;
    QStringList skipped; // ports that sent bytes unasked: no OCS there
};

class CAppSettings;
// Each try before it is probed: the port and the baud rate.
using DetectProgress = std::function<void(const QString& port, const QString& baud)>;

// A port passed over because it sends bytes nobody asked for.
using DetectSkipped = std::function<void(const QString& port)>;

// Probes COM1..COM11 (adapters first) at each candidate setting until the OCS answers.
SDetectResult SearchForOcs(const COcsDetector& detector, const DetectProgress& trying = DetectProgress(),
                           const std::atomic<bool>* cancel = nullptr,
                           const DetectSkipped& skipped = DetectSkipped());
// How many tries a whole search makes.
int SearchTryCount();
// Where and how the OCS answered, for people: "COM4 (the adapter usb-FTDI_...) at 19200 baud, parity
// Odd, 8 data bits, 1 stop bit".
QString DescribeDetectResult(const SDetectResult& result);
// What is said of a port passed over.
QString SkippedPortText(const QString& port);
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
    void Skipped(const QString& port);
    void Finished(const SDetectResult& result);

private:
    struct SShared;
    COcsDetector m_detector;
    std::shared_ptr<SShared> m_pShared;
    bool m_bRunning = false;
};
