#include "ProgramWindows.h"

#include <functional>

namespace tarnwick {

namespace {

using WindowVisitor = std::function<void(HWND window, DWORD pid)>;

BOOL CALLBACK VisitIfClosable(HWND window, LPARAM visitor)
{
    if (::IsWindowVisible(window) && !::GetWindow(window, GW_OWNER)) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        (*reinterpret_cast<const WindowVisitor*>(visitor))(window, pid);
    }
    return TRUE;
}

void ForEachClosableWindow(const WindowVisitor& visit)
{
    ::EnumWindows(VisitIfClosable, reinterpret_cast<LPARAM>(&visit));
}

}  // namespace

std::unordered_set<DWORD> ProcessesWithWindows()
{
    std::unordered_set<DWORD> pids;
    ForEachClosableWindow([&](HWND, DWORD pid) { pids.insert(pid); });
    return pids;
}

std::size_t AskWindowsToClose(DWORD pid)
{
    std::size_t asked = 0;
    ForEachClosableWindow([&](HWND window, DWORD owner) {
        if (owner == pid && ::PostMessageW(window, WM_CLOSE, 0, 0))
            ++asked;
    });
    return asked;
}

}  // namespace tarnwick
