#pragma once
// A dialog whose registered controls move and stretch by fixed fractions of the change
// in its client size, with a size grip and a minimum size.

#include <windows.h>

#include <vector>

#include "Dialog.h"

namespace tarnwick {

struct CControlAnchor {
    HWND window = nullptr;  // null when the control does not exist
    double moveX = 0, moveY = 0, growX = 0, growY = 0;
    RECT initial = {};  // in the dialog's client coordinates, at registration
};

// Where an anchored control goes for a client area dx wider and dy higher than at start.
// Each product is truncated toward zero, and everything is computed from the initial
// rectangle, so repeated resizing never accumulates rounding errors.
RECT AnchoredRect(const CControlAnchor& anchor, int dx, int dy);

// The smallest client area, no larger than initialClient, at which the layout keeps every
// anchored control whole and inside, with the margin to each edge that it had at start, or
// margin where it had more.
SIZE MinimumClientSize(const std::vector<CControlAnchor>& anchors, SIZE initialClient, int margin);

// Grows anchors[grown] by extra pixels downwards and moves every anchor that lies wholly below it
// down by as much, as the template would have it with that much more room.
void MakeRoomBelow(std::vector<CControlAnchor>& anchors, std::size_t grown, int extra);

class CResizingDialog : public CDialogEx {
public:
    CResizingDialog(UINT templateId, HWND parent) : CDialogEx(templateId, parent) {}

protected:
    BOOL OnInitDialog() override;
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Percentages of the width and height change by which the control moves and grows.
    void AnchorControl(int id, double moveX, double moveY, double growX, double growY);
    // Places every registered control for the current client size.
    void LayOut();
    // Gives a registered static text the height its lines need at the narrowest the layout
    // makes it; the registered controls below it and the window's bottom edge move down.
    void MakeRoomForText(int id);
    void OnSize(UINT type, int width, int height);
    virtual void OnGetMinMaxInfo(MINMAXINFO* info);
    // The window moved to a monitor of another DPI: what was recorded is scaled to it, the
    // window takes the suggested rectangle, and the controls are laid out once the dialog's own
    // handling of the change is done.
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    SIZE minimumWindowSize() const { return minimumWindowSize_; }
    // The smallest window in which every registered control still lies inside the client area.
    SIZE LayoutMinimumWindowSize() const;
    bool m_bShowSizeGrip = true;

private:
    void CreateSizeGrip();

    std::vector<CControlAnchor> anchors_;
    SIZE initialClientSize_ = {};
    SIZE minimumWindowSize_ = {};
    SIZE frameSize_ = {};  // window size less client size
    int margin_ = 0;       // the templates' margin around their controls, in pixels
    UINT dpi_ = 0;         // at which all of the above was recorded
    HWND sizeGrip_ = nullptr;
};

}  // namespace tarnwick
