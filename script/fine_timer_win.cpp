#include "script/fine_timer.h"

#include <windows.h>

#include <timeapi.h>

void CFineTimer::Hold(bool on) {
    if (on == m_bHeld)
        return;
    if (on)
        m_bHeld = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    else {
        ::timeEndPeriod(1);
        m_bHeld = false;
    }
}
