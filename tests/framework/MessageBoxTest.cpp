#include <gtest/gtest.h>

#include "MessageBox.h"

using namespace tarnwick;

TEST(MessagePaths, ALongPathLosesItsMiddleAndKeepsItsEnds)
{
    const std::wstring shortPath = L"C:\\Data\\report.txt";
    EXPECT_EQ(PathForMessage(shortPath), shortPath);
    std::wstring longPath = L"C:\\Projects";
    while (longPath.size() < 300)
        longPath += L"\\a folder with a long name";
    longPath += L"\\final report.txt";
    const std::wstring shown = PathForMessage(longPath);
    EXPECT_LE(shown.size(), 80u);
    EXPECT_GE(shown.size(), 70u);
    EXPECT_EQ(shown.substr(0, 3), L"C:\\");
    EXPECT_NE(shown.find(L"..."), std::wstring::npos);
    EXPECT_EQ(shown.substr(shown.size() - 17), L"\\final report.txt");

    const std::wstring text = L"Unable to rename \"" + longPath + L"\" to \"" + shortPath + L"\":\nAccess is denied.";
    EXPECT_EQ(WithPathsForMessage(text, {longPath, shortPath}),
              L"Unable to rename \"" + shown + L"\" to \"" + shortPath + L"\":\nAccess is denied.");
}
