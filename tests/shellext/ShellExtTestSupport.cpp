#include "ShellExtTestSupport.h"

#include <stdexcept>

#include "ScopedHandle.h"
#include "TestSupport.h"

namespace tarnwick::test {

namespace {

template <class Fn>
Fn Export(HMODULE module, const char* name)
{
    const FARPROC proc = ::GetProcAddress(module, name);
    if (!proc)
        throw std::runtime_error(std::string("TarnwickShellExt.dll does not export ") + name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

}  // namespace

ShellExtLibrary& ShellExtLibrary::Get()
{
    static ShellExtLibrary library;
    return library;
}

ShellExtLibrary::ShellExtLibrary() : path_(BinPath(L"TarnwickShellExt.dll"))
{
    // Kept loaded until the test program ends.
    const HMODULE module = ::LoadLibraryW(path_.c_str());
    if (!module)
        throw std::runtime_error("cannot load TarnwickShellExt.dll");
    canUnloadNow_ = Export<decltype(canUnloadNow_)>(module, "DllCanUnloadNow");
    getClassObject_ = Export<decltype(getClassObject_)>(module, "DllGetClassObject");
    registerServer_ = Export<decltype(registerServer_)>(module, "DllRegisterServer");
    unregisterServer_ = Export<decltype(unregisterServer_)>(module, "DllUnregisterServer");
    install_ = Export<decltype(install_)>(module, "DllInstall");
}

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

}  // namespace tarnwick::test
