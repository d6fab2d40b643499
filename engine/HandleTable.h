#pragma once
// A snapshot of the system handle table (information class 16).

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SystemServices.h"

namespace tarnwick {

inline constexpr ULONG kSystemHandleInformation = 16;

// One entry, as the system lays it out in a 64-bit process.
struct CHandleEntry {
    ULONG pid;  // read as one 32-bit value
    UCHAR objectType;
    UCHAR flags;
    USHORT handleValue;
    PVOID object;
    ULONG grantedAccess;
    ULONG padding;
};
static_assert(sizeof(void*) != 8 || sizeof(CHandleEntry) == 24, "handle entry layout");

class CHandleTableSnapshot {
public:
    // Two calls at most: one to learn the size, one with 1024 bytes of margin for handles
    // opened in between. A failed snapshot holds no entries.
    static CHandleTableSnapshot Take(NtQuerySystemInformationFn query);

    std::size_t size() const { return count_; }
    const CHandleEntry& operator[](std::size_t i) const { return entries()[i]; }
    const CHandleEntry* begin() const { return entries(); }
    const CHandleEntry* end() const { return entries() + count_; }

private:
    const CHandleEntry* entries() const;
    std::vector<std::uint64_t> buffer_;  // 8-byte aligned
    std::size_t count_ = 0;
};

}  // namespace tarnwick
