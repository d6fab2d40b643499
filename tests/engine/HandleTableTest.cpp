#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "HandleTable.h"

using namespace tarnwick;

namespace {

// A pretend system handle table, answered in the layout of the class asked for, with
// Wine's habit of reporting no needed length for buffers under 56 bytes.
struct FakeTable {
    std::vector<CHandleEntry> entries;
    bool refuseExtended = false;
    bool refuseNarrow = false;
    std::size_t growthPerCall = 0;  // handles opened between two calls
    ULONG claimExtra = 0;           // a count that claims more entries than were written
    int calls = 0;
};
FakeTable g_table;

template <class Entry, class Count>
LONG Answer(PVOID buffer, ULONG length, PULONG needed, std::size_t headerBytes, Entry (*convert)(const CHandleEntry&))
{
    const std::size_t size = headerBytes + g_table.entries.size() * sizeof(Entry);
    if (length < size) {
        *needed = length >= 56 ? ULONG(size) : 0;
        return kStatusInfoLengthMismatch;
    }
    auto* bytes = static_cast<BYTE*>(buffer);
    const Count count = Count(g_table.entries.size() + g_table.claimExtra);
    std::memcpy(bytes, &count, sizeof count);
    for (std::size_t i = 0; i < g_table.entries.size(); ++i) {
        const Entry raw = convert(g_table.entries[i]);
        std::memcpy(bytes + headerBytes + i * sizeof(Entry), &raw, sizeof(Entry));
    }
    return 0;
}

CExtendedHandleEntry Extended(const CHandleEntry& e)
{
    return {reinterpret_cast<PVOID>(e.object), e.pid, e.handleValue, e.grantedAccess, 0, e.objectType, 0, 0};
}

CNarrowHandleEntry Narrow(const CHandleEntry& e)
{
    return {USHORT(e.pid),  0, UCHAR(e.objectType), 0, USHORT(e.handleValue), reinterpret_cast<PVOID>(e.object),
            e.grantedAccess};
}

LONG NTAPI FakeQuery(ULONG infoClass, PVOID buffer, ULONG length, PULONG needed)
{
    ++g_table.calls;
    for (std::size_t i = 0; i < g_table.growthPerCall; ++i)
        g_table.entries.push_back({ULONG_PTR(1000 + i), 4, 0, 0x12019F, 17});
    constexpr LONG kInvalidInfoClass = LONG(0xC0000003);
    if (infoClass == kSystemExtendedHandleInformation)
        return g_table.refuseExtended ? kInvalidInfoClass
                                      : Answer<CExtendedHandleEntry, ULONG_PTR>(buffer, length, needed, 16, Extended);
    if (infoClass == kSystemHandleInformation)
        return g_table.refuseNarrow ? kInvalidInfoClass
                                    : Answer<CNarrowHandleEntry, ULONG>(buffer, length, needed, 8, Narrow);
    return kInvalidInfoClass;
}

const CHandleEntry kWide = {70000, 0x109f8, 0xffff800012345678ull, 0x12019F, 17};
const CHandleEntry kNarrow = {264, 0x38, 0xffff800087654321ull, 0x120089, 17};

}  // namespace

TEST(HandleTable, FullWidthProcessIdsAndHandleValuesComeThrough)
{
    g_table = {};
    g_table.entries = {kNarrow, kWide};
    const CHandleTableSnapshot snapshot = CHandleTableSnapshot::Take(FakeQuery);
    ASSERT_TRUE(snapshot.ok());
    EXPECT_EQ(snapshot.infoClass(), kSystemExtendedHandleInformation);
    ASSERT_EQ(snapshot.size(), 2u);
    EXPECT_EQ(snapshot[1].pid, 70000u);
    EXPECT_EQ(snapshot[1].handleValue, 0x109f8u);
    EXPECT_EQ(snapshot[1].object, 0xffff800012345678ull);
    EXPECT_EQ(snapshot[1].grantedAccess, 0x12019Fu);
    EXPECT_EQ(snapshot[1].objectType, 17u);
    EXPECT_EQ(snapshot[0].pid, 264u);
}

TEST(HandleTable, BufferGrowsUntilTheCallSucceedsHoweverTheTableGrows)
{
    g_table = {};
    g_table.growthPerCall = 20000;  // 800 KB more per call: every reported length is already too small
    const CHandleTableSnapshot snapshot = CHandleTableSnapshot::Take(FakeQuery);
    ASSERT_TRUE(snapshot.ok());
    EXPECT_GT(g_table.calls, 2);
    EXPECT_EQ(snapshot.size(), g_table.entries.size());
}

TEST(HandleTable, NarrowTableOnlyWhenTheExtendedOneIsRefused)
{
    g_table = {};
    g_table.entries = {kNarrow};
    g_table.refuseExtended = true;
    CHandleTableSnapshot snapshot = CHandleTableSnapshot::Take(FakeQuery);
    ASSERT_TRUE(snapshot.ok());
    EXPECT_EQ(snapshot.infoClass(), kSystemHandleInformation);
    ASSERT_EQ(snapshot.size(), 1u);
    EXPECT_EQ(snapshot[0].pid, 264u);
    EXPECT_EQ(snapshot[0].handleValue, 0x38u);
    EXPECT_EQ(snapshot[0].grantedAccess, 0x120089u);

    g_table.refuseNarrow = true;
    snapshot = CHandleTableSnapshot::Take(FakeQuery);
    EXPECT_FALSE(snapshot.ok()) << "a table that cannot be read is a failure, not an empty table";
    EXPECT_EQ(snapshot.size(), 0u);
}

TEST(HandleTable, NeverReadsPastTheBufferWhateverTheCountClaims)
{
    g_table = {};
    g_table.entries = {kWide, kNarrow};
    g_table.claimExtra = 100000000;
    const CHandleTableSnapshot snapshot = CHandleTableSnapshot::Take(FakeQuery);
    ASSERT_TRUE(snapshot.ok());
    EXPECT_LE(snapshot.size(), 256u * 1024 / sizeof(CExtendedHandleEntry));
    EXPECT_EQ(snapshot[0].pid, 70000u);
}
