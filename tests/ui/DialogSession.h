#pragma once
// Running the main dialog in a window test: the dialog runs modally on the test's thread
// while a "person" on another thread looks at it and clicks, as a user would.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "TarnwickDlg.h"

namespace tarnwick::test {

// What a person saw and did while the dialog ran.
struct Session {
    std::vector<std::wstring> startupMessages;  // boxes that came before the window
    std::vector<RECT> startupMessageRects;      // where those boxes stood on the screen
};

// Runs the dialog; message boxes shown before the window appears are recorded and
// answered OK. The person's part ends with the dialog being closed, unless it ended itself.
INT_PTR RunWithPerson(CTarnwickDlg& dialog, const std::function<void(HWND)>& person, Session* session = nullptr);

// Waits for the next message box of this process and answers it with the button; its text,
// and the button Enter would have pressed where asked.
std::wstring Answer(int button, int* defaultButton = nullptr);
// Answers the shell's own delete confirmation, owned by no window of ours.
void AnswerShellConfirmation(int button);

bool Checked(HWND window, int id);
int Rows(HWND window);
std::wstring Text(HWND window, int id);
RECT ClientRectOf(HWND window, int id);
// The size grip of a resizable dialog, or null.
HWND SizeGripOf(HWND window);
// Drags the dialog's size grip to `to` with the mouse; true once the dialog has taken the whole
// drag (left its size loop at a new size), which on a loaded machine comes well after the input.
bool DragGripTo(HWND window, POINT to);
// Selects exactly the rows whose Process column reads name.
void SelectRowsOf(HWND window, const std::wstring& processName);
// Waits until the dialog has handled everything sent or posted to it so far.
void Settle(HWND window);
// Waits for the shell's folder browser to show folder selected, picking it again when
// the browser lost it; the browser, or null.
HWND WaitForFolderBrowserAt(const std::wstring& folder);
// Presses OK in the folder browser and waits until the dialog has taken the choice.
void AcceptFolderBrowser(HWND mainWindow, HWND browser);

}  // namespace tarnwick::test
