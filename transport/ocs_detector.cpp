#include "transport/ocs_detector.h"

#include "transport/port_names.h"
#include "transport/probe_port.h"

#include "app/app_settings.h"
#include "transport/thread_handoff.h"

#include <QElapsedTimer>
#include <algorithm>
#include <thread>
#include <vector>

COcsDetector::COcsDetector(const QByteArray& reply, const QByteArray& query, unsigned int timeoutMs,
                           int attempts)
    : m_strReply(reply), m_strQuery(query), m_nTimeout(timeoutMs), m_nAttempts(attempts) {}

COcsDetector DefaultOcsDetector() {
    return COcsDetector(QByteArray(1, 0x06), QByteArray(1, 0x05), 5000, 5);
}

bool COcsDetector::TakeReply(QByteArray& carried, const QByteArray& read) const {
    carried += read; // NUL bytes before the ACK do not hide it
    const qsizetype found = carried.indexOf(m_strReply);
    if (found < 0)
        return false;
    carried = carried.mid(found + m_strReply.size() + 1);
    return true;
}

bool COcsDetector::Probe(const QString& port, unsigned int baud, unsigned char dataBits, unsigned char parity,
                         unsigned char stopBits, int /*flowControl: none is the only one used*/,
                         const std::atomic<bool>* cancel, bool* unasked) const {
    if (unasked)
        *unasked = false;
    CProbePort device;
    if (!device.Open(PortDeviceName(port), baud, dataBits, parity, stopBits,
                     std::min({m_nTimeout, PROBE_SLICE_MS, PROBE_QUIET_MS})))
        return false;
    device.Discard();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < qint64(PROBE_QUIET_MS)) {
        if (!device.Read(256).isEmpty()) {
            if (unasked)
                *unasked = true;
            return false;
        }
    }
    for (int attempt = 0; attempt < m_nAttempts; ++attempt) {
        // Only what answers this query counts: an ACK in older input proves nothing.
        device.Discard();
        QByteArray carried;
        device.Write(m_strQuery);
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            if ((cancel && cancel->load()) || clock.elapsed() >= qint64(m_nTimeout))
                return false;
            if (TakeReply(carried, device.Read(256)))
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

// Ports with an adapter behind them first (on a laptop the only real ones), then the rest in order.
std::vector<int> ProbeOrder() {
    AssignAdapterPorts(); // an adapter plugged in just now
    std::vector<int> order = AdapterPortNumbers();
    for (int n = 1; n <= PROBE_LAST_PORT; ++n) {
        if (std::find(order.begin(), order.end(), n) == order.end())
            order.push_back(n);
    }
    return order;
}
} // namespace

int SearchTryCount() {
    return int(ProbeOrder().size() * std::size(PROBE_CANDIDATES));
}

SDetectResult SearchForOcs(const COcsDetector& detector, const DetectProgress& trying,
                           const std::atomic<bool>* cancel, const DetectSkipped& skipped) {
    SDetectResult result;
    for (const int n : ProbeOrder()) {
        const QString port = QStringLiteral("COM%1").arg(n);
        for (const SProbeCandidate& candidate : PROBE_CANDIDATES) {
            if (cancel && cancel->load()) {
                result.bCancelled = true;
                return result;
            }
            if (trying)
                trying(port, QString::fromLatin1(candidate.pszBaud));
            bool unasked = false;
            if (!detector.Probe(port, candidate.nBaud, 8, candidate.nParity, PROBE_STOPBITS_ONE, 0, cancel,
                                &unasked)) {
                if (!unasked)
                    continue;
                result.skipped << port; // its other settings are not tried either
                if (skipped)
                    skipped(port);
                break;
            }
            result.bFound = true;
            result.strPort = port;
            result.strBaud = QString::fromLatin1(candidate.pszBaud);
            result.strParity = QString::fromLatin1(candidate.pszParity);
            return result;
        }
    }
    result.bCancelled = cancel && cancel->load();
    return result;
}

QString DescribeDetectResult(const SDetectResult& result) {
    const QString adapter = PortAdapter(result.strPort);
    const QString where = adapter.isEmpty()
                              ? PortWithDevice(result.strPort)
                              : QStringLiteral("%1 (the adapter %2)").arg(result.strPort, adapter);
    return QStringLiteral("%1 at %2 baud, parity %3, 8 data bits, 1 stop bit")
        .arg(where, result.strBaud, result.strParity);
}

QString SkippedPortText(const QString& port) {
    return QStringLiteral("%1 sends data nobody asked for: not an OCS, skipped").arg(port);
}

void ApplyDetectResult(CAppSettings& settings, const SDetectResult& result) {
    if (!result.bFound)
        return;
    settings.m_strBaud = result.strBaud;
    settings.m_strParity = result.strParity;
    settings.m_strPort = result.strPort;
    settings.m_strDataBits = QStringLiteral("8");
    settings.m_strFlowControl = QStringLiteral("None");
    settings.m_strStopBits = QStringLiteral("1");
    settings.m_bAutodetect = 1;
    settings.m_bUseNetwork = 0;
    settings.m_bUseSerial = 1;
}

// What the worker and the search share; the worker holds it too, so a search destroyed first is safe.
struct COcsSearch::SShared {
    std::atomic<bool> bCancel{false};
    std::thread worker;
};

COcsSearch::COcsSearch(const COcsDetector& detector, QObject* parent)
    : QObject(parent), m_detector(detector), m_pShared(std::make_shared<SShared>()) {}

COcsSearch::~COcsSearch() {
    Cancel();
    if (m_pShared->worker.joinable())
        m_pShared->worker.join();
}

void COcsSearch::Start() {
    if (m_bRunning)
        return;
    if (m_pShared->worker.joinable())
        m_pShared->worker.join();
    m_bRunning = true;
    m_pShared->bCancel = false;
    auto* handoff = new CThreadHandoff(this);
    int index = 0;
    m_pShared->worker =
        std::thread([this, handoff, index, shared = m_pShared, detector = m_detector]() mutable {
            const SDetectResult result = SearchForOcs(
                detector,
                [&](const QString& port, const QString& baud) {
                    const int at = index++;
                    handoff->Post([this, port, baud, at] { emit Trying(port, baud, at); });
                },
                &shared->bCancel,
                [&](const QString& port) { handoff->Post([this, port] { emit Skipped(port); }); });
            handoff->Post([this, handoff, result] {
                m_bRunning = false;
                handoff->deleteLater();
                emit Finished(result);
            });
        });
}

void COcsSearch::Cancel() {
    m_pShared->bCancel = true;
}
