#include "script/fine_timer.h"

// Sleeps end within the scheduler's granularity here already: nothing to ask for.
void CFineTimer::Hold(bool on) {
    m_bHeld = on;
}
