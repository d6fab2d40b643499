// The library around the handler: its module object, entry point and exports.

#include <windows.h>
#include <objbase.h>

#include <iterator>

#include "Guids.h"
#include "ShellExt.h"
#include "com/ComModule.h"
#include "com/ComObject.h"
#include "resource.h"

namespace tarnwick {

namespace {

const CComDllModule::ObjectEntry kObjectMap[] = {
    {&CShellExt::GetObjectCLSID(), IDR_SHELLEXT_REGISTRY, &CComObject<CShellExt>::CreateInstance},
};

}  // namespace

class CTarnwickShellExtModule : public CComDllModule {
public:
    CTarnwickShellExtModule() : CComDllModule(IDR_MODULE_REGISTRY, kObjectMap, std::size(kObjectMap)) {}

protected:
    // The scripts name the class and the module's application by these, written once here.
    void AddCommonReplacements(RegistryReplacements& replacements) const override
    {
        replacements.emplace_back(L"APPID", RegistryForm(kShellExtAppId));
        replacements.emplace_back(L"CLSID", RegistryForm(CLSID_ShellExt));
    }

private:
    static std::wstring RegistryForm(const GUID& guid)
    {
        wchar_t text[40] = {};
        ::StringFromGUID2(guid, text, int(std::size(text)));
        return text;
    }
};

CTarnwickShellExtModule g_module;

}  // namespace tarnwick

using tarnwick::g_module;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
        return g_module.OnProcessAttach(instance);
    }
    if (reason == DLL_PROCESS_DETACH)
        g_module.OnProcessDetach();
    return TRUE;
}

using tarnwick::WithoutExceptions;

STDAPI DllCanUnloadNow() { return g_module.DllCanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    return WithoutExceptions([&] { return g_module.DllGetClassObject(clsid, iid, object); });
}

STDAPI DllRegisterServer()
{
    return WithoutExceptions([] { return g_module.DllRegisterServer(); });
}

STDAPI DllUnregisterServer()
{
    return WithoutExceptions([] { return g_module.DllUnregisterServer(); });
}

STDAPI DllInstall(BOOL install, LPCWSTR command)
{
    return WithoutExceptions([&] { return g_module.DllInstall(install, command); });
}
