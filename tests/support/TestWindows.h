#pragma once
// Windows as a person meets them: finding them, reading them, pressing their buttons and keys,
// dragging, and pictures of them.

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick::test {

// The first visible top-level window of any process that satisfies test, polled for.
HWND WaitForVisibleWindow(DWORD timeoutMs, const std::function<bool(HWND)>& test);
// Visible dialog windows (message boxes included) of a process.
HWND WaitForDialogOf(DWORD pid, DWORD timeoutMs = 10000);
// Offers each visible top-level window (of every process, or of one) to visit, until it
// returns false.
void ForEachVisibleWindow(const std::function<bool(HWND)>& visit);
void ForEachVisibleWindowOf(DWORD pid, const std::function<bool(HWND)>& visit);

// A visible message box of a process (a dialog with the message text control).
HWND WaitForMessageBoxOf(DWORD pid, DWORD timeoutMs = 10000);
// The text of a message box.
std::wstring MessageBoxText(HWND box);
// The text or caption of any window, also of another process.
std::wstring WindowText(HWND window);
// Clicks a button of a dialog and returns once the dialog has handled the click.
void Click(HWND dialog, int id);
// Presses a button of a dialog the way a click would, without waiting for it to be handled
// (the dialog may run a modal loop of its own, or live in another thread or process).
void PressDialogButton(HWND dialog, int id);

// The visible top-level window of a process that holds a control with this id.
HWND WaitForWindowWithControl(DWORD pid, int controlId, DWORD timeoutMs = 20000);

// The text of a list-view cell, also when the list view lives in another process.
std::wstring ListViewCellText(HWND list, int row, int column);
std::vector<std::wstring> ListViewColumn(HWND list, int column);
// Clicks a column header of a list view of this process as a person would: press and release
// over it.
void ClickHeader(HWND list, int column);

// What a window shows, as 24-bit rows from the bottom up.
struct WindowPicture {
    int width = 0, height = 0;
    std::vector<BYTE> pixels;
};
// The window, frame included, as it has painted itself so far, without drawing it anew. It is
// read from the window's own device context, not the screen: Wine hands a window's paint on to
// the X server in its own time.
WindowPicture CaptureWindow(HWND window);
// Draws the window and all its controls anew, and returns once they are drawn.
void RedrawWholeWindow(HWND window);
// How many pixels two pictures of the same size differ in; -1 when their sizes differ.
int DifferingPixels(const WindowPicture& a, const WindowPicture& b);
// Saves a picture as a BMP beside the test program, for a person to look at.
void SavePicture(const WindowPicture& picture, const std::wstring& fileName);
// Draws the window anew and saves its picture.
void SaveWindowPicture(HWND window, const std::wstring& fileName);

// The control that has the keyboard focus in the thread of window.
HWND FocusOf(HWND window);
// Presses a key on whatever has the focus in window's thread, through the dialog's own
// keyboard handling, as a person typing would (it arrives later; see Eventually).
void PressKey(HWND window, UINT key);
// Whether condition becomes true within the time, asking again every few milliseconds.
bool Eventually(const std::function<bool()>& condition, DWORD timeoutMs = 5000, DWORD intervalMs = 10);

// Asks a window every 50 ms, from a thread of its own, whether it answers within 100 ms (a
// WM_NULL sent with that time limit), for as long as the object lives.
class AnswerWatch {
public:
    explicit AnswerWatch(HWND window);
    ~AnswerWatch();
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;

    // How often the window did not answer in time, and its slowest answer, so far.
    int failures() const { return failures_; }
    DWORD slowestMs() const { return slowest_; }
    int asked() const { return asked_; }

private:
    HWND window_;
    std::atomic<bool> stop_{false};
    std::atomic<int> failures_{0}, asked_{0};
    std::atomic<DWORD> slowest_{0};
    std::thread thread_;
};

// Presses the left mouse button at from, moves the mouse to to in steps and releases it, as a
// person drags (screen coordinates).
void DragMouse(POINT from, POINT to, int steps = 8);
// Clicks the right mouse button at a point of the screen, a double-click time after any click.
void RightClick(POINT at);
// Presses the keys one after another and lets them go in the reverse order, as a person's
// fingers do ({VK_CONTROL, 'C'}); they reach the window with the keyboard focus.
void PressKeys(const std::vector<WORD>& keys);
// A visible shortcut menu of a process, or null.
HWND WaitForMenuOf(DWORD pid, DWORD timeoutMs = 10000);
// The text on the clipboard, empty when it holds none.
std::wstring ClipboardText();
// Puts a text of the test's own on the clipboard, to see that it is replaced; the clipboard
// takes a window as the owner of what it holds.
void SetClipboardText(HWND owner, const std::wstring& text);

}  // namespace tarnwick::test
