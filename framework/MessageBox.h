#pragma once
// The one way the program asks a modal question or reports an outcome.

#include <windows.h>

#include <string>

namespace tarnwick {

// Caption of every message box the main program shows.
inline constexpr wchar_t kAppCaption[] = L"Tarnwick";

// Shows a modal message box owned by owner (may be null); returns the button pressed.
int AppMessageBox(HWND owner, const std::wstring& text, UINT flags = MB_OK);

// Shows text in the application's message box, then ends the process with exit status 1.
[[noreturn]] void ExitWithFatalMessage(const std::wstring& text);

}  // namespace tarnwick
