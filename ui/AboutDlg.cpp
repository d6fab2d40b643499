#include "AboutDlg.h"

#include <commctrl.h>

namespace tarnwick {

CAboutDlg::CAboutDlg(HWND parent, PageOpener open)
    : CDialogEx(IDD_ABOUTBOX, parent), versionText(VersionText(ReadOwnVersion())), open_(std::move(open))
{
}

BOOL CAboutDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    // The site is build configuration, so the link's text is set here rather than in the template.
    ::SetDlgItemTextW(hwnd(), IDC_MAKER_LINK, (L"<a>" + ShortAddress(MakerSite()) + L"</a>").c_str());
    CenterWindow();
    // The link comes first in the tab order; with the focus there Enter would follow it.
    ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDOK)), TRUE);
    return FALSE;  // the focus is set
}

void CAboutDlg::DoDataExchange(CDataExchange& dx) { dx.Text(IDC_VERSION_TEXT, versionText); }

bool CAboutDlg::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_MAKER_LINK && (header->code == NM_CLICK || header->code == NM_RETURN)) {
            open_(MakerSite());
            return true;
        }
    }
    return CDialogEx::ProcessMessage(message, wParam, lParam, result);
}

}  // namespace tarnwick
