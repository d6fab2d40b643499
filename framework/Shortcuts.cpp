#include "Shortcuts.h"

namespace tarnwick {

namespace {

// The dialog loop hands every message to the thread's message filter first (MSGF_DIALOGBOX),
// which carries no data of its own: the shortcuts in force are found here.
thread_local CDialogShortcuts* g_shortcuts = nullptr;

bool ControlHeld() { return (::GetKeyState(VK_CONTROL) & 0x8000) != 0; }

}  // namespace

CDialogShortcuts::CDialogShortcuts(HWND dialog, std::vector<CShortcut> shortcuts)
    : dialog_(dialog), shortcuts_(std::move(shortcuts)), previous_(g_shortcuts)
{
    g_shortcuts = this;
    hook_.reset(::SetWindowsHookExW(WH_MSGFILTER, Filter, nullptr, ::GetCurrentThreadId()));
}

CDialogShortcuts::~CDialogShortcuts() { g_shortcuts = previous_; }

bool CDialogShortcuts::Take(const MSG& message) const
{
    if (message.message != WM_KEYDOWN || (message.hwnd != dialog_ && !::IsChild(dialog_, message.hwnd)))
        return false;
    for (const CShortcut& shortcut : shortcuts_) {
        if (shortcut.key != message.wParam || shortcut.control != ControlHeld() ||
            (shortcut.focusId != 0 && ::GetDlgCtrlID(message.hwnd) != shortcut.focusId))
            continue;
        const HWND button = ::GetDlgItem(dialog_, shortcut.command);
        if (!button || ::IsWindowEnabled(button))
            ::PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(shortcut.command, BN_CLICKED), 0);
        return true;
    }
    return false;
}

LRESULT CALLBACK CDialogShortcuts::Filter(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == MSGF_DIALOGBOX && g_shortcuts && g_shortcuts->Take(*reinterpret_cast<const MSG*>(lParam)))
        return TRUE;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace tarnwick
