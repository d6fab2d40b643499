#pragma once
// The About box: the program's name and version, its maker, and a link to the maker's site.

#include <windows.h>

#include <string>

#include "Dialog.h"
#include "VersionCheck.h"
#include "resource.h"

namespace tarnwick {

class CAboutDlg : public CDialogEx {
public:
    // Reads the program's version. open: how the link hands the maker's site to the browser.
    explicit CAboutDlg(HWND parent = nullptr, PageOpener open = PageOpenerShowing(SW_SHOWNORMAL));

    std::wstring versionText;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    std::optional<LRESULT> OnNotify(const NMHDR& header) override;

private:
    PageOpener open_;
};

}  // namespace tarnwick
