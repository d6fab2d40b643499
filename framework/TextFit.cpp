#include "TextFit.h"

#include "Dialog.h"
#include "ScopedHandle.h"

namespace tarnwick {

namespace {

HFONT FontOf(HWND window) { return reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)); }

// The text's extent as DrawTextW computes it with the window's own font.
RECT MeasuredText(HWND window, const std::wstring& text, int width, UINT format)
{
    const CWindowDc dc(window);
    const CSelection font(dc.get(), FontOf(window));
    RECT extent = {0, 0, width, 0};
    ::DrawTextW(dc.get(), text.c_str(), int(text.size()), &extent, format | DT_CALCRECT);
    return extent;
}

std::wstring TextOf(HWND window)
{
    CWnd wrapper;
    wrapper.Attach(window);
    return wrapper.GetText();
}

RECT RectInParent(HWND parent, HWND child)
{
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void Resize(HWND window, int width, int height)
{
    ::SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int WrappedTextHeight(HWND control, int width)
{
    const bool noPrefix = (::GetWindowLongPtrW(control, GWL_STYLE) & SS_NOPREFIX) != 0;
    const RECT extent =
        MeasuredText(control, TextOf(control), width, DT_WORDBREAK | DT_EXPANDTABS | (noPrefix ? DT_NOPREFIX : 0));
    return extent.bottom - extent.top;
}

int SingleLineTextWidth(HWND window, const std::wstring& text)
{
    const RECT extent = MeasuredText(window, text, 0, DT_SINGLELINE | DT_NOPREFIX);
    return extent.right - extent.left;
}

int MakeRoomForText(HWND dialog, int id)
{
    const HWND control = ::GetDlgItem(dialog, id);
    RECT client;
    if (!control || !::GetClientRect(control, &client))
        return 0;
    const int extra = WrappedTextHeight(control, client.right) - client.bottom;
    if (extra <= 0)
        return 0;
    const RECT grown = RectInParent(dialog, control);
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const RECT rect = RectInParent(dialog, child);
        if (rect.top >= grown.bottom)
            ::SetWindowPos(child, nullptr, rect.left, rect.top + extra, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Resize(control, grown.right - grown.left, grown.bottom - grown.top + extra);
    RECT window;
    ::GetWindowRect(dialog, &window);
    Resize(dialog, window.right - window.left, window.bottom - window.top + extra);
    return extra;
}

}  // namespace tarnwick
