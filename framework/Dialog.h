#pragma once
// The least of a dialog framework: a modal dialog run from a template resource, with
// message dispatch to named On... handlers, data exchange and control wrappers.

#include <windows.h>

#include <optional>
#include <string>

namespace tarnwick {

// A window we do not own: the base of every control wrapper.
class CWnd {
public:
    HWND hwnd() const { return hwnd_; }
    void Attach(HWND window) { hwnd_ = window; }
    std::wstring GetText() const;
    void SetText(const std::wstring& text) const;

protected:
    HWND hwnd_ = nullptr;
};

class CButton : public CWnd {
public:
    int GetCheck() const { return int(::SendMessageW(hwnd_, BM_GETCHECK, 0, 0)); }
    void SetCheck(int state) const { ::SendMessageW(hwnd_, BM_SETCHECK, state, 0); }
};

class CEdit : public CWnd {};

// Where a window of the given rectangle goes to be centred on around: no larger than the work
// area and wholly inside it.
RECT CenteredWindowRect(const RECT& window, const RECT& around, const RECT& workArea);

// Lets the arrow keys move the focus and the check from this radio button to the next or
// previous radio button of its group, passing over the group's other controls (a field that
// belongs to one of the choices would otherwise take the arrows and keep them).
void StepRadioButtonsWithArrows(HWND radio);

// Moves values between a dialog's controls and its members, one direction per pass.
class CDataExchange {
public:
    CDataExchange(HWND dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}
    bool saving() const { return save_; }

    void Control(int id, CWnd& control) const;  // binds the wrapper to the control
    void Text(int id, std::wstring& value) const;
    void Check(int id, int& value) const;

private:
    HWND dialog_;
    bool save_;
};

class CDialogEx {
public:
    CDialogEx(UINT templateId, HWND parent);
    virtual ~CDialogEx() = default;
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    // Runs the dialog modally from the module's template; returns how it was ended.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result) const { ::EndDialog(hwnd_, result); }
    HWND hwnd() const { return hwnd_; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }
    // true: controls to members; false: members to controls.
    void UpdateData(bool saveAndValidate);

    // The module that holds the templates and other resources of our dialogs.
    static HINSTANCE ResourceInstance();
    // Centres the dialog on its owner, or on its monitor's work area when the owner is hidden
    // or missing, and keeps it within that work area.
    void CenterWindow() const;
    // The client size the dialog's template lays its controls out for, in pixels.
    SIZE TemplateClientSize() const;

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange&) {}
    virtual void OnOK();
    virtual void OnCancel();

    // The message map: a derived class handles what it knows and passes the rest to its
    // base, so the derived class's handlers are searched first. True when handled.
    // WM_COMMAND and WM_NOTIFY are unpacked here, into the two handlers below.
    virtual bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // A control's command (code: BN_CLICKED, EN_CHANGE...); true when handled. Here: OK
    // and Cancel.
    virtual bool OnCommand(UINT code, int id, HWND control);
    // A control's notification; the dialog's answer, or nothing when it is not handled.
    virtual std::optional<LRESULT> OnNotify(const NMHDR& header);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND parent_;
    HWND hwnd_ = nullptr;
};

// Waits for the object (for the time alone without one) while the window goes on painting
// and answering; it takes no input meanwhile, so that no command starts inside another. True
// when the object was signalled in time.
bool WaitAnswering(HWND window, HANDLE object, DWORD ms);

}  // namespace tarnwick
