#include "FreeSoftwareDlg.h"

#include <string>

#include "MakerSite.h"
#include "ScopedHandle.h"
#include "TextFit.h"

namespace tarnwick {

namespace {

// The maker's other product keeps the flag, so declining there counts here too.
constexpr wchar_t kFlagKey[] = L"Software\\Quillmere\\Pellory";
constexpr wchar_t kFlagValue[] = L"ShownFreeSoftwareBanner";

// The flag's first four bytes. Whatever its registry type, any nonzero value of up to four
// bytes counts; a longer value cannot be read into them and counts as absent.
DWORD ReadFlag()
{
    DWORD flag = 0;
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFlagKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, size = sizeof flag;
    if (::RegQueryValueExW(key.get(), kFlagValue, nullptr, &type, reinterpret_cast<BYTE*>(&flag), &size) !=
        ERROR_SUCCESS)
        return 0;
    return flag;
}

void StoreFlag()
{
    const DWORD flag = 1;
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kFlagKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                          key.put(), nullptr) == ERROR_SUCCESS)
        ::RegSetValueExW(key.get(), kFlagValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flag), sizeof flag);
}

}  // namespace

std::wstring FreeSoftwareNoticeText()
{
    return L"Tarnwick is free software.\n\nIf you paid any money for this, other than to donate at " + MakerSite() +
           L",\r\nwe suggest you get your money back.";
}

BOOL CFreeSoftwareDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    ::SetDlgItemTextW(hwnd(), IDC_STATIC, FreeSoftwareNoticeText().c_str());
    // The maker's address comes from the build, so its length is not the template's.
    MakeRoomForText(hwnd(), IDC_STATIC);  // the template's only control without an id of its own
    CenterWindow();
    return TRUE;
}

void CFreeSoftwareDlg::DoDataExchange(CDataExchange& dx) { dx.Check(IDC_DO_NOT_SHOW_AGAIN, doNotShowAgain); }

// Every click is taken at once, so that closing with Esc or the close box keeps the choice.
bool CFreeSoftwareDlg::OnCommand(UINT code, int id, HWND control)
{
    if (id != IDC_DO_NOT_SHOW_AGAIN || code != BN_CLICKED)
        return CDialogEx::OnCommand(code, id, control);
    UpdateData(true);
    return true;
}

void ShowFreeSoftwareNotice()
{
    if (ReadFlag() != 0)
        return;
    CFreeSoftwareDlg notice;
    notice.DoModal();
    if (notice.doNotShowAgain)
        StoreFlag();
}

}  // namespace tarnwick
