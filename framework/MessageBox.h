#pragma once
// The one way the program asks a modal question or reports an outcome.

#include <windows.h>

#include <string>
#include <vector>

namespace tarnwick {

// The string resource of the program that holds its title: the caption of every message box
// it shows. A program without one shows its file name.
inline constexpr UINT kAppTitleStringId = 0xE000;

// Shows a modal message box owned by owner (may be null); returns the button pressed.
int AppMessageBox(HWND owner, const std::wstring& text, UINT flags = MB_OK);

// A path as a message shows it: one too long to read in a message box, which would also grow
// wider than the screen, keeps its start and its last part and loses its middle.
std::wstring PathForMessage(const std::wstring& path);
// The text with each of the paths, where it appears in full, shown as PathForMessage shows it.
std::wstring WithPathsForMessage(std::wstring text, const std::vector<std::wstring>& paths);

// Shows text in the application's message box, then ends the process with exit status 1.
[[noreturn]] void ExitWithFatalMessage(const std::wstring& text);

}  // namespace tarnwick
