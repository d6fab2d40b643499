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

std::optional<LRESULT> CAboutDlg::OnNotify(const NMHDR& header)
{
    if (header.idFrom != IDC_MAKER_LINK || (header.code != NM_CLICK && header.code != NM_RETURN))
        return CDialogEx::OnNotify(header);
    open_(MakerSite());
    return 0;
}

}  // namespace tarnwick
