#include "HandleTable.h"

#include <algorithm>
#include <cstdint>

namespace tarnwick {

namespace {

constexpr ULONG kFirstBufferBytes = 256 * 1024;
constexpr ULONG kLargestBufferBytes = 1024u * 1024 * 1024;
constexpr ULONG kGrowthMargin = 64 * 1024;  // handles opened between two calls

struct CRawTable {
    std::vector<std::uint64_t> buffer;  // 8-byte aligned
    ULONG length = 0;                   // bytes handed to the system
    LONG status = 0;
};

ULONG NextLength(ULONG length, ULONG needed)
{
    const std::uint64_t doubled = std::uint64_t(length) * 2;
    const std::uint64_t hinted = std::uint64_t(needed) + kGrowthMargin;
    return ULONG(std::min<std::uint64_t>(std::max(doubled, hinted), kLargestBufferBytes));
}

CRawTable Read(NtQuerySystemInformationFn query, ULONG infoClass)
{
    CRawTable table;
    ULONG needed = 0;
    for (ULONG length = kFirstBufferBytes;; length = NextLength(length, needed)) {
        table.buffer.assign((length + 7) / 8, 0);
        table.length = length;
        needed = 0;
        table.status = query(infoClass, table.buffer.data(), length, &needed);
        if (table.status != kStatusInfoLengthMismatch || length == kLargestBufferBytes)
            return table;
    }
}

// The entries of either layout; Count is the type of the header's entry count. Only
// entries that lie wholly inside the buffer are read, whatever the count claims.
template <class Entry, class Count>
std::vector<CHandleEntry> EntriesOf(const CRawTable& table, std::size_t headerBytes)
{
    if (table.length < headerBytes)
        return {};
    const auto* bytes = reinterpret_cast<const BYTE*>(table.buffer.data());
    const std::size_t claimed = *reinterpret_cast<const Count*>(bytes);
    const std::size_t count = std::min<std::size_t>(claimed, (table.length - headerBytes) / sizeof(Entry));
    const auto* raw = reinterpret_cast<const Entry*>(bytes + headerBytes);
    std::vector<CHandleEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        entries[i] = {raw[i].pid, raw[i].handleValue, reinterpret_cast<ULONG_PTR>(raw[i].object), raw[i].grantedAccess,
                      raw[i].objectType};
    }
    return entries;
}

}  // namespace

CHandleTableSnapshot CHandleTableSnapshot::Take(NtQuerySystemInformationFn query)
{
    CHandleTableSnapshot snapshot;
    if (!query)
        return snapshot;
    CRawTable table = Read(query, kSystemExtendedHandleInformation);
    snapshot.infoClass_ = kSystemExtendedHandleInformation;
    if (table.status < 0 && table.status != kStatusInfoLengthMismatch) {
        table = Read(query, kSystemHandleInformation);
        snapshot.infoClass_ = kSystemHandleInformation;
    }
    snapshot.status_ = table.status;
    if (table.status < 0)
        return snapshot;
    // Extended: count and a reserved word before the entries; narrow: a 32-bit count and padding.
    snapshot.entries_ = snapshot.infoClass_ == kSystemExtendedHandleInformation
                            ? EntriesOf<CExtendedHandleEntry, ULONG_PTR>(table, 2 * sizeof(ULONG_PTR))
                            : EntriesOf<CNarrowHandleEntry, ULONG>(table, 8);
    return snapshot;
}

std::unordered_map<ULONG_PTR, ULONG_PTR> CHandleTableSnapshot::ObjectsOf(ULONG_PTR pid) const
{
    std::unordered_map<ULONG_PTR, ULONG_PTR> objects;
    for (const CHandleEntry& entry : entries_) {
        if (entry.pid == pid)
            objects.emplace(entry.handleValue, entry.object);
    }
    return objects;
}

}  // namespace tarnwick
