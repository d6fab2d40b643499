#include "Dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <new>
#include <string>

#include "MessageBox.h"

namespace tarnwick {

namespace {

// The few messages whose answer a dialog procedure returns itself instead of through
// DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message)
{
    return message == WM_QUERYDRAGICON || message == WM_CHARTOITEM || message == WM_COMPAREITEM ||
           message == WM_VKEYTOITEM || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC);
}

bool IsArrowKey(WPARAM key) { return key == VK_UP || key == VK_DOWN || key == VK_LEFT || key == VK_RIGHT; }

bool IsRadioButton(HWND window) { return (::SendMessageW(window, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) != 0; }

HWND NextRadioButtonInGroup(HWND radio, bool backwards)
{
    const HWND dialog = ::GetParent(radio);
    HWND next = radio;
    do
        next = ::GetNextDlgGroupItem(dialog, next, backwards);
    while (next && next != radio && !IsRadioButton(next));
    return next;
}

// Focus and check, as the dialog manager does when an arrow key reaches a radio button.
void ChooseRadioButton(HWND radio)
{
    ::SendMessageW(::GetParent(radio), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(radio), TRUE);
    if (::SendMessageW(radio, BM_GETCHECK, 0, 0) != BST_CHECKED)
        ::SendMessageW(radio, BM_CLICK, 0, 0);
}

// Says that what the window was doing stopped at an exception. Nothing that throws may reach
// the system's code that called the window procedure, which cannot unwind it.
void ReportStoppedCommand(HWND window, const std::exception_ptr& error) noexcept
{
    try {
        std::wstring reason = L"an unexpected error";
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            reason = L"there is not enough memory";
        } catch (...) {
        }
        AppMessageBox(window, L"The command stopped before it was done: " + reason + L".", MB_OK | MB_ICONERROR);
    } catch (...) {
        // Not even the message could be shown; the window goes on.
    }
}

constexpr UINT_PTR kRadioArrowsSubclass = 1;

LRESULT CALLBACK RadioArrowsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (message) {
    case WM_GETDLGCODE: {
        const auto* keystroke = reinterpret_cast<const MSG*>(lParam);
        const LRESULT code = ::DefSubclassProc(window, message, wParam, lParam);
        const bool arrow = keystroke && keystroke->message == WM_KEYDOWN && IsArrowKey(keystroke->wParam);
        return arrow ? code | DLGC_WANTARROWS : code;
    }
    case WM_KEYDOWN:
        if (!IsArrowKey(wParam))
            break;
        ChooseRadioButton(NextRadioButtonInGroup(window, wParam == VK_UP || wParam == VK_LEFT));
        return 0;
    case WM_NCDESTROY: ::RemoveWindowSubclass(window, RadioArrowsProc, kRadioArrowsSubclass); break;
    default: break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

RECT CenteredWindowRect(const RECT& window, const RECT& around, const RECT& workArea)
{
    const LONG width = std::min(window.right - window.left, workArea.right - workArea.left);
    const LONG height = std::min(window.bottom - window.top, workArea.bottom - workArea.top);
    const LONG left =
        std::clamp(around.left + (around.right - around.left - width) / 2, workArea.left, workArea.right - width);
    const LONG top =
        std::clamp(around.top + (around.bottom - around.top - height) / 2, workArea.top, workArea.bottom - height);
    return {left, top, left + width, top + height};
}

void StepRadioButtonsWithArrows(HWND radio) { ::SetWindowSubclass(radio, RadioArrowsProc, kRadioArrowsSubclass, 0); }

std::wstring CWnd::GetText() const
{
    std::wstring text(::GetWindowTextLengthW(hwnd_) + 1, L'\0');
    text.resize(::GetWindowTextW(hwnd_, text.data(), int(text.size())));
    return text;
}

// Only a real change is written: setting the same text again would still tell the
// control's owner that the text changed (EN_CHANGE).
void CWnd::SetText(const std::wstring& text) const
{
    if (GetText() != text)
        ::SetWindowTextW(hwnd_, text.c_str());
}

void CDataExchange::Control(int id, CWnd& control) const { control.Attach(::GetDlgItem(dialog_, id)); }

void CDataExchange::Text(int id, std::wstring& value) const
{
    CWnd control;
    control.Attach(::GetDlgItem(dialog_, id));
    if (save_)
        value = control.GetText();
    else
        control.SetText(value);
}

void CDataExchange::Check(int id, int& value) const
{
    if (save_)
        value = int(::IsDlgButtonChecked(dialog_, id));
    else
        ::CheckDlgButton(dialog_, id, UINT(value));
}

CDialogEx::CDialogEx(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

HINSTANCE CDialogEx::ResourceInstance() { return ::GetModuleHandleW(nullptr); }

SIZE CDialogEx::TemplateClientSize() const
{
    const HRSRC found =
        ::FindResourceW(ResourceInstance(), MAKEINTRESOURCEW(templateId_), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    const HGLOBAL loaded = found ? ::LoadResource(ResourceInstance(), found) : nullptr;
    const auto* words = static_cast<const WORD*>(loaded ? ::LockResource(loaded) : nullptr);
    RECT size = {};
    if (words) {
        // An extended template (version 1, signature 0xFFFF) has its size after the help id,
        // both styles, the item count and the position; a plain one after styles, count, position.
        const bool extended = words[0] == 1 && words[1] == 0xFFFF;
        const std::size_t at = extended ? 11 : 7;
        size = {0, 0, static_cast<SHORT>(words[at]), static_cast<SHORT>(words[at + 1])};
        ::MapDialogRect(hwnd_, &size);
    } else {
        ::GetClientRect(hwnd_, &size);
    }
    return {size.right, size.bottom};
}

void CDialogEx::CenterWindow() const
{
    const HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    const bool onOwner = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(onOwner ? owner : hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT window, around = monitor.rcWork;
    ::GetWindowRect(hwnd_, &window);
    if (onOwner)
        ::GetWindowRect(owner, &around);
    const RECT to = CenteredWindowRect(window, around, monitor.rcWork);
    ::SetWindowPos(hwnd_, nullptr, to.left, to.top, to.right - to.left, to.bottom - to.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CDialogEx::DoModal()
{
    return ::DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(templateId_), parent_, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void CDialogEx::UpdateData(bool saveAndValidate)
{
    CDataExchange exchange(hwnd_, saveAndValidate);
    DoDataExchange(exchange);
}

BOOL CDialogEx::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

void CDialogEx::OnOK()
{
    UpdateData(true);
    EndDialog(IDOK);
}

void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }

bool CDialogEx::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == WM_COMMAND)
        return OnCommand(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam));
    if (message != WM_NOTIFY)
        return false;
    const std::optional<LRESULT> answer = OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    if (answer)
        result = *answer;
    return answer.has_value();
}

bool CDialogEx::OnCommand(UINT code, int id, HWND)
{
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDOK: OnOK(); return true;
    case IDCANCEL: OnCancel(); return true;
    default: return false;
    }
}

std::optional<LRESULT> CDialogEx::OnNotify(const NMHDR&) { return std::nullopt; }

INT_PTR CALLBACK CDialogEx::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        return Dispatch(window, message, wParam, lParam);
    } catch (...) {
        ReportStoppedCommand(window, std::current_exception());
        return message == WM_INITDIALOG;
    }
}

INT_PTR CDialogEx::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialogEx*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->hwnd_ = window;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CDialogEx*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;
    LRESULT result = 0;
    if (!self->ProcessMessage(message, wParam, lParam, result))
        return FALSE;
    if (ReturnsResultDirectly(message))
        return INT_PTR(result);
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

bool WaitAnswering(HWND window, HANDLE object, DWORD ms)
{
    const bool wasEnabled = !::EnableWindow(window, FALSE);
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    const DWORD objects = object ? 1 : 0;
    DWORD woke = WAIT_TIMEOUT;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        woke = ::MsgWaitForMultipleObjectsEx(objects, &object, now < deadline ? DWORD(deadline - now) : 0, QS_ALLINPUT,
                                             MWMO_INPUTAVAILABLE);
        if (woke != WAIT_OBJECT_0 + objects)
            break;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (wasEnabled)
        ::EnableWindow(window, TRUE);
    return object && woke == WAIT_OBJECT_0;
}

}  // namespace tarnwick
