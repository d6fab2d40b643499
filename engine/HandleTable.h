#pragma once
// A snapshot of the system handle table: the extended table (information class 64) with
// full-width process ids and handle values, or the narrow one (class 16) where the system
// refuses the extended one.

#include <windows.h>

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "NativeApi.h"

namespace tarnwick {

inline constexpr ULONG kSystemHandleInformation = 16;
inline constexpr ULONG kSystemExtendedHandleInformation = 64;
inline constexpr LONG kStatusInfoLengthMismatch = LONG(0xC0000004);

// One entry, whichever table it came from.
struct CHandleEntry {
    ULONG_PTR pid;
    ULONG_PTR handleValue;
    ULONG_PTR object;  // kernel object address; 0 where the system hides it
    ULONG grantedAccess;
    USHORT objectType;
};

// The tables as the system lays them out in a 64-bit process.
struct CExtendedHandleEntry {
    PVOID object;
    ULONG_PTR pid;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectType;
    ULONG attributes;
    ULONG reserved;
};
struct CNarrowHandleEntry {
    USHORT pid;
    USHORT creatorBackTraceIndex;
    UCHAR objectType;
    UCHAR flags;
    USHORT handleValue;
    PVOID object;
    ULONG grantedAccess;
};
static_assert(sizeof(void*) != 8 || sizeof(CExtendedHandleEntry) == 40, "extended handle entry layout");
static_assert(sizeof(void*) != 8 || sizeof(CNarrowHandleEntry) == 24, "narrow handle entry layout");

class CHandleTableSnapshot {
public:
    // Reads the extended table, growing the buffer until the call succeeds (a reported
    // length is only a hint: Wine reports none for small buffers, and the table grows
    // between calls). Falls back to the narrow table only when the extended one is refused.
    static CHandleTableSnapshot Take(NtQuerySystemInformationFn query);

    // False when neither table could be read; the snapshot then holds no entries.
    bool ok() const { return status_ >= 0; }
    LONG status() const { return status_; }
    ULONG infoClass() const { return infoClass_; }

    std::size_t size() const { return entries_.size(); }
    const CHandleEntry& operator[](std::size_t i) const { return entries_[i]; }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    // One process's handle values, each with the kernel object under it (0 where hidden).
    std::unordered_map<ULONG_PTR, ULONG_PTR> ObjectsOf(ULONG_PTR pid) const;

private:
    std::vector<CHandleEntry> entries_;
    LONG status_ = LONG(0xC0000001);  // STATUS_UNSUCCESSFUL until read
    ULONG infoClass_ = 0;
};

}  // namespace tarnwick
