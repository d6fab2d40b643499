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

bool KeyExists(HKEY root, const std::wstring& key)
{
    UniqueRegKey opened;
    return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name)
{
    wchar_t data[1024] = {};
    DWORD bytes = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegGetValueW(root, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_ANY, &type, data, &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    return std::wstring(data);
}

void WriteString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& data)
{
    UniqueRegKey opened;
    if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.put(), nullptr) !=
            ERROR_SUCCESS ||
        ::RegSetValueExW(opened.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(data.c_str()), DWORD((data.size() + 1) * sizeof(wchar_t))) !=
            ERROR_SUCCESS)
        throw std::runtime_error("cannot write a registry value");
}

void DeleteKeyTree(HKEY root, const std::wstring& key) { ::RegDeleteTreeW(root, key.c_str()); }

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name)
{
    UniqueRegKey opened;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, opened.put()) == ERROR_SUCCESS)
        ::RegDeleteValueW(opened.get(), name.empty() ? nullptr : name.c_str());
}

}  // namespace tarnwick::test
