#include "ResizingDialog.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr UINT kPlaceGripOnTop = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER;
constexpr UINT kKeepOrder = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;

int Scaled(int delta, double fraction) { return int(delta * fraction); }

}  // namespace

RECT AnchoredRect(const CControlAnchor& anchor, int dx, int dy)
{
    RECT rect = anchor.initial;
    ::OffsetRect(&rect, Scaled(dx, anchor.moveX), Scaled(dy, anchor.moveY));
    rect.right += Scaled(dx, anchor.growX);
    rect.bottom += Scaled(dy, anchor.growY);
    return rect;
}

BOOL CResizingDialog::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    if (minimumWindowSize_.cx == 0 && minimumWindowSize_.cy == 0) {
        RECT window;
        ::GetWindowRect(hwnd(), &window);
        minimumWindowSize_ = {window.right - window.left, window.bottom - window.top};
    }
    RECT client;
    ::GetClientRect(hwnd(), &client);
    initialClientSize_ = {client.right - client.left, client.bottom - client.top};
    if (m_bShowSizeGrip && (::GetWindowLongPtrW(hwnd(), GWL_STYLE) & WS_THICKFRAME))
        CreateSizeGrip();
    return TRUE;
}

void CResizingDialog::CreateSizeGrip()
{
    RECT client;
    ::GetClientRect(hwnd(), &client);
    RECT grip;
    ::SetRect(&grip, -::GetSystemMetrics(SM_CXVSCROLL), -::GetSystemMetrics(SM_CYHSCROLL), 0, 0);
    ::OffsetRect(&grip, client.right, client.bottom);
    sizeGrip_ = ::CreateWindowExW(0, L"Scrollbar", L"size", WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP, grip.left,
                                  grip.top, grip.right - grip.left, grip.bottom - grip.top, hwnd(), nullptr,
                                  ResourceInstance(), nullptr);
    if (!sizeGrip_)
        return;
    anchors_.push_back({sizeGrip_, 1.0, 1.0, 0.0, 0.0, grip});
    ::SetWindowPos(sizeGrip_, HWND_TOP, 0, 0, 0, 0, kPlaceGripOnTop);
}

void CResizingDialog::AnchorControl(int id, double moveX, double moveY, double growX, double growY)
{
    CControlAnchor anchor{GetDlgItem(id), moveX / 100, moveY / 100, growX / 100, growY / 100, {}};
    if (anchor.window) {
        ::GetWindowRect(anchor.window, &anchor.initial);
        ::MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&anchor.initial), 2);
    }
    anchors_.push_back(anchor);
}

void CResizingDialog::OnSize(UINT type, int width, int height)
{
    const int dx = width - initialClientSize_.cx, dy = height - initialClientSize_.cy;
    HDWP batch = nullptr;
    for (const CControlAnchor& anchor : anchors_) {
        if (!anchor.window)
            continue;
        if (!batch)
            batch = ::BeginDeferWindowPos(int(anchors_.size()));
        const RECT to = AnchoredRect(anchor, dx, dy);
        const bool grows = anchor.growX != 0 || anchor.growY != 0;
        if (batch)
            batch = ::DeferWindowPos(batch, anchor.window, nullptr, to.left, to.top, to.right - to.left,
                                     to.bottom - to.top, kKeepOrder | (grows ? SWP_NOCOPYBITS : 0));
    }
    if (batch)
        ::EndDeferWindowPos(batch);
    if (sizeGrip_)
        ::ShowWindow(sizeGrip_, type == SIZE_MAXIMIZED ? SW_HIDE : SW_SHOW);
}

void CResizingDialog::OnGetMinMaxInfo(MINMAXINFO* info)
{
    info->ptMinTrackSize.x = std::max(info->ptMinTrackSize.x, minimumWindowSize_.cx);
    info->ptMinTrackSize.y = std::max(info->ptMinTrackSize.y, minimumWindowSize_.cy);
}

bool CResizingDialog::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_GETMINMAXINFO:
        OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
        return true;
    case WM_SIZE:
        OnSize(UINT(wParam), LOWORD(lParam), HIWORD(lParam));
        return false;  // the default handling still runs
    default:
        return CDialogEx::ProcessMessage(message, wParam, lParam, result);
    }
}

}  // namespace tarnwick
