#pragma once
// Owners for the COM-side resources: a locked global memory block, a storage medium, a
// critical section, a COM apartment and an interface pointer (the other handles' owners are
// in ScopedHandle.h).

#include <windows.h>
#include <objbase.h>

#include <utility>

#include "ScopedHandle.h"

namespace tarnwick {

// Keeps a global memory block locked for the owner's lifetime.
class GlobalLockScope {
public:
    explicit GlobalLockScope(HGLOBAL memory) : memory_(memory), data_(memory ? ::GlobalLock(memory) : nullptr) {}
    ~GlobalLockScope()
    {
        if (data_)
            ::GlobalUnlock(memory_);
    }
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;

    void* data() const { return data_; }

private:
    HGLOBAL memory_;
    void* data_;
};

// A storage medium handed out by a data object; released exactly once.
class StorageMedium {
public:
    StorageMedium() = default;
    ~StorageMedium()
    {
        if (medium_.tymed != TYMED_NULL)
            ::ReleaseStgMedium(&medium_);
    }
    StorageMedium(const StorageMedium&) = delete;
    StorageMedium& operator=(const StorageMedium&) = delete;

    STGMEDIUM* put() { return &medium_; }
    const STGMEDIUM& get() const { return medium_; }

private:
    STGMEDIUM medium_ = {};
};

class CriticalSection {
public:
    // Initialisation can fail on old systems; ok() reports it.
    CriticalSection() : ok_(::InitializeCriticalSectionAndSpinCount(&section_, 0) != FALSE) {}
    ~CriticalSection()
    {
        if (ok_)
            ::DeleteCriticalSection(&section_);
    }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    bool ok() const { return ok_; }
    void Enter() { ::EnterCriticalSection(&section_); }
    void Leave() { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
    bool ok_;
};

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~CriticalSectionLock() { section_.Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& section_;
};

// COM on the calling thread for the owner's lifetime, in a single-threaded apartment, as
// Explorer and the shell's dialogs want it.
class ComApartment {
public:
    ComApartment() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(hr_))
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT hr_;
};

// Holds one reference to an interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over one reference the caller holds.
    explicit ComPtr(T* owned) : ptr_(owned) {}
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(other.release()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            ptr_ = other.release();
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    T* release() { return std::exchange(ptr_, nullptr); }
    void reset()
    {
        if (T* old = std::exchange(ptr_, nullptr))
            old->Release();
    }
    // For out-parameters: releases what is held and hands out the slot.
    T** put()
    {
        reset();
        return &ptr_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* ptr_ = nullptr;
};

}  // namespace tarnwick
