#include "TestWindows.h"

#include <commctrl.h>

#include <algorithm>

#include "ScopedHandle.h"
#include "TestFiles.h"

namespace tarnwick::test {

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

std::wstring MessageBoxText(HWND box) { return WindowText(::GetDlgItem(box, kMessageTextId)); }

std::wstring WindowText(HWND window)
{
    std::wstring text(std::size_t(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(::GetWindowTextW(window, text.data(), int(text.size())));
    return text;
}

void Click(HWND dialog, int id) { ::SendMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

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
    return WaitForWindowOf(pid, timeoutMs,
                           [controlId](HWND window) { return ::GetDlgItem(window, controlId) != nullptr; });
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

void ClickHeader(HWND list, int column)
{
    const HWND header = ListView_GetHeader(list);
    RECT rect;
    Header_GetItemRect(header, column, &rect);
    // Near its left end, where a column that runs past the view's edge is still seen.
    const LPARAM at = MAKELPARAM(rect.left + 16, (rect.top + rect.bottom) / 2);
    ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(header, WM_LBUTTONUP, 0, at);
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
    const CWindowDc painted(window, CWindowDc::Whole);
    const UniqueMemoryDc memory(::CreateCompatibleDC(painted.get()));
    const UniqueGdiObject bitmap(::CreateCompatibleBitmap(painted.get(), picture.width, picture.height));
    {
        const CSelection selected(memory.get(), bitmap.get());
        ::BitBlt(memory.get(), 0, 0, picture.width, picture.height, painted.get(), 0, 0, SRCCOPY);
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
    // The window's own thread may have begun a paint of its own meanwhile; a message it
    // answers only between messages lets it finish.
    ::SendMessageW(window, WM_NULL, 0, 0);
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

bool Eventually(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(intervalMs);
    }
    return true;
}

AnswerWatch::AnswerWatch(HWND window) : window_(window)
{
    thread_ = std::thread([this] {
        while (!stop_) {
            const ULONGLONG asked = ::GetTickCount64();
            DWORD_PTR result = 0;
            if (!::SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 100, &result) && ::IsWindow(window_))
                ++failures_;
            const DWORD took = DWORD(::GetTickCount64() - asked);
            slowest_ = std::max<DWORD>(slowest_, took);
            ++asked_;
            ::Sleep(50);
        }
    });
}

AnswerWatch::~AnswerWatch()
{
    stop_ = true;
    thread_.join();
}

void RightClick(POINT at)
{
    // Apart from any click before, which would otherwise make a double click of it.
    ::Sleep(::GetDoubleClickTime() + 50);
    SendMouse(MOUSEEVENTF_MOVE, at);
    SendMouse(MOUSEEVENTF_RIGHTDOWN, at);
    SendMouse(MOUSEEVENTF_RIGHTUP, at);
}

void PressKeys(const std::vector<WORD>& keys)
{
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *key;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    ::SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

HWND WaitForMenuOf(DWORD pid, DWORD timeoutMs)
{
    return WaitForWindowOf(pid, timeoutMs, [](HWND window) {
        wchar_t className[16] = {};
        ::GetClassNameW(window, className, 16);
        return wcscmp(className, L"#32768") == 0;
    });
}

namespace {

// The clipboard, open for as long as the object lives; another thread may hold it a moment.
class OpenedClipboard {
public:
    explicit OpenedClipboard(HWND owner)
    {
        for (int i = 0; i < 100 && !(open_ = ::OpenClipboard(owner) != FALSE); ++i)
            ::Sleep(20);
    }
    ~OpenedClipboard()
    {
        if (open_)
            ::CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;

private:
    bool open_ = false;
};

}  // namespace

std::wstring ClipboardText()
{
    const OpenedClipboard clipboard(nullptr);
    const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    const auto* text = static_cast<const wchar_t*>(data ? ::GlobalLock(data) : nullptr);
    if (!text)
        return {};
    std::wstring copy = text;
    ::GlobalUnlock(data);
    return copy;
}

void SetClipboardText(HWND owner, const std::wstring& text)
{
    const OpenedClipboard clipboard(owner);
    ::EmptyClipboard();
    UniqueGlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
    if (auto* at = static_cast<wchar_t*>(memory ? ::GlobalLock(memory.get()) : nullptr)) {
        wcscpy(at, text.c_str());
        ::GlobalUnlock(memory.get());
        if (::SetClipboardData(CF_UNICODETEXT, memory.get()))
            (void)memory.release();
    }
}

void DragMouse(POINT from, POINT to, int steps)
{
    SendMouse(MOUSEEVENTF_MOVE, from);
    SendMouse(MOUSEEVENTF_LEFTDOWN, from);
    for (int i = 1; i <= steps; ++i)
        SendMouse(MOUSEEVENTF_MOVE, {from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
    SendMouse(MOUSEEVENTF_LEFTUP, to);
}

}  // namespace tarnwick::test
