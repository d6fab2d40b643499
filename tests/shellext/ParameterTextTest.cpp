// The parameter text the handler gives the main program, read back by the platform's own
// splitting rules.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "ParameterText.h"
#include "TestSupport.h"

using namespace tarnwick;

namespace {

constexpr std::size_t kParamsSize = MAX_PATH + 2;

std::wstring Parameters(const std::wstring& path)
{
    wchar_t params[kParamsSize];
    std::fill(params, params + kParamsSize, L'#');
    FormatProgramParameters(path, params, kParamsSize);
    return params;
}

std::vector<std::wstring> Split(const std::wstring& commandLine)
{
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(commandLine.c_str(), &argc);
    const UniqueLocalMemory owner(argv);
    return std::vector<std::wstring>(argv, argv + argc);
}

TEST(ParameterTextTest, EveryPathThatFitsArrivesWhole)
{
    // Every length a selected path can have, ending in up to three backslashes, some with blanks.
    for (std::size_t length = 3; length < MAX_PATH; ++length) {
        for (std::size_t backslashes = 1; backslashes <= 3 && backslashes <= length - 2; ++backslashes) {
            std::wstring path = L"C:" + std::wstring(length - 2 - backslashes, L'x') + std::wstring(backslashes, L'\\');
            if (length % 3 == 0 && length > 5)
                path[3] = L' ';
            const std::wstring params = Parameters(path);
            ASSERT_LE(params.size(), kParamsSize - 1) << length;
            const auto args = Split(L"Tarnwick.exe" + params);
            ASSERT_EQ(args.size(), 2u) << tarnwick::test::WideToUtf8(params);
            ASSERT_EQ(args[1], path) << tarnwick::test::WideToUtf8(params);
        }
        const std::wstring plain = L"C:\\" + std::wstring(length - 3, L'y');
        ASSERT_EQ(Split(L"Tarnwick.exe" + Parameters(plain)).at(1), plain) << length;
    }
}

TEST(ParameterTextTest, PathIsQuotedAfterABlankAndCutToTheBuffer)
{
    EXPECT_EQ(Parameters(L"C:\\Some Data"), L" \"C:\\Some Data\"");
    EXPECT_EQ(Parameters(L"C:\\"), L" \"C:\\\\\"");
    const std::wstring fits = L"C:\\" + std::wstring(255, L'a');  // 258 characters
    EXPECT_EQ(Parameters(fits), L" \"" + fits + L"\"");
    const std::wstring longest = fits + L"a";
    EXPECT_EQ(Parameters(longest), L" \"" + longest);

    wchar_t small[5];
    FormatBounded(small, 5, {L"abc", L"def"});
    EXPECT_EQ(std::wstring(small), L"abcd");
    FormatBounded(small, 1, {L"abc"});
    EXPECT_EQ(small[0], L'\0');
}

}  // namespace
