#pragma once
// What the tests share: temporary folders, fixture processes of ours, and a way to
// answer modal windows as a person would.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick::test {

using tarnwick::Utf8ToWide;
using tarnwick::WideToUtf8;

// Full path of a program built beside the running test.
std::wstring BinPath(const std::wstring& fileName);
// Full path of a program of the 32-bit build (the launcher, the 32-bit fixtures).
std::wstring X86BinPath(const std::wstring& fileName);

// A folder the build names, in Windows form: a build under Wine records a Linux path, which
// Wine's Z: drive reaches.
std::wstring HostPath(const std::string& path);

// Quotes one argument so that the platform's splitting rules give it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);

// A fresh folder under the temporary folder, removed with all it holds at the end.
class TempDir {
public:
    explicit TempDir(const std::wstring& hint = L"tarnwick");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // Path of name inside the folder; creates the folders on the way when asked.
    std::wstring Sub(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// A drive letter that stands for a folder, as the subst command makes one, for the
// object's life. (Wine's dosdevices links report a volume device instead of the folder.)
class SubstDrive {
public:
    explicit SubstDrive(const std::wstring& folder);
    ~SubstDrive();
    SubstDrive(const SubstDrive&) = delete;
    SubstDrive& operator=(const SubstDrive&) = delete;

    bool defined() const { return defined_; }
    const std::wstring& letter() const { return letter_; }  // "T:"

private:
    std::wstring letter_;
    std::wstring folder_;
    bool defined_ = false;
};

void CreateFolders(const std::wstring& path);
void WriteFile(const std::wstring& path, const std::string& content = "x");
void RemoveTree(const std::wstring& path);

// A program started with its standard output (and its input and error, when asked for) on
// pipes whose other ends are ours.
struct PipedProcess {
    UniqueHandle process;
    DWORD pid = 0;
    UniqueHandle input;   // we write; empty unless asked for
    UniqueHandle output;  // we read
    UniqueHandle error;   // we read; empty unless asked for (then it shares ours)
};
PipedProcess StartPiped(const std::wstring& program, const std::vector<std::wstring>& args, bool pipeInput,
                        bool pipeError);
// Everything a pipe delivers until its writer closes it.
std::string ReadAll(HANDLE pipe);

// A folder "target" holding copies of the holder fixture and the fixture library, so that a
// fixture started from there has both as modules.
struct ResidentFolder {
    std::wstring target, program, library;
};
ResidentFolder MakeResidentFolder(const TempDir& dir);

// A fixture program of ours, talked to through its standard input and output.
class FixtureProcess {
public:
    struct HeldHandle {
        unsigned long long value;
        std::wstring path;
    };

    // Starts the program and waits until it prints "ready"; records the "handle VALUE PATH",
    // "module BASE PATH" and "mapping BASE PATH" lines it printed before.
    FixtureProcess(const std::wstring& program, const std::vector<std::wstring>& args);
    ~FixtureProcess();
    FixtureProcess(const FixtureProcess&) = delete;
    FixtureProcess& operator=(const FixtureProcess&) = delete;

    bool started() const { return bool(process_); }
    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_.get(); }
    const std::vector<HeldHandle>& handles() const { return handles_; }
    const std::vector<HeldHandle>& modules() const { return modules_; }
    const std::vector<HeldHandle>& mappings() const { return mappings_; }
    unsigned long long HandleOf(const std::wstring& path) const;
    unsigned long long ModuleOf(const std::wstring& path) const;

    void Send(const std::string& line);
    std::string ReadLine();
    // Asks the fixture which of its handles are still open.
    bool StillHolds(unsigned long long handle);
    // Closes its input (the fixture then ends) and waits for it; returns the exit code.
    DWORD Finish(DWORD timeoutMs = 10000);

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
    UniqueHandle input_;
    UniqueHandle output_;
    std::string pending_;
    std::vector<HeldHandle> handles_;
    std::vector<HeldHandle> modules_;
    std::vector<HeldHandle> mappings_;
};

// The locks a scan finds only when it reads the whole handle table, folds every letter's
// case, follows paths beyond 260 characters and lists 32-bit modules: held in a folder
// "Café" that the tests name as "CAFÉ".
struct HardLocks {
    std::wstring spelled;            // the folder as the tests write it
    std::vector<std::wstring> paths;  // every locked path, as a scan reports it
    std::unique_ptr<FixtureProcess> holder, holder32;
};
HardLocks MakeHardLocks(const TempDir& dir);


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
// Presses a button of a dialog the way a click would.
void PressDialogButton(HWND dialog, int id);

// The visible top-level window of a process that holds a control with this id.
HWND WaitForWindowWithControl(DWORD pid, int controlId, DWORD timeoutMs = 20000);

// The text of a list-view cell, also when the list view lives in another process.
std::wstring ListViewCellText(HWND list, int row, int column);
std::vector<std::wstring> ListViewColumn(HWND list, int column);

// What a window shows on the screen, as 24-bit rows from the bottom up.
struct WindowPicture {
    int width = 0, height = 0;
    std::vector<BYTE> pixels;
};
// The window as it is on the screen now, without drawing it anew.
WindowPicture CaptureWindow(HWND window);
// Draws the window and all its controls anew, now.
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
bool Eventually(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// Presses the left mouse button at from, moves the mouse to to in steps and releases it, as a
// person drags (screen coordinates).
void DragMouse(POINT from, POINT to, int steps = 8);

}  // namespace tarnwick::test
