#pragma once
// Move-only owners of platform handles, so that no path can forget a close.

#include <windows.h>

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

// Files, processes, threads, events: everything CloseHandle frees.
using UniqueHandle = ScopedResource<HANDLE, KernelHandleTraits>;
using UniqueFindHandle = ScopedResource<HANDLE, FindHandleTraits>;
using UniqueRegKey = ScopedResource<HKEY, RegKeyTraits>;

// An unnamed auto-reset event, initially not signalled.
inline UniqueHandle MakeAutoResetEvent()
{
    return UniqueHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

}  // namespace tarnwick
