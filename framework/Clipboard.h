#pragma once
// Text for other programs, through the clipboard.

#include <windows.h>

#include <string>

namespace tarnwick {

// Puts text on the clipboard as Unicode text in place of what was there; false when the
// clipboard could not be had (another program holding it open) or the text not placed.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);

}  // namespace tarnwick
