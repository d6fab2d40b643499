#pragma once
// The pieces a COM class is assembled from: a reference count with the threading rule of
// its apartment, the object COM sees, a class object kept in the module's cache, and the
// interface table lookup.

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <new>
#include <utility>

#include "com/ComModule.h"

namespace tarnwick {

// For objects that live in one single-threaded apartment.
struct CComSingleThreadModel {
    static LONG Increment(volatile LONG* value) { return ++*value; }
    static LONG Decrement(volatile LONG* value) { return --*value; }
};

// For objects that any thread may call.
struct CComMultiThreadModel {
    static LONG Increment(volatile LONG* value) { return ::InterlockedIncrement(value); }
    static LONG Decrement(volatile LONG* value) { return ::InterlockedDecrement(value); }
};

template <class ThreadModel>
class CComObjectRootEx {
protected:
    LONG InternalAddRef() { return ThreadModel::Increment(&m_refCount); }
    LONG InternalRelease() { return ThreadModel::Decrement(&m_refCount); }

private:
    volatile LONG m_refCount = 0;
};

// Ties a class to its fixed class identifier.
template <class T, const CLSID* Clsid>
class CComCoClass {
public:
    static constexpr const CLSID& GetObjectCLSID() { return *Clsid; }
};

struct CComInterfaceEntry {
    const IID* iid;
    IUnknown* object;
};

// QueryInterface over a table of the interfaces an object answers; IUnknown gets the
// first entry, so that one object always gives one identity.
template <std::size_t N>
HRESULT QueryInterfaceFromTable(const CComInterfaceEntry (&entries)[N], REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    IUnknown* found = ::IsEqualIID(iid, IID_IUnknown) ? entries[0].object : nullptr;
    for (std::size_t i = 0; !found && i < N; ++i) {
        if (::IsEqualIID(iid, *entries[i].iid))
            found = entries[i].object;
    }
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    *object = found;
    return S_OK;
}

// The object COM sees: T with IUnknown wired to T's count; each one locks the module.
template <class T>
class CComObject final : public T {
public:
    CComObject() { CComDllModule::Get().Lock(); }
    ~CComObject() { CComDllModule::Get().Unlock(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        return this->InternalQueryInterface(iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(this->InternalAddRef()); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        return ULONG(count);
    }

    // A new object answering iid; destroyed again when it does not.
    static HRESULT CreateInstance(REFIID iid, void** object)
    {
        auto* created = new (std::nothrow) CComObject<T>();
        if (!created)
            return E_OUTOFMEMORY;
        created->AddRef();
        const HRESULT hr = created->QueryInterface(iid, object);
        created->Release();
        return hr;
    }
};

// A class object held by the module's cache. The cache's own reference does not keep the
// library loaded: going from one reference to two locks the module, back to one unlocks it.
template <class T>
class CComObjectCached final : public T {
public:
    template <class... Args>
    explicit CComObjectCached(Args&&... args) : T(std::forward<Args>(args)...)
    {
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        return this->InternalQueryInterface(iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        const LONG count = this->InternalAddRef();
        if (count == 2)
            CComDllModule::Get().Lock();
        return ULONG(count);
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        else if (count == 1)
            CComDllModule::Get().Unlock();
        return ULONG(count);
    }
};

// Runs the body of a COM entry point. Its caller need not be C++ at all, so no exception may
// cross into it: one becomes the HRESULT that says what went wrong.
template <class Body>
HRESULT WithoutExceptions(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Creates objects of one class; aggregation is not offered.
class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
public:
    using Creator = HRESULT (*)(REFIID iid, void** object);
    explicit CComClassFactory(Creator creator) : creator_(creator) {}

    HRESULT InternalQueryInterface(REFIID iid, void** object)
    {
        const CComInterfaceEntry entries[] = {{&IID_IClassFactory, static_cast<IClassFactory*>(this)}};
        return QueryInterfaceFromTable(entries, iid, object);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return WithoutExceptions([&] { return creator_(iid, object); });
    }

    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            CComDllModule::Get().Lock();
        else
            CComDllModule::Get().Unlock();
        return S_OK;
    }

private:
    Creator creator_;
};

}  // namespace tarnwick
