#pragma once
// Measuring texts as the controls that show them draw them, and making room for a static
// text that its template made too small.

#include <windows.h>

#include <string>

namespace tarnwick {

// The height a static control's text needs when wrapped, as the control wraps it, at width.
int WrappedTextHeight(HWND control, int width);
// The width of one line of text in the window's font.
int SingleLineTextWidth(HWND window, const std::wstring& text);

// Grows static text id of a dialog to the height its text needs at its width; every control
// below it, and the dialog's bottom edge, move down by as much. The pixels added (0 when the
// text already fits). Fonts and wrapping differ with DPI, so a template cannot promise this.
int MakeRoomForText(HWND dialog, int id);

}  // namespace tarnwick
