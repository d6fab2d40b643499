#include "ResizingDialog.h"

#include <algorithm>

#include "ScopedHandle.h"
#include "TextFit.h"

namespace tarnwick {

namespace {

constexpr UINT kPlaceGripOnTop = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOOWNERZORDER;
constexpr UINT kKeepOrder = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER;

constexpr int kTemplateMargin = 7;  // dialog units
constexpr UINT kLayOutAgain = WM_APP + 0x120;

// The window's DPI; where the system knows no DPI per window, the screen's.
UINT WindowDpi(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow)
        return getDpiForWindow(window);
    const CWindowDc screen(nullptr);
    return UINT(::GetDeviceCaps(screen.get(), LOGPIXELSY));
}

// A length measured at one DPI, as long at another.
LONG ScaledToDpi(LONG length, UINT to, UINT from) { return ::MulDiv(length, int(to), int(from)); }

void ScaleToDpi(SIZE& size, UINT to, UINT from)
{
    size = {ScaledToDpi(size.cx, to, from), ScaledToDpi(size.cy, to, from)};
}

void ScaleToDpi(RECT& rect, UINT to, UINT from)
{
    rect = {ScaledToDpi(rect.left, to, from), ScaledToDpi(rect.top, to, from), ScaledToDpi(rect.right, to, from),
            ScaledToDpi(rect.bottom, to, from)};
}

int Scaled(int delta, double fraction) { return int(delta * fraction); }

// Whether the span from nearEdge to farEdge is whole and leaves the keeps to both ends of extent.
bool SpanFits(LONG nearEdge, LONG farEdge, LONG extent, LONG nearKeep, LONG farKeep)
{
    return farEdge >= nearEdge && nearEdge >= nearKeep && extent - farEdge >= farKeep;
}

bool LayoutFits(const std::vector<CControlAnchor>& anchors, SIZE initial, int margin, int dx, int dy)
{
    for (const CControlAnchor& anchor : anchors) {
        if (!anchor.window)
            continue;
        const RECT& from = anchor.initial;
        const RECT to = AnchoredRect(anchor, dx, dy);
        if (!SpanFits(to.left, to.right, initial.cx + dx, std::min<LONG>(from.left, margin),
                      std::min<LONG>(initial.cx - from.right, margin)) ||
            !SpanFits(to.top, to.bottom, initial.cy + dy, std::min<LONG>(from.top, margin),
                      std::min<LONG>(initial.cy - from.bottom, margin)))
            return false;
    }
    return true;
}

}  // namespace

RECT AnchoredRect(const CControlAnchor& anchor, int dx, int dy)
{
    RECT rect = anchor.initial;
    ::OffsetRect(&rect, Scaled(dx, anchor.moveX), Scaled(dy, anchor.moveY));
    rect.right += Scaled(dx, anchor.growX);
    rect.bottom += Scaled(dy, anchor.growY);
    return rect;
}

SIZE MinimumClientSize(const std::vector<CControlAnchor>& anchors, SIZE initialClient, int margin)
{
    // The layout is followed step by step, so that its truncation is what is checked.
    int dx = 0, dy = 0;
    while (dx > -initialClient.cx && LayoutFits(anchors, initialClient, margin, dx - 1, 0))
        --dx;
    while (dy > -initialClient.cy && LayoutFits(anchors, initialClient, margin, 0, dy - 1))
        --dy;
    return {initialClient.cx + dx, initialClient.cy + dy};
}

void MakeRoomBelow(std::vector<CControlAnchor>& anchors, std::size_t grown, int extra)
{
    const LONG below = anchors[grown].initial.bottom;
    for (CControlAnchor& anchor : anchors) {
        if (anchor.initial.top >= below)
            ::OffsetRect(&anchor.initial, 0, extra);
    }
    anchors[grown].initial.bottom += extra;
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
    frameSize_ = {minimumWindowSize_.cx - client.right, minimumWindowSize_.cy - client.bottom};
    // The system may have made the window smaller than its template (no larger than the
    // screen); the controls still lie where the template put them, so the template's size is
    // what the layout starts from.
    initialClientSize_ = TemplateClientSize();
    RECT margin = {0, 0, kTemplateMargin, kTemplateMargin};
    ::MapDialogRect(hwnd(), &margin);
    margin_ = margin.right;
    dpi_ = WindowDpi(hwnd());
    if (m_bShowSizeGrip && (::GetWindowLongPtrW(hwnd(), GWL_STYLE) & WS_THICKFRAME))
        CreateSizeGrip();
    return TRUE;
}

void CResizingDialog::MakeRoomForText(int id)
{
    const HWND control = GetDlgItem(id);
    const auto grown = std::find_if(anchors_.begin(), anchors_.end(),
                                    [control](const CControlAnchor& anchor) { return anchor.window == control; });
    if (!control || grown == anchors_.end())
        return;
    // Measured where the text is narrowest, so that it is whole at every size the layout allows.
    const SIZE narrowest = MinimumClientSize(anchors_, initialClientSize_, margin_);
    const RECT at = AnchoredRect(*grown, narrowest.cx - initialClientSize_.cx, 0);
    const int extra = WrappedTextHeight(control, at.right - at.left) - (at.bottom - at.top);
    if (extra <= 0)
        return;
    MakeRoomBelow(anchors_, std::size_t(grown - anchors_.begin()), extra);
    initialClientSize_.cy += extra;
    minimumWindowSize_.cy += extra;
    RECT window;
    ::GetWindowRect(hwnd(), &window);
    ::SetWindowPos(hwnd(), nullptr, 0, 0, window.right - window.left, window.bottom - window.top + extra,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CResizingDialog::CreateSizeGrip()
{
    RECT grip;
    ::SetRect(&grip, -::GetSystemMetrics(SM_CXVSCROLL), -::GetSystemMetrics(SM_CYHSCROLL), 0, 0);
    ::OffsetRect(&grip, initialClientSize_.cx, initialClientSize_.cy);
    sizeGrip_ =
        ::CreateWindowExW(0, L"Scrollbar", L"size", WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP, grip.left, grip.top,
                          grip.right - grip.left, grip.bottom - grip.top, hwnd(), nullptr, ResourceInstance(), nullptr);
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
    // Moved controls leave copies of themselves behind, and a group box, which paints only its
    // frame, shows what lay under it before: everything is painted anew, background first.
    ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    if (sizeGrip_)
        ::ShowWindow(sizeGrip_, type == SIZE_MAXIMIZED ? SW_HIDE : SW_SHOW);
}

void CResizingDialog::OnDpiChanged(UINT dpi, const RECT& suggested)
{
    if (dpi_ != 0 && dpi != 0 && dpi != dpi_) {
        ScaleToDpi(initialClientSize_, dpi, dpi_);
        ScaleToDpi(minimumWindowSize_, dpi, dpi_);
        ScaleToDpi(frameSize_, dpi, dpi_);
        margin_ = ScaledToDpi(margin_, dpi, dpi_);
        for (CControlAnchor& anchor : anchors_)
            ScaleToDpi(anchor.initial, dpi, dpi_);
        dpi_ = dpi;
    }
    ::SetWindowPos(hwnd(), nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The dialog's own handling, which comes after this, may place the controls by the
    // template; the layout has the last word.
    ::PostMessageW(hwnd(), kLayOutAgain, 0, 0);
}

void CResizingDialog::LayOut()
{
    RECT client;
    ::GetClientRect(hwnd(), &client);
    OnSize(::IsZoomed(hwnd()) ? SIZE_MAXIMIZED : SIZE_RESTORED, client.right, client.bottom);
}

SIZE CResizingDialog::LayoutMinimumWindowSize() const
{
    const SIZE client = MinimumClientSize(anchors_, initialClientSize_, margin_);
    return {client.cx + frameSize_.cx, client.cy + frameSize_.cy};
}

void CResizingDialog::OnGetMinMaxInfo(MINMAXINFO* info)
{
    info->ptMinTrackSize.x = std::max(info->ptMinTrackSize.x, minimumWindowSize_.cx);
    info->ptMinTrackSize.y = std::max(info->ptMinTrackSize.y, minimumWindowSize_.cy);
}

bool CResizingDialog::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_GETMINMAXINFO: OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam)); return true;
    case WM_SIZE:
        OnSize(UINT(wParam), LOWORD(lParam), HIWORD(lParam));
        return false;  // the default handling still runs
    case WM_DPICHANGED:
        OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return false;  // the dialog rescales its fonts
    case kLayOutAgain: LayOut(); return true;
    default: return CDialogEx::ProcessMessage(message, wParam, lParam, result);
    }
}

}  // namespace tarnwick
