#pragma once
// The module object of an in-process COM server: its lock count, the class objects it
// hands out, and registration through the REGISTRY scripts in its resources.

#include <windows.h>
#include <objbase.h>

#include <vector>

#include "com/ComHandles.h"
#include "com/RegistryScript.h"

namespace tarnwick {

class CComDllModule {
public:
    // One class the server offers.
    struct ObjectEntry {
        const CLSID* clsid;
        UINT registryScript;  // the class's REGISTRY resource
        HRESULT (*createInstance)(REFIID iid, void** object);
    };

    // moduleScript is applied before the classes' scripts on registration, after them on
    // unregistration. There is one module object per library.
    CComDllModule(UINT moduleScript, const ObjectEntry* entries, std::size_t count);
    virtual ~CComDllModule();
    CComDllModule(const CComDllModule&) = delete;
    CComDllModule& operator=(const CComDllModule&) = delete;

    static CComDllModule& Get() { return *s_module; }

    // Live objects, server locks and handed-out class objects; changed atomically.
    LONG Lock() { return ::InterlockedIncrement(&lockCount_); }
    LONG Unlock() { return ::InterlockedDecrement(&lockCount_); }
    LONG GetLockCount() const { return lockCount_; }

    HINSTANCE instance() const { return instance_; }

    // The library's entry point, on process attach and detach; attach refuses the load
    // when the module could not be set up.
    BOOL OnProcessAttach(HINSTANCE instance);
    void OnProcessDetach();

    HRESULT DllCanUnloadNow() const { return lockCount_ == 0 ? S_OK : S_FALSE; }
    HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
    HRESULT DllRegisterServer() { return RegisterServer(false); }
    HRESULT DllUnregisterServer() { return UnregisterServer(false); }
    // "user" (any case) as the command registers for the current user only; a failed
    // registration is undone.
    HRESULT DllInstall(BOOL install, LPCWSTR command);

protected:
    // Replacements every script may use besides MODULE.
    virtual void AddCommonReplacements(RegistryReplacements& replacements) const;

private:
    HRESULT RegisterServer(bool perUser);
    HRESULT UnregisterServer(bool perUser);
    HRESULT ApplyScript(UINT id, RegistryDirection direction, bool perUser) const;

    static CComDllModule* s_module;

    volatile LONG lockCount_ = 0;
    CriticalSection section_;  // serialises the creation of class objects
    HINSTANCE instance_ = nullptr;
    UINT moduleScript_;
    const ObjectEntry* entries_;
    std::size_t count_;
    std::vector<ComPtr<IUnknown>> classObjects_;  // created on first request, released at unload
};

}  // namespace tarnwick
