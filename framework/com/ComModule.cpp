#include "com/ComModule.h"

#include <new>
#include <string>
#include <utility>

#include "com/ComObject.h"

namespace tarnwick {

namespace {

// Registration runs under the system's default locale, whatever the caller's thread uses.
class ThreadLocaleScope {
public:
    explicit ThreadLocaleScope(LCID locale) : saved_(::GetThreadLocale()) { ::SetThreadLocale(locale); }
    ~ThreadLocaleScope() { ::SetThreadLocale(saved_); }
    ThreadLocaleScope(const ThreadLocaleScope&) = delete;
    ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;

private:
    LCID saved_;
};

// The library's full path; empty when it cannot be had whole.
std::wstring ModulePath(HINSTANCE instance)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(instance, path.data(), DWORD(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}

}  // namespace

CComDllModule* CComDllModule::s_module = nullptr;

CComDllModule::CComDllModule(UINT moduleScript, const ObjectEntry* entries, std::size_t count)
    : moduleScript_(moduleScript), entries_(entries), count_(count), classObjects_(count)
{
    s_module = this;
}

CComDllModule::~CComDllModule()
{
    OnProcessDetach();
    if (s_module == this)
        s_module = nullptr;
}

BOOL CComDllModule::OnProcessAttach(HINSTANCE instance)
{
    instance_ = instance;
    return section_.ok() ? TRUE : FALSE;
}

void CComDllModule::OnProcessDetach()
{
    for (ComPtr<IUnknown>& classObject : classObjects_)
        classObject.reset();
}

HRESULT CComDllModule::DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    for (std::size_t i = 0; i < count_; ++i) {
        if (!::IsEqualCLSID(clsid, *entries_[i].clsid))
            continue;
        IUnknown* classObject = nullptr;
        {
            CriticalSectionLock lock(section_);
            if (!classObjects_[i]) {
                auto* created = new (std::nothrow) CComObjectCached<CComClassFactory>(entries_[i].createInstance);
                if (!created)
                    return E_OUTOFMEMORY;
                created->AddRef();  // the cache's reference
                classObjects_[i] = ComPtr<IUnknown>(static_cast<IClassFactory*>(created));
            }
            classObject = classObjects_[i].get();
        }
        return classObject->QueryInterface(iid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComDllModule::DllInstall(BOOL install, LPCWSTR command)
{
    // Five characters: the terminating null must match too, so "users" is not "user".
    const bool perUser = command && ::_wcsnicmp(command, L"user", 5) == 0;
    if (!install)
        return UnregisterServer(perUser);
    const HRESULT hr = RegisterServer(perUser);
    if (FAILED(hr))
        UnregisterServer(perUser);
    return hr;
}

void CComDllModule::AddCommonReplacements(RegistryReplacements&) const {}

HRESULT CComDllModule::RegisterServer(bool perUser)
{
    ThreadLocaleScope locale(LOCALE_SYSTEM_DEFAULT);
    HRESULT hr = ApplyScript(moduleScript_, RegistryDirection::Register, perUser);
    for (std::size_t i = 0; SUCCEEDED(hr) && i < count_; ++i)
        hr = ApplyScript(entries_[i].registryScript, RegistryDirection::Register, perUser);
    return hr;
}

HRESULT CComDllModule::UnregisterServer(bool perUser)
{
    ThreadLocaleScope locale(LOCALE_SYSTEM_DEFAULT);
    HRESULT hr = S_OK;
    for (std::size_t i = 0; SUCCEEDED(hr) && i < count_; ++i)
        hr = ApplyScript(entries_[i].registryScript, RegistryDirection::Unregister, perUser);
    if (SUCCEEDED(hr))
        hr = ApplyScript(moduleScript_, RegistryDirection::Unregister, perUser);
    return hr;
}

HRESULT CComDllModule::ApplyScript(UINT id, RegistryDirection direction, bool perUser) const
{
    const std::wstring path = ModulePath(instance_);
    if (path.empty())
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    RegistryReplacements replacements = {{L"MODULE", path}};
    AddCommonReplacements(replacements);
    RegistryScriptOptions options;
    options.perUserClasses = perUser;
    return ApplyRegistryScriptResource(instance_, id, replacements, direction, options);
}

}  // namespace tarnwick
