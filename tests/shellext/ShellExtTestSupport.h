#pragma once
// What the shell extension's tests share: the library loaded into the test process, its
// CLSID as registry text.

#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>

#include "TestRegistry.h"
#include "com/ComHandles.h"

namespace tarnwick::test {

// TarnwickShellExt.dll, loaded once for the whole test program, and its exports.
class ShellExtLibrary {
public:
    static ShellExtLibrary& Get();

    std::wstring path() const { return path_; }
    HRESULT CanUnloadNow() const { return canUnloadNow_(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const
    {
        return getClassObject_(clsid, iid, object);
    }
    HRESULT RegisterServer() const { return registerServer_(); }
    HRESULT UnregisterServer() const { return unregisterServer_(); }
    HRESULT Install(BOOL install, const wchar_t* command) const { return install_(install, command); }

private:
    ShellExtLibrary();

    std::wstring path_;
    HRESULT(WINAPI* canUnloadNow_)() = nullptr;
    HRESULT(WINAPI* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* registerServer_)() = nullptr;
    HRESULT(WINAPI* unregisterServer_)() = nullptr;
    HRESULT(WINAPI* install_)(BOOL, const wchar_t*) = nullptr;
};

// "{1119A6B6-...}": how the registry spells a GUID.
std::wstring GuidText(REFGUID guid);

}  // namespace tarnwick::test
