#include "Selection.h"

#include <shlobj.h>

#include <algorithm>

namespace tarnwick::test {

STDMETHODIMP MediumTracker::QueryInterface(REFIID, void** object)
{
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediumTracker::Release()
{
    if (--refs_ > 0)
        return refs_;
    --outstanding;
    delete this;
    return 0;
}

STDMETHODIMP SelectionData::QueryInterface(REFIID iid, void** object)
{
    *object = nullptr;
    if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IDataObject))
        return E_NOINTERFACE;
    *object = static_cast<IDataObject*>(this);
    return S_OK;
}

STDMETHODIMP SelectionData::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    if (!offersDrop_ || format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL))
        return DV_E_FORMATETC;
    std::wstring names;
    for (const auto& path : paths_)
        names += path + L'\0';
    names += L'\0';
    const std::size_t bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
    const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::copy(names.begin(), names.end(), reinterpret_cast<wchar_t*>(drop + 1));
    ::GlobalUnlock(memory);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = new MediumTracker(memory);
    return S_OK;
}

}  // namespace tarnwick::test
