#pragma once

// Asks the system for timers of a millisecond while an order plays (fine_timer_win.cpp,
// fine_timer_posix.cpp): Windows otherwise wakes a sleep only every 15.6 ms, which would make the
// pacer's last short wait, and with it a line, up to that much late.
class CFineTimer {
public:
    CFineTimer() = default;
    ~CFineTimer() { Hold(false); }
    CFineTimer(const CFineTimer&) = delete;
    CFineTimer& operator=(const CFineTimer&) = delete;
    void Hold(bool on);
    bool IsHeld() const { return m_bHeld; }

private:
    bool m_bHeld = false;
};
