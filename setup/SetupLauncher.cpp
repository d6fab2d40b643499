// setup.exe: starts the installer that matches the width of Windows, waits for it, and
// tells the user when none could be started.
#include <windows.h>
#include <shellapi.h>

#include "ScopedHandle.h"

// The launcher is always a 32-bit program; this is the size Windows expects from it.
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "SHELLEXECUTEINFOW must have its 32-bit layout");

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // A failed query leaves FALSE, which chooses the 32-bit installer.
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    // Without FLAG_NO_UI the shell reports a failed start in a box of its own before ours,
    // and the launcher shows one message at most.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    // Relative and with no directory: the shell looks for it from the current directory
    // (and the launcher's own folder), where the installers sit beside the launcher.
    info.lpFile = wow64 ? L"x64\\setup.exe" : L"x86\\setup.exe";
    info.nShow = SW_HIDE;
    // The returned process handle, not the BOOL, says whether an installer is running.
    ::ShellExecuteExW(&info);

    const tarnwick::UniqueHandle installer(info.hProcess);
    if (installer)
        ::WaitForSingleObject(installer.get(), INFINITE);
    else
        ::MessageBoxW(nullptr, L"A fatal error occurred during installation", L"setup", MB_OK);
    // Callers read 1 whatever happened; the installer reports its own outcome.
    return 1;
}
