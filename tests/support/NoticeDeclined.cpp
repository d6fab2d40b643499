// Linked into every test program.
#include <gtest/gtest.h>

#include <optional>

#include "TestRegistry.h"

namespace tarnwick::test {

namespace {

// On a machine where nobody declined it, the free-software notice stands before the main
// window. Test programs count it as declined; the notice's own tests clear the flag for
// themselves (ScopedNoticeFlag). The flag is put back as it was when the program ends.
class NoticeDeclined : public ::testing::Environment {
public:
    void SetUp() override { flag_.emplace().Set(NoticeFlagValue::Dword(1)); }
    void TearDown() override { flag_.reset(); }

private:
    std::optional<ScopedNoticeFlag> flag_;
};

::testing::Environment* const noticeDeclined = ::testing::AddGlobalTestEnvironment(new NoticeDeclined);

}  // namespace

}  // namespace tarnwick::test
