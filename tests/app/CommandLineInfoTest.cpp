#include <gtest/gtest.h>

#include "CommandLineInfo.h"

using namespace tarnwick;

namespace {

std::wstring PathOf(const std::wstring& commandLine)
{
    return ParseCommandLine(SplitCommandLine(commandLine)).m_strFileName;
}

}  // namespace

TEST(CommandLine, PathIsTheFirstArgumentThatIsNotASwitch)
{
    EXPECT_EQ(PathOf(L"Tarnwick.exe"), L"");
    EXPECT_EQ(PathOf(L"\"C:\\Program Files\\Tarnwick\\Tarnwick.exe\""), L"");
    EXPECT_EQ(PathOf(L"Tarnwick.exe \"C:\\Some Folder\""), L"C:\\Some Folder");
    EXPECT_EQ(PathOf(L"Tarnwick.exe C:\\Some Folder"), L"C:\\Some");
    EXPECT_EQ(PathOf(L"Tarnwick.exe /x C:\\first C:\\second"), L"C:\\first");
    EXPECT_EQ(PathOf(L"Tarnwick.exe -anything=1 /? data\\x.txt"), L"data\\x.txt");
    EXPECT_EQ(PathOf(L"Tarnwick.exe -C:\\exists.txt /C:\\also"), L"") << "never a path, even if such a file exists";
    EXPECT_EQ(PathOf(L"\"C:\\odd dir\\Tarnwick.exe\"\tC:\\x"), L"C:\\x");
}
