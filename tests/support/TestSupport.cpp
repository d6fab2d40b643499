#include "TestSupport.h"

#include <gtest/gtest.h>

#include "CommandLine.h"
#include "NoticeFlag.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <stdexcept>

namespace tarnwick::test {

std::wstring BinPath(const std::wstring& fileName)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir.resize(dir.find_last_of(L'\\') + 1);
    return dir + fileName;
}

std::wstring HostPath(const std::string& path)
{
    std::wstring windows = Utf8ToWide(path);
    if (!windows.empty() && windows[0] == L'/')
        windows = L"Z:" + windows;
    for (wchar_t& c : windows) {
        if (c == L'/')
            c = L'\\';
    }
    return windows;
}

std::wstring X86BinPath(const std::wstring& fileName) { return HostPath(TARNWICK_X86_BIN_DIR) + L"\\" + fileName; }

std::wstring QuoteArgument(const std::wstring& argument) { return QuoteCommandLineArgument(argument); }

TempDir::TempDir(const std::wstring& hint)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    for (;;) {
        path_ = std::wstring(temp) + hint + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (::CreateDirectoryW(path_.c_str(), nullptr))
            break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create a temporary folder");
    }
}

// Through the long-path prefix, so that folders deeper than 260 characters go too.
TempDir::~TempDir() { RemoveTree(L"\\\\?\\" + path_); }

ResidentFolder MakeResidentFolder(const TempDir& dir)
{
    ResidentFolder folder{dir.Sub(L"target"), dir.Sub(L"target\\holder.exe"), dir.Sub(L"target\\lockdll.dll")};
    CreateFolders(folder.target);
    if (!::CopyFileW(BinPath(L"holder.exe").c_str(), folder.program.c_str(), FALSE) ||
        !::CopyFileW(BinPath(L"lockdll.dll").c_str(), folder.library.c_str(), FALSE))
        throw std::runtime_error("cannot copy the fixtures");
    return folder;
}

namespace {

wchar_t FreeDriveLetter()
{
    const DWORD used = ::GetLogicalDrives();
    for (wchar_t letter = L'T'; letter <= L'Y'; ++letter) {
        if (!(used & (1u << (letter - L'A'))))
            return letter;
    }
    return 0;
}

}  // namespace

SubstDrive::SubstDrive(const std::wstring& folder) : letter_{FreeDriveLetter(), L':'}, folder_(folder)
{
    defined_ = letter_[0] && ::DefineDosDeviceW(0, letter_.c_str(), folder_.c_str());
}

SubstDrive::~SubstDrive()
{
    if (defined_)
        ::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, letter_.c_str(), folder_.c_str());
}

void CreateFolders(const std::wstring& path)
{
    for (std::size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
        if (at == std::wstring::npos)
            break;
    }
}

void WriteFile(const std::wstring& path, const std::string& content)
{
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        throw std::runtime_error("cannot create " + WideToUtf8(path));
    DWORD written = 0;
    ::WriteFile(file.get(), content.data(), DWORD(content.size()), &written, nullptr);
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find.get(), &data));
    }
    ::RemoveDirectoryW(path.c_str());
}

namespace {

// A pipe whose one end the child inherits; the other end stays ours.
void MakePipe(UniqueHandle& ours, UniqueHandle& child, bool childReads)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const BOOL made = childReads ? ::CreatePipe(child.put(), ours.put(), &inherit, 0)
                                 : ::CreatePipe(ours.put(), child.put(), &inherit, 0);
    if (!made)
        throw std::runtime_error("cannot create a pipe");
    ::SetHandleInformation(ours.get(), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

PipedProcess StartPiped(const std::wstring& program, const std::vector<std::wstring>& args, bool pipeInput,
                        bool pipeError)
{
    PipedProcess started;
    UniqueHandle childInput, childOutput, childError;
    if (pipeInput)
        MakePipe(started.input, childInput, true);
    MakePipe(started.output, childOutput, false);
    if (pipeError)
        MakePipe(started.error, childError, false);

    std::wstring commandLine = QuoteArgument(program);
    for (const auto& arg : args)
        commandLine += L" " + QuoteArgument(arg);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = pipeInput ? childInput.get() : ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = childOutput.get();
    startup.hStdError = pipeError ? childError.get() : ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info))
        throw std::runtime_error("cannot start " + WideToUtf8(program));
    ::CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.pid = info.dwProcessId;
    return started;
}

std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(pipe, chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    return text;
}

FixtureProcess::FixtureProcess(const std::wstring& program, const std::vector<std::wstring>& args)
{
    PipedProcess started = StartPiped(program, args, true, false);
    process_ = std::move(started.process);
    pid_ = started.pid;
    input_ = std::move(started.input);
    output_ = std::move(started.output);

    for (std::string line = ReadLine(); line != "ready"; line = ReadLine()) {
        if (line.empty() && ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0)
            throw std::runtime_error("fixture ended before it was ready");
        const std::size_t valueAt = line.find(' ') + 1, pathAt = line.find(' ', valueAt) + 1;
        const HeldHandle held = {std::strtoull(line.c_str() + valueAt, nullptr, 0), Utf8ToWide(line.substr(pathAt))};
        if (line.rfind("handle ", 0) == 0)
            handles_.push_back(held);
        else if (line.rfind("module ", 0) == 0)
            modules_.push_back(held);
        else if (line.rfind("mapping ", 0) == 0)
            mappings_.push_back(held);
    }
}

FixtureProcess::~FixtureProcess()
{
    if (process_ && Finish(5000) == STILL_ACTIVE)
        ::TerminateProcess(process_.get(), 1);
}

namespace {

unsigned long long ValueOf(const std::vector<FixtureProcess::HeldHandle>& held, const std::wstring& path)
{
    for (const auto& entry : held) {
        if (_wcsicmp(entry.path.c_str(), path.c_str()) == 0)
            return entry.value;
    }
    return 0;
}

}  // namespace

unsigned long long FixtureProcess::HandleOf(const std::wstring& path) const { return ValueOf(handles_, path); }

unsigned long long FixtureProcess::ModuleOf(const std::wstring& path) const { return ValueOf(modules_, path); }

void FixtureProcess::Send(const std::string& line)
{
    const std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(input_.get(), text.data(), DWORD(text.size()), &written, nullptr);
}

bool FixtureProcess::StillHolds(unsigned long long handle)
{
    Send("check");
    bool open = false;
    for (std::string line = ReadLine(); line != "checked" && !line.empty(); line = ReadLine()) {
        if (line.rfind("open ", 0) == 0 && std::strtoull(line.c_str() + 5, nullptr, 0) == handle)
            open = true;
    }
    return open;
}

std::string FixtureProcess::ReadLine()
{
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        char chunk[4096];
        DWORD read = 0;
        if (!::ReadFile(output_.get(), chunk, sizeof chunk, &read, nullptr) || read == 0) {
            std::string rest = std::move(pending_);
            pending_.clear();
            return rest;
        }
        pending_.append(chunk, read);
    }
}

DWORD FixtureProcess::Finish(DWORD timeoutMs)
{
    input_.reset();
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

namespace {

DWORD g_criticalPid = 0;

}  // namespace

void ReportCriticalProcess(DWORD pid) { g_criticalPid = pid; }

LONG NTAPI QueryProcessReportingCritical(HANDLE process, ULONG infoClass, PVOID buffer, ULONG length, PULONG returned)
{
    constexpr ULONG kBreakOnTermination = 29;
    if (infoClass == kBreakOnTermination && length == sizeof(ULONG) && ::GetProcessId(process) == g_criticalPid) {
        *static_cast<ULONG*>(buffer) = 1;
        return 0;
    }
    using Query = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const auto real =
        reinterpret_cast<Query>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess"));
    return real(process, infoClass, buffer, length, returned);
}

FARPROC WINAPI ProcReportingCritical(HMODULE module, LPCSTR name)
{
    if (std::string(name) == "NtQueryInformationProcess")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(QueryProcessReportingCritical));
    return ::GetProcAddress(module, name);
}

HardLocks MakeHardLocks(const TempDir& dir)
{
    const std::wstring folder = dir.Sub(L"Caf\u00e9"), longPathPrefix = L"\\\\?\\";
    CreateFolders(folder);
    std::wstring deep = folder;
    while (deep.size() < 300) {
        deep += L"\\a-long-folder-name";
        ::CreateDirectoryW((longPathPrefix + deep).c_str(), nullptr);
    }
    const std::wstring high = folder + L"\\high.txt", distant = deep + L"\\far.txt", lib32 = folder + L"\\lock32.dll";
    if (!::CopyFileW(X86BinPath(L"lockdll.dll").c_str(), lib32.c_str(), FALSE))
        throw std::runtime_error("cannot copy the 32-bit library");
    HardLocks locks{dir.Sub(L"CAF\u00c9"), {high, distant, lib32}, nullptr, nullptr};
    locks.holder = std::make_unique<FixtureProcess>(
        BinPath(L"holder.exe"), std::vector<std::wstring>{L"events", L"17000", L"open", high, L"open",
                                                          longPathPrefix + distant});
    locks.holder32 = std::make_unique<FixtureProcess>(X86BinPath(L"holder.exe"), std::vector<std::wstring>{L"load", lib32});
    if (locks.holder->HandleOf(high) <= 0xFFFF)
        throw std::runtime_error("the holder's handle is not above 16 bits");
    return locks;
}

namespace {

constexpr int kMessageTextId = 0xFFFF;

BOOL CALLBACK OfferWindow(HWND window, LPARAM param)
{
    return (*reinterpret_cast<const std::function<bool(HWND)>*>(param))(window) ? TRUE : FALSE;
}

bool IsDialog(HWND window)
{
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    return wcscmp(className, L"#32770") == 0;
}

HWND WaitForWindowOf(DWORD pid, DWORD timeoutMs, const std::function<bool(HWND)>& test)
{
    return WaitForVisibleWindow(timeoutMs, [&](HWND window) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        return owner == pid && test(window);
    });
}

HWND WaitForDialog(DWORD pid, DWORD timeoutMs, bool messageBoxOnly)
{
    return WaitForWindowOf(pid, timeoutMs, [messageBoxOnly](HWND window) {
        return IsDialog(window) && (!messageBoxOnly || ::GetDlgItem(window, kMessageTextId));
    });
}

}  // namespace

HWND WaitForVisibleWindow(DWORD timeoutMs, const std::function<bool(HWND)>& test)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do {
        HWND found = nullptr;
        ForEachVisibleWindow([&](HWND window) {
            if (test(window))
                found = window;
            return found == nullptr;
        });
        if (found)
            return found;
        ::Sleep(20);
    } while (::GetTickCount64() < deadline);
    return nullptr;
}

void ForEachVisibleWindow(const std::function<bool(HWND)>& visit)
{
    const std::function<bool(HWND)> offer = [&](HWND window) { return !::IsWindowVisible(window) || visit(window); };
    ::EnumWindows(OfferWindow, reinterpret_cast<LPARAM>(&offer));
}

void ForEachVisibleWindowOf(DWORD pid, const std::function<bool(HWND)>& visit)
{
    ForEachVisibleWindow([&](HWND window) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        return owner != pid || visit(window);
    });
}

HWND WaitForDialogOf(DWORD pid, DWORD timeoutMs) { return WaitForDialog(pid, timeoutMs, false); }

HWND WaitForMessageBoxOf(DWORD pid, DWORD timeoutMs) { return WaitForDialog(pid, timeoutMs, true); }

std::wstring MessageBoxText(HWND box)
{
    wchar_t text[2048] = {};
    ::GetDlgItemTextW(box, kMessageTextId, text, 2048);
    return text;
}

void PressDialogButton(HWND dialog, int id)
{
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

namespace {

// Memory inside another process, for messages whose parameters point at a buffer.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, std::size_t size)
        : process_(process), address_(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE))
    {
    }
    ~RemoteBuffer()
    {
        if (address_)
            ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    BYTE* get() const { return static_cast<BYTE*>(address_); }

private:
    HANDLE process_;
    void* address_;
};

}  // namespace

HWND WaitForWindowWithControl(DWORD pid, int controlId, DWORD timeoutMs)
{
    return WaitForWindowOf(pid, timeoutMs, [controlId](HWND window) { return ::GetDlgItem(window, controlId) != nullptr; });
}

std::wstring ListViewCellText(HWND list, int row, int column)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(list, &pid);
    constexpr int kChars = 1024;
    if (pid == ::GetCurrentProcessId()) {
        wchar_t text[kChars] = {};
        ListView_GetItemText(list, row, column, text, kChars);
        return text;
    }
    UniqueHandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    RemoteBuffer remote(process.get(), sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<LPWSTR>(remote.get() + sizeof(LVITEMW));
    item.cchTextMax = kChars;
    ::WriteProcessMemory(process.get(), remote.get(), &item, sizeof item, nullptr);
    ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.get()));
    wchar_t text[kChars] = {};
    ::ReadProcessMemory(process.get(), remote.get() + sizeof(LVITEMW), text, sizeof text - sizeof(wchar_t), nullptr);
    return text;
}

std::vector<std::wstring> ListViewColumn(HWND list, int column)
{
    std::vector<std::wstring> texts;
    const int rows = int(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < rows; ++i)
        texts.push_back(ListViewCellText(list, i, column));
    return texts;
}

namespace {

BITMAPINFOHEADER PictureHeader(const WindowPicture& picture)
{
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = picture.width;
    info.biHeight = picture.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    return info;
}

}  // namespace

WindowPicture CaptureWindow(HWND window)
{
    RECT rect;
    ::GetWindowRect(window, &rect);
    WindowPicture picture;
    picture.width = rect.right - rect.left;
    picture.height = rect.bottom - rect.top;
    const CWindowDc screen(nullptr);
    const UniqueMemoryDc memory(::CreateCompatibleDC(screen.get()));
    const UniqueGdiObject bitmap(::CreateCompatibleBitmap(screen.get(), picture.width, picture.height));
    {
        const CSelection selected(memory.get(), bitmap.get());
        ::BitBlt(memory.get(), 0, 0, picture.width, picture.height, screen.get(), rect.left, rect.top, SRCCOPY);
    }
    BITMAPINFOHEADER info = PictureHeader(picture);
    picture.pixels.resize(((picture.width * 3 + 3) / 4) * 4 * picture.height);
    ::GetDIBits(memory.get(), static_cast<HBITMAP>(bitmap.get()), 0, picture.height, picture.pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    return picture;
}

void RedrawWholeWindow(HWND window)
{
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

int DifferingPixels(const WindowPicture& a, const WindowPicture& b)
{
    if (a.width != b.width || a.height != b.height)
        return -1;
    const std::size_t stride = ((a.width * 3 + 3) / 4) * 4;
    int differing = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const std::size_t at = y * stride + x * 3;
            differing += !std::equal(&a.pixels[at], &a.pixels[at] + 3, &b.pixels[at]);
        }
    }
    return differing;
}

void SavePicture(const WindowPicture& picture, const std::wstring& fileName)
{
    BITMAPINFOHEADER info = PictureHeader(picture);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + DWORD(picture.pixels.size());
    UniqueHandle out(::CreateFileW(BinPath(fileName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(out.get(), &file, sizeof file, &written, nullptr);
    ::WriteFile(out.get(), &info, sizeof info, &written, nullptr);
    ::WriteFile(out.get(), picture.pixels.data(), DWORD(picture.pixels.size()), &written, nullptr);
}

void SaveWindowPicture(HWND window, const std::wstring& fileName)
{
    RedrawWholeWindow(window);
    SavePicture(CaptureWindow(window), fileName);
}

namespace {

void SendMouse(DWORD flags, POINT at)
{
    ::SetCursorPos(at.x, at.y);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(at.x, 65536, ::GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = MulDiv(at.y, 65536, ::GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof input);
    ::Sleep(30);
}

}  // namespace

HWND FocusOf(HWND window)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &gui);
    return gui.hwndFocus;
}

void PressKey(HWND window, UINT key)
{
    const HWND focused = FocusOf(window);
    ::PostMessageW(focused, WM_KEYDOWN, key, 1);
    ::PostMessageW(focused, WM_KEYUP, key, 0xC0000001);
}

bool Eventually(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(10);
    }
    return true;
}

void DragMouse(POINT from, POINT to, int steps)
{
    SendMouse(MOUSEEVENTF_MOVE, from);
    SendMouse(MOUSEEVENTF_LEFTDOWN, from);
    for (int i = 1; i <= steps; ++i)
        SendMouse(MOUSEEVENTF_MOVE, {from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
    SendMouse(MOUSEEVENTF_LEFTUP, to);
}

namespace {

// On a machine where nobody declined it, the free-software notice stands before the main
// window. Test programs count it as declined; the notice's own tests clear the flag for
// themselves (ScopedNoticeFlag).
class NoticeDeclined : public ::testing::Environment {
public:
    void SetUp() override { WriteNoticeFlag(NoticeFlagValue::Dword(1)); }
};

::testing::Environment* const noticeDeclined = ::testing::AddGlobalTestEnvironment(new NoticeDeclined);

}  // namespace

}  // namespace tarnwick::test
