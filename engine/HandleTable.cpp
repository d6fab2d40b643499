#include "HandleTable.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr ULONG kFirstCallBytes = 32;
constexpr ULONG kGrowthMargin = 1024;
constexpr std::size_t kHeaderBytes = 8;  // entry count and padding

}  // namespace

CHandleTableSnapshot CHandleTableSnapshot::Take(NtQuerySystemInformationFn query)
{
    CHandleTableSnapshot snapshot;
    if (!query)
        return snapshot;
    ULONG length = kFirstCallBytes;
    snapshot.buffer_.assign(length / sizeof(std::uint64_t), 0);
    ULONG needed = 0;
    if (query(kSystemHandleInformation, snapshot.buffer_.data(), length, &needed) < 0) {
        // Without a needed length there is nothing to go by: read no entries.
        if (needed == 0)
            return {};
        length = needed + kGrowthMargin;
        snapshot.buffer_.assign((length + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
        if (query(kSystemHandleInformation, snapshot.buffer_.data(), length, &needed) < 0)
            return {};
    }
    // Never read past the buffer, whatever the count claims.
    const ULONG claimed = *reinterpret_cast<const ULONG*>(snapshot.buffer_.data());
    snapshot.count_ = std::min<std::size_t>(claimed, (length - kHeaderBytes) / sizeof(CHandleEntry));
    return snapshot;
}

const CHandleEntry* CHandleTableSnapshot::entries() const
{
    if (buffer_.empty())
        return nullptr;
    return reinterpret_cast<const CHandleEntry*>(reinterpret_cast<const BYTE*>(buffer_.data()) + kHeaderBytes);
}

}  // namespace tarnwick
