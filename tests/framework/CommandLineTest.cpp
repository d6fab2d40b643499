#include <gtest/gtest.h>

#include "CommandLine.h"

using namespace tarnwick;

TEST(CommandLine, SplitsByThePlatformRules)
{
    using Args = std::vector<std::wstring>;
    EXPECT_EQ(SplitCommandLine(L"p a\tb   c"), (Args{L"p", L"a", L"b", L"c"}));
    EXPECT_EQ(SplitCommandLine(L"p \"a b\"c d"), (Args{L"p", L"a bc", L"d"}));
    // Backslashes are literal unless they come before a quote.
    EXPECT_EQ(SplitCommandLine(L"p C:\\a\\b\\"), (Args{L"p", L"C:\\a\\b\\"}));
    EXPECT_EQ(SplitCommandLine(L"p a\\\\\"b c\""), (Args{L"p", L"a\\b c"}));      // 2n: n, quote opens
    EXPECT_EQ(SplitCommandLine(L"p a\\\\\\\"b"), (Args{L"p", L"a\\\"b"}));        // 2n+1: n and a quote
    EXPECT_EQ(SplitCommandLine(L"p \"a\"\"b\" c"), (Args{L"p", L"a\"b", L"c"}));  // "" inside quotes
    EXPECT_EQ(SplitCommandLine(L"p \"\""), (Args{L"p", L""}));
    EXPECT_EQ(SplitCommandLine(L"p *.txt"), (Args{L"p", L"*.txt"})) << "no wildcard expansion";
    // A drive root quoted naively: the backslash escapes the closing quote.
    EXPECT_EQ(SplitCommandLine(L"p \"C:\\\""), (Args{L"p", L"C:\""}));
}

TEST(CommandLine, QuotingRoundTrips)
{
    for (const std::wstring& argument :
         {std::wstring(L"C:\\"), std::wstring(L"C:\\Some Folder\\"), std::wstring(L"a\"b"), std::wstring(L"tab\there"),
          std::wstring(L""), std::wstring(L"x\\\\\"y\\")}) {
        const auto split = SplitCommandLine(L"p " + QuoteCommandLineArgument(argument));
        ASSERT_EQ(split.size(), 2u);
        EXPECT_EQ(split[1], argument);
    }
}
