#pragma once
// The notice, shown once before the main window, that the program is free software.

#include <windows.h>

#include <string>

#include "Dialog.h"
#include "resource.h"

namespace tarnwick {

class CFreeSoftwareDlg : public CDialogEx {
public:
    CFreeSoftwareDlg() : CDialogEx(IDD_FREE_SOFTWARE, nullptr) {}

    BOOL doNotShowAgain = FALSE;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    bool OnCommand(UINT code, int id, HWND control) override;
};

// The notice's text, naming the maker's site.
std::wstring FreeSoftwareNoticeText();

// Shows the notice unless the machine-wide flag says it was declined, and sets the flag when
// the person ticked "Do not show again".
void ShowFreeSoftwareNotice();

}  // namespace tarnwick
