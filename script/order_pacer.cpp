#include "script/order_pacer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

namespace {
constexpr qint64 NS_PER_MS = 1000000;
// A timer fires up to a millisecond or so late; it is set that much early and the tick waits out the rest.
constexpr qint64 PACER_LEAD_MS = 2;
constexpr qint64 PACER_LATE_NS = NS_PER_MS; // a tick later than this does not catch up
constexpr qint64 PACER_SPIN_NS = 150000;    // what a sleep may overshoot by
// Before a line that follows a long delay the tick wakes earlier and spins longer: a busy machine
// (a lab of lanes) wakes a sleeper a millisecond or more late now and then, and the spin costs
// little against the delay. Lines close together (Stop's finishing) cannot afford it.
constexpr int PACER_LONG_DELAY_MS = 100;
constexpr qint64 PACER_LONG_LEAD_MS = 4;
constexpr qint64 PACER_LONG_SPIN_NS = 1500000;
} // namespace

int COrderPacer::Schedule(int delayMs) {
    m_fineTimer.Hold(true);
    const qint64 now = m_clock.nsecsElapsed();
    qint64 base = now;
    if (m_bInTick && m_nTickDueNs >= 0)
        base = m_nTickDueNs;
    m_nDueNs = base + qint64(delayMs) * NS_PER_MS;
    const bool longDelay = delayMs >= PACER_LONG_DELAY_MS;
    m_nLeadMs = longDelay ? PACER_LONG_LEAD_MS : PACER_LEAD_MS;
    m_nSpinNs = longDelay ? PACER_LONG_SPIN_NS : PACER_SPIN_NS;
    const qint64 waitMs = std::max<qint64>(0, (m_nDueNs - now) / NS_PER_MS - m_nLeadMs);
    return static_cast<int>(std::min<qint64>(waitMs, INT_MAX));
}

void COrderPacer::BeginTick() {
    const qint64 limit = m_clock.nsecsElapsed() + (m_nLeadMs + 1) * NS_PER_MS;
    const qint64 until = std::min(m_nDueNs, limit);
    // Sleeps most of the wait, which leaves the core to other threads, and spins only the last moment.
    for (qint64 now = m_clock.nsecsElapsed(); now < until; now = m_clock.nsecsElapsed()) {
        if (until - now > m_nSpinNs)
            std::this_thread::sleep_for(std::chrono::nanoseconds(until - now - m_nSpinNs));
        else
            std::this_thread::yield();
    }
    const qint64 now = m_clock.nsecsElapsed();
    m_nTickDueNs = m_nDueNs >= 0 && now - m_nDueNs < PACER_LATE_NS ? m_nDueNs : now;
    m_bInTick = true;
}
