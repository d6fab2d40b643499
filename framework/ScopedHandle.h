#pragma once
// Move-only owners of platform handles, so that no path can forget a close.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shtypes.h>

#include <utility>

namespace tarnwick {

// Owns a resource of type T and frees it with Free(T) once; Empty marks "nothing owned".
template <class T, class Traits>
class ScopedResource {
public:
    ScopedResource() = default;
    explicit ScopedResource(T value) : value_(value) {}
    ~ScopedResource() { reset(); }

    ScopedResource(ScopedResource&& other) noexcept : value_(other.release()) {}
    ScopedResource& operator=(ScopedResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;

    T get() const { return value_; }
    explicit operator bool() const { return Traits::IsValid(value_); }

    T release() { return std::exchange(value_, Traits::Empty()); }
    void reset(T value = Traits::Empty())
    {
        T old = std::exchange(value_, value);
        if (Traits::IsValid(old))
            Traits::Free(old);
    }
    // For out-parameters of creating calls: frees what is held and hands out the slot.
    T* put()
    {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::Empty();
};

struct KernelHandleTraits {
    static HANDLE Empty() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { ::FindClose(h); }
};

struct RegKeyTraits {
    static HKEY Empty() { return nullptr; }
    static bool IsValid(HKEY k) { return k != nullptr; }
    static void Free(HKEY k) { ::RegCloseKey(k); }
};

struct GdiObjectTraits {
    static HGDIOBJ Empty() { return nullptr; }
    static bool IsValid(HGDIOBJ o) { return o != nullptr; }
    static void Free(HGDIOBJ o) { ::DeleteObject(o); }
};

// Memory from VirtualAlloc, whose pages the system backs only when first touched.
struct VirtualMemoryTraits {
    static void* Empty() { return nullptr; }
    static bool IsValid(void* p) { return p != nullptr; }
    static void Free(void* p) { ::VirtualFree(p, 0, MEM_RELEASE); }
};

struct MemoryDcTraits {
    static HDC Empty() { return nullptr; }
    static bool IsValid(HDC dc) { return dc != nullptr; }
    static void Free(HDC dc) { ::DeleteDC(dc); }
};

struct IconTraits {
    static HICON Empty() { return nullptr; }
    static bool IsValid(HICON icon) { return icon != nullptr; }
    static void Free(HICON icon) { ::DestroyIcon(icon); }
};

struct ImageListTraits {
    static HIMAGELIST Empty() { return nullptr; }
    static bool IsValid(HIMAGELIST list) { return list != nullptr; }
    static void Free(HIMAGELIST list) { ::ImageList_Destroy(list); }
};

struct LocalMemoryTraits {
    static HLOCAL Empty() { return nullptr; }
    static bool IsValid(HLOCAL memory) { return memory != nullptr; }
    static void Free(HLOCAL memory) { ::LocalFree(memory); }
};

struct ItemIdListTraits {
    static PIDLIST_ABSOLUTE Empty() { return nullptr; }
    static bool IsValid(PIDLIST_ABSOLUTE list) { return list != nullptr; }
    static void Free(PIDLIST_ABSOLUTE list) { ::CoTaskMemFree(list); }
};

// Files, processes, threads, events: everything CloseHandle frees.
using UniqueHandle = ScopedResource<HANDLE, KernelHandleTraits>;
using UniqueFindHandle = ScopedResource<HANDLE, FindHandleTraits>;
using UniqueRegKey = ScopedResource<HKEY, RegKeyTraits>;
// Fonts, bitmaps, brushes: everything DeleteObject frees.
using UniqueGdiObject = ScopedResource<HGDIOBJ, GdiObjectTraits>;
using UniqueVirtualMemory = ScopedResource<void*, VirtualMemoryTraits>;
// A device context made by CreateCompatibleDC.
using UniqueMemoryDc = ScopedResource<HDC, MemoryDcTraits>;
using UniqueIcon = ScopedResource<HICON, IconTraits>;
using UniqueImageList = ScopedResource<HIMAGELIST, ImageListTraits>;
// What the system allocated for us with LocalAlloc (formatted messages, SID strings).
using UniqueLocalMemory = ScopedResource<HLOCAL, LocalMemoryTraits>;
// An item the shell's folder browser chose.
using UniqueItemIdList = ScopedResource<PIDLIST_ABSOLUTE, ItemIdListTraits>;

// A window's device context (the screen's for a null window), released with the window it
// came from.
class CWindowDc {
public:
    explicit CWindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~CWindowDc()
    {
        if (dc_)
            ::ReleaseDC(window_, dc_);
    }
    CWindowDc(const CWindowDc&) = delete;
    CWindowDc& operator=(const CWindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Keeps an object selected into a device context, and puts back what was there before.
class CSelection {
public:
    CSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~CSelection()
    {
        if (previous_)
            ::SelectObject(dc_, previous_);
    }
    CSelection(const CSelection&) = delete;
    CSelection& operator=(const CSelection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// An unnamed auto-reset event, initially not signalled.
inline UniqueHandle MakeAutoResetEvent()
{
    return UniqueHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

}  // namespace tarnwick
