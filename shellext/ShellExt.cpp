#include "ShellExt.h"

#include <shellapi.h>

#include <iterator>
#include <string>
#include <string_view>

#include "ParameterText.h"
#include "resource.h"

namespace tarnwick {

namespace {

constexpr wchar_t kInstallKey[] = L"Software\\Quillmere\\Tarnwick";
constexpr wchar_t kProgramName[] = L"Tarnwick.exe";
constexpr wchar_t kItemText[] = L"Tarnwick...";
constexpr wchar_t kHelpText[] = L"Find & remove file or folder locks with Tarnwick";

// The folder of the main program as the installer recorded it; empty when unknown.
std::wstring_view ReadInstallLocation(wchar_t (&buffer)[MAX_PATH + 1])
{
    UniqueRegKey key;
    if (::RegOpenKeyW(HKEY_LOCAL_MACHINE, kInstallKey, key.put()) != ERROR_SUCCESS || !key)
        return {};
    DWORD bytes = MAX_PATH * sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), L"InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) !=
        ERROR_SUCCESS)
        return {};
    // The data need not be terminated; it ends at its first null or at its end.
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    return buffer;
}

}  // namespace

CShellExt::CShellExt()
    : m_hMenuBitmap(::LoadBitmapW(CComDllModule::Get().instance(), MAKEINTRESOURCEW(IDB_MENU_BITMAP)))
{
    wchar_t location[MAX_PATH + 1] = {};
    const std::wstring_view folder = ReadInstallLocation(location);
    // A program path cut to fit the buffer would name some other file: then start nothing.
    if (!folder.empty() && folder.size() + std::size(kProgramName) <= std::size(m_szProgram)) {
        FormatBounded(m_szProgram, std::size(m_szProgram), {folder, kProgramName});
        m_pszProgram = m_szProgram;
    }
}

HRESULT CShellExt::InternalQueryInterface(REFIID iid, void** object)
{
    const CComInterfaceEntry entries[] = {
        {&IID_IShellExtInit, static_cast<IShellExtInit*>(this)},
        {&IID_IContextMenu, static_cast<IContextMenu*>(this)},
    };
    return QueryInterfaceFromTable(entries, iid, object);
}

STDMETHODIMP CShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY)
{
    m_szFile[0] = L'\0';
    if (!data)
        return E_INVALIDARG;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StorageMedium medium;
    if (FAILED(data->GetData(&format, medium.put())) || medium.get().tymed != TYMED_HGLOBAL)
        return E_INVALIDARG;
    GlobalLockScope lock(medium.get().hGlobal);
    const auto drop = static_cast<HDROP>(lock.data());
    if (!drop || ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 0)
        return E_INVALIDARG;
    // A path that does not fit would reach the main program cut, naming another folder
    // (perhaps a parent of the chosen one); a double quote would break the argument apart.
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    if (length == 0 || length >= MAX_PATH || ::DragQueryFileW(drop, 0, m_szFile, MAX_PATH) != length ||
        std::wstring_view(m_szFile).find(L'"') != std::wstring_view::npos) {
        m_szFile[0] = L'\0';
        return E_INVALIDARG;
    }
    return S_OK;
}

STDMETHODIMP CShellExt::QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT, UINT flags)
{
    if (flags & CMF_DEFAULTONLY)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    ::InsertMenuW(menu, index, MF_BYPOSITION | MF_STRING, firstCommand, kItemText);
    if (m_hMenuBitmap)
        ::SetMenuItemBitmaps(menu, index, MF_BYPOSITION, static_cast<HBITMAP>(m_hMenuBitmap.get()), nullptr);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

STDMETHODIMP CShellExt::GetCommandString(UINT_PTR command, UINT request, UINT*, CHAR* buffer, UINT size)
{
    if (command != 0 || !buffer)
        return E_INVALIDARG;
    switch (request) {
    case GCS_HELPTEXTW: ::lstrcpynW(reinterpret_cast<wchar_t*>(buffer), kHelpText, int(size)); return S_OK;
    case GCS_HELPTEXTA: {
        char narrow[std::size(kHelpText) * 2] = {};
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, kHelpText, -1, narrow, int(sizeof narrow), nullptr, nullptr);
        ::lstrcpynA(buffer, narrow, int(size));
        return S_OK;
    }
    default:
        // No language-independent verb and nothing to validate.
        return E_INVALIDARG;
    }
}

STDMETHODIMP CShellExt::InvokeCommand(CMINVOKECOMMANDINFO* info)
{
    // A verb string is refused, wherever it lies: on 64 bits an address can have bits 16 to 31
    // clear, so everything above them is looked at too. Only command offset 0 is ours.
    if (!info || reinterpret_cast<ULONG_PTR>(info->lpVerb) != 0)
        return E_INVALIDARG;
    if (!m_pszProgram || m_szFile[0] == L'\0')
        return E_INVALIDARG;
    FormatProgramParameters(m_szFile, m_szParams, std::size(m_szParams));
    const auto result =
        reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", m_pszProgram, m_szParams, nullptr, SW_SHOW));
    // A plain start refused for want of rights is retried with elevation; every other
    // outcome is left to the user to see.
    if (result == SE_ERR_ACCESSDENIED)
        ::ShellExecuteW(nullptr, L"runas", m_pszProgram, m_szParams, nullptr, SW_SHOW);
    return S_OK;
}

}  // namespace tarnwick
