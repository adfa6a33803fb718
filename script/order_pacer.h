#pragma once

#include "script/fine_timer.h"

#include <QElapsedTimer>

// Paces script lines on a single-shot timer. Each tick counts the next delay from the moment it was
// due, not from when it fired, so that the timer's lateness does not add up from line to line.
class COrderPacer {
public:
    COrderPacer() { m_clock.start(); }
    // The interval to start the timer with, for a line due delayMs from the tick being handled (or
    // from now, outside a tick).
    int Schedule(int delayMs);
    // The order has stopped: the fine system timer that Schedule asked for is let go.
    void Idle() { m_fineTimer.Hold(false); }
    // Held while a tick is handled. It first waits out the early start of the timer. A tick held up
    // for longer than a moment (the event loop busy painting) counts the next delay from when it ran
    // instead: catching up would put the next line on the wire early by as much.
    class CTick {
    public:
        explicit CTick(COrderPacer& pacer) : m_pacer(pacer) { m_pacer.BeginTick(); }
        ~CTick() { m_pacer.m_bInTick = false; }
        CTick(const CTick&) = delete;
        CTick& operator=(const CTick&) = delete;

    private:
        COrderPacer& m_pacer;
    };

private:
    void BeginTick();

    QElapsedTimer m_clock;
    qint64 m_nDueNs = -1;     // when the running timer is due
    qint64 m_nTickDueNs = -1; // when the tick being handled was due
    bool m_bInTick = false;
    qint64 m_nLeadMs = 0; // how early the timer is set for the line due
    qint64 m_nSpinNs = 0; // how long before it is due the tick stops sleeping
    CFineTimer m_fineTimer;
};
