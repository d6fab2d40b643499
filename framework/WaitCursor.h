#pragma once
// Shows the hourglass for as long as the object lives, around work that blocks the window.

#include <windows.h>

namespace tarnwick {

class CWaitCursor {
public:
    CWaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { ::SetCursor(previous_); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR previous_;
};

}  // namespace tarnwick
