#include "app/wait_cursor.h"

namespace {
WaitCursorHandler& Handler() {
    static WaitCursorHandler handler;
    return handler;
}
} // namespace

CWaitCursor::CWaitCursor() : m_bActive(static_cast<bool>(Handler())) {
    if (m_bActive)
        Handler()(true);
}

CWaitCursor::~CWaitCursor() {
    if (m_bActive && Handler())
        Handler()(false);
}

void SetWaitCursorHandler(WaitCursorHandler handler) {
    Handler() = std::move(handler);
}
