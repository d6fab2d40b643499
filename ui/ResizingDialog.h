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

class CResizingDialog : public CDialogEx {
public:
    CResizingDialog(UINT templateId, HWND parent) : CDialogEx(templateId, parent) {}

protected:
    BOOL OnInitDialog() override;
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Percentages of the width and height change by which the control moves and grows.
    void AnchorControl(int id, double moveX, double moveY, double growX, double growY);
    void OnSize(UINT type, int width, int height);
    virtual void OnGetMinMaxInfo(MINMAXINFO* info);

    SIZE minimumWindowSize() const { return minimumWindowSize_; }
    bool m_bShowSizeGrip = true;

private:
    void CreateSizeGrip();

    std::vector<CControlAnchor> anchors_;
    SIZE initialClientSize_ = {};
    SIZE minimumWindowSize_ = {};
    HWND sizeGrip_ = nullptr;
};

}  // namespace tarnwick
