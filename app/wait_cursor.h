#pragma once

#include <functional>

// Shows the wait cursor for its lifetime, where the window has said how (SetWaitCursorHandler);
// does nothing in the command-line tools.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    bool m_bActive;
};

// Called with true when a wait begins and false when it ends.
using WaitCursorHandler = std::function<void(bool waiting)>;
void SetWaitCursorHandler(WaitCursorHandler handler);
