#pragma once
// Keys that stand for a dialog's commands, wherever the focus is in the dialog or only on one of
// its controls, for a dialog run modally by the system (which offers no accelerator table).

#include <windows.h>

#include <vector>

#include "ScopedHandle.h"

namespace tarnwick {

struct CShortcut {
    UINT key;      // a virtual-key code
    bool control;  // pressed with Ctrl held
    int focusId;   // 0: wherever the focus is in the dialog; else only while this control has it
    int command;   // sent to the dialog as a button's click
};

// While the object lives, a shortcut's key sends the dialog its command (WM_COMMAND with
// BN_CLICKED, posted) instead of reaching the control with the focus. A command whose button
// is disabled is not sent, as the button could not be clicked. Made on the dialog's thread.
class CDialogShortcuts {
public:
    CDialogShortcuts(HWND dialog, std::vector<CShortcut> shortcuts);
    ~CDialogShortcuts();
    CDialogShortcuts(const CDialogShortcuts&) = delete;
    CDialogShortcuts& operator=(const CDialogShortcuts&) = delete;

private:
    static LRESULT CALLBACK Filter(int code, WPARAM wParam, LPARAM lParam);
    // True when the message was a shortcut's key, now handled.
    bool Take(const MSG& message) const;

    HWND dialog_;
    std::vector<CShortcut> shortcuts_;
    CDialogShortcuts* previous_;
    UniqueHook hook_;
};

}  // namespace tarnwick
