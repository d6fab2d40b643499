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
    std::vector<std::wstring> startupMessages;  // boxes that came before the first scan was over
    std::vector<RECT> startupMessageRects;      // where those boxes stood on the screen
};

// Runs the dialog; the person's part begins once the first scan is over. Message boxes shown
// until then are recorded and answered OK. The person's part ends with the dialog being
// closed, unless it ended itself.
INT_PTR RunWithPerson(CTarnwickDlg& dialog, const std::function<void(HWND)>& person, Session* session = nullptr);

// Waits for the next message box of this process and answers it with the button; its text,
// and the button Enter would have pressed where asked.
std::wstring Answer(int button, int* defaultButton = nullptr);
// Answers the shell's own delete confirmation, owned by no window of ours.
void AnswerShellConfirmation(int button);
// Whether no scan is under way in the window: the commands that act on rows are not waiting.
bool ScanOver(HWND window);
// Waits until the scan under way (if any) is over and whatever it had to say was answered OK;
// the messages it showed are added to session's.
void WaitForScanOver(HWND window, Session* session = nullptr);

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
// Selects exactly the rows whose column reads one of the texts.
void SelectRowsWhere(HWND window, int column, const std::vector<std::wstring>& texts);
// The column's texts of the selected rows, in the rows' order.
std::vector<std::wstring> SelectedTexts(HWND window, int column);
// The middle of a row's text, in screen coordinates.
POINT RowCentre(HWND window, int row);
// Makes the window the one a person types into, with the keyboard focus on control id.
void FocusOn(HWND window, int id);
// Waits until the dialog has handled everything sent or posted to it so far.
void Settle(HWND window);
// Waits for the shell's folder browser to show folder selected, picking it again when
// the browser lost it; the browser, or null.
HWND WaitForFolderBrowserAt(const std::wstring& folder);
// Presses OK in the folder browser and waits until the dialog has taken the choice.
void AcceptFolderBrowser(HWND mainWindow, HWND browser);

}  // namespace tarnwick::test
