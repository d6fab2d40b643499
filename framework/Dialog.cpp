#include "Dialog.h"

namespace tarnwick {

namespace {

// The few messages whose answer a dialog procedure returns itself instead of through
// DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message)
{
    return message == WM_QUERYDRAGICON || message == WM_CHARTOITEM || message == WM_COMPAREITEM ||
           message == WM_VKEYTOITEM || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC);
}

}  // namespace

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

bool CDialogEx::ProcessMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&)
{
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)
        return false;
    switch (LOWORD(wParam)) {
    case IDOK: OnOK(); return true;
    case IDCANCEL: OnCancel(); return true;
    default: return false;
    }
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
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

}  // namespace tarnwick
