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

// What most owners need: null means nothing owned, and Release frees the rest.
template <class T, auto Release>
struct NullIsEmpty {
    static T Empty() { return nullptr; }
    static bool IsValid(T value) { return value != nullptr; }
    static void Free(T value) { Release(value); }
};

// Handles that fail as INVALID_HANDLE_VALUE (files, find handles) or as null (the rest).
template <auto Release>
struct HandleTraits {
    static HANDLE Empty() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { Release(h); }
};

inline void ReleaseVirtualMemory(void* memory) { ::VirtualFree(memory, 0, MEM_RELEASE); }

// Files, processes, threads, events: everything CloseHandle frees.
using UniqueHandle = ScopedResource<HANDLE, HandleTraits<::CloseHandle>>;
using UniqueFindHandle = ScopedResource<HANDLE, HandleTraits<::FindClose>>;
using UniqueRegKey = ScopedResource<HKEY, NullIsEmpty<HKEY, ::RegCloseKey>>;
// Fonts, bitmaps, brushes: everything DeleteObject frees.
using UniqueGdiObject = ScopedResource<HGDIOBJ, NullIsEmpty<HGDIOBJ, ::DeleteObject>>;
// Memory from VirtualAlloc, whose pages the system backs only when first touched.
using UniqueVirtualMemory = ScopedResource<void*, NullIsEmpty<void*, ReleaseVirtualMemory>>;
// A device context made by CreateCompatibleDC.
using UniqueMemoryDc = ScopedResource<HDC, NullIsEmpty<HDC, ::DeleteDC>>;
using UniqueIcon = ScopedResource<HICON, NullIsEmpty<HICON, ::DestroyIcon>>;
using UniqueImageList = ScopedResource<HIMAGELIST, NullIsEmpty<HIMAGELIST, ::ImageList_Destroy>>;
// What the system allocated for us with LocalAlloc (formatted messages, SID strings).
using UniqueLocalMemory = ScopedResource<HLOCAL, NullIsEmpty<HLOCAL, ::LocalFree>>;
// Memory handed over with GlobalAlloc (clipboard and drag-and-drop data).
using UniqueGlobalMemory = ScopedResource<HGLOBAL, NullIsEmpty<HGLOBAL, ::GlobalFree>>;
// A hook into a thread's messages (SetWindowsHookExW).
using UniqueHook = ScopedResource<HHOOK, NullIsEmpty<HHOOK, ::UnhookWindowsHookEx>>;
// A menu made for one showing (CreatePopupMenu).
using UniqueMenu = ScopedResource<HMENU, NullIsEmpty<HMENU, ::DestroyMenu>>;
// An item the shell's folder browser chose.
using UniqueItemIdList = ScopedResource<PIDLIST_ABSOLUTE, NullIsEmpty<PIDLIST_ABSOLUTE, ::CoTaskMemFree>>;
// A string the shell allocated for us with CoTaskMemAlloc (known folders' paths).
using UniqueCoTaskString = ScopedResource<PWSTR, NullIsEmpty<PWSTR, ::CoTaskMemFree>>;

// A window's device context (the screen's for a null window), released with the window it
// came from: its client area's, or with Whole the whole window's, frame included.
class CWindowDc {
public:
    enum Area { Client, Whole };
    explicit CWindowDc(HWND window, Area area = Client)
        : window_(window), dc_(area == Whole ? ::GetWindowDC(window) : ::GetDC(window))
    {
    }
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
inline UniqueHandle MakeAutoResetEvent() { return UniqueHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr)); }

}  // namespace tarnwick
