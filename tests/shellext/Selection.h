#pragma once
// A selection as Explorer hands it to a context-menu handler: a data object of ours that
// offers the paths as a CF_HDROP block, and counts the media it hands out.

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "ScopedHandle.h"

namespace tarnwick::test {

// Counts the storage media it hands out that have not been released yet.
class MediumTracker : public IUnknown {
public:
    explicit MediumTracker(HGLOBAL memory) : memory_(memory) { ++outstanding; }
    STDMETHODIMP QueryInterface(REFIID, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override;

    static inline int outstanding = 0;

private:
    virtual ~MediumTracker() = default;
    UniqueGlobalMemory memory_;
    ULONG refs_ = 1;
};

class SelectionData : public IDataObject {
public:
    explicit SelectionData(std::vector<std::wstring> paths, bool offersDrop = true)
        : paths_(std::move(paths)), offersDrop_(offersDrop)
    {
    }
    virtual ~SelectionData() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    // Lives on its owner's stack: the count is not kept.
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    std::vector<std::wstring> paths_;
    bool offersDrop_;
};

// Owns a SelectionData on the stack of a test.
class Selection {
public:
    explicit Selection(std::vector<std::wstring> paths, bool offersDrop = true) : data_(std::move(paths), offersDrop) {}
    IDataObject* get() { return &data_; }

private:
    SelectionData data_;
};

}  // namespace tarnwick::test
