#pragma once
// The context-menu handler Explorer loads for folders: one item, "Tarnwick...", that
// starts the main program on the first selected path.

#include <windows.h>
#include <shlobj.h>

#include "Guids.h"
#include "com/ComHandles.h"
#include "com/ComObject.h"

namespace tarnwick {

class CShellExt : public CComObjectRootEx<CComSingleThreadModel>,
                  public CComCoClass<CShellExt, &CLSID_ShellExt>,
                  public IShellExtInit,
                  public IContextMenu {
public:
    // Reads the main program's location once, here, so that no menu call touches the registry.
    CShellExt();

    HRESULT InternalQueryInterface(REFIID iid, void** object);

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY classKey) override;

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT request, UINT* reserved, CHAR* buffer, UINT size) override;

private:
    wchar_t m_szProgram[MAX_PATH] = {};
    const wchar_t* m_pszProgram = nullptr;  // null while no install location is known
    wchar_t m_szFile[MAX_PATH] = {};
    wchar_t m_szParams[MAX_PATH + 2] = {};
    UniqueGdiObject m_hMenuBitmap;
};

}  // namespace tarnwick
