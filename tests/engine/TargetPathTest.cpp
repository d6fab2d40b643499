#include <gtest/gtest.h>

#include "PathForms.h"
#include "ProtectedFolders.h"
#include "SystemServices.h"
#include "TargetPath.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

std::wstring Normalized(const std::wstring& written)
{
    const CTargetPath target = NormalizeTargetPath(written, ReadCurrentDriveTable().aliases);
    EXPECT_EQ(target.problem, L"") << WideToUtf8(written);
    return target.path;
}

class TargetPaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateFolders(folder);
        ::GetCurrentDirectoryW(MAX_PATH, previous);
    }
    void TearDown() override { ::SetCurrentDirectoryW(previous); }

    TempDir dir{L"tarnwick-target"};
    const std::wstring folder = dir.Sub(L"Long folder name");
    wchar_t previous[MAX_PATH] = {};
};

}  // namespace

TEST_F(TargetPaths, EverySpellingOfOneFolderComesOutAlike)
{
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.path().c_str()));
    std::wstring slashes = folder;
    for (wchar_t& c : slashes)
        c = c == L'\\' ? L'/' : c;
    const std::wstring alias = ShortForm(folder, true);
    ASSERT_NE(alias, folder) << "the volume makes 8.3 aliases";
    for (const std::wstring& written :
         {folder, folder + L"\\", folder + L"\\\\", slashes, slashes + L"/", std::wstring(L"Long folder name"),
          std::wstring(L".\\sub\\..\\Long folder name\\"), folder + L".", folder + L" . ", alias, alias + L"\\",
          WithLongPathPrefix(folder), L"\\??\\" + folder}) {
        EXPECT_EQ(Normalized(written), folder) << WideToUtf8(written);
    }
}

TEST_F(TargetPaths, DriveRootsKeepTheirBackslashAndSharesLoseTheirs)
{
    EXPECT_EQ(Normalized(L"C:\\"), L"C:\\");
    EXPECT_EQ(Normalized(L"C:/"), L"C:\\");
    EXPECT_EQ(Normalized(L"\\\\server\\share\\dir\\"), L"\\\\server\\share\\dir");
    EXPECT_EQ(Normalized(L"//server/share/dir/"), L"\\\\server\\share\\dir");
    EXPECT_EQ(Normalized(L"\\\\?\\UNC\\server\\share\\dir"), L"\\\\server\\share\\dir");
    EXPECT_EQ(Normalized(L""), L"");
}

TEST_F(TargetPaths, DeviceNamesAreRefusedNotScanned)
{
    for (const std::wstring& written :
         {std::wstring(L"CON"), std::wstring(L"nul"), std::wstring(L"COM1"), std::wstring(L"\\\\.\\PhysicalDrive0"),
          std::wstring(L"\\\\.\\C:"), std::wstring(L"\\\\?\\GLOBALROOT\\Device\\Null"), folder + L"\\con"}) {
        const CTargetPath target = NormalizeTargetPath(written, CDriveAliases{});
        EXPECT_EQ(target.path, L"") << WideToUtf8(written);
        EXPECT_NE(target.problem.find(L"device"), std::wstring::npos) << WideToUtf8(written);
    }
}

TEST_F(TargetPaths, LetterThatStandsForAFolderIsWrittenThroughThatFolder)
{
    SubstDrive drive(dir.path());
    ASSERT_TRUE(drive.defined());
    EXPECT_EQ(Normalized(drive.letter() + L"\\Long folder name\\"), folder);
    EXPECT_EQ(Normalized(drive.letter() + L"\\"), dir.path());
}

TEST_F(TargetPaths, LongPathPrefixTakesTheNameLiterally)
{
    // The system drops a trailing dot or blank from a plain path; behind the prefix it stays.
    for (const std::wstring& name : {std::wstring(L"name."), std::wstring(L"name "), std::wstring(L"a. b.")}) {
        const std::wstring literal = L"\\\\?\\" + folder + L"\\" + name;
        EXPECT_EQ(Normalized(literal), literal) << WideToUtf8(name);
        EXPECT_EQ(Normalized(L"\\??\\" + folder + L"\\" + name), literal) << WideToUtf8(name);
        EXPECT_EQ(Normalized(folder + L"\\" + name).back(), name == L"a. b." ? L'b' : L'e') << "plain: trimmed";
    }
    EXPECT_EQ(Normalized(L"\\\\?\\" + folder + L"\\plain.txt"), folder + L"\\plain.txt") << "plain where it may be";
}

TEST_F(TargetPaths, TargetRecordsWhereALinkLeadsAndIsRefusedWhenThatIsProtected)
{
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    CSystemServices services;
    ASSERT_EQ(BindSystemServices(services), L"");
    const FolderLink toWindows(dir.Sub(L"windows link"), windows);
    ASSERT_TRUE(toWindows.made());
    const CTarget target = MakeTarget(dir.Sub(L"windows link"), false, services);
    EXPECT_EQ(target.finalPath, windows);
    EXPECT_EQ(ProtectedFolderProblem(target), L"\"" + dir.Sub(L"windows link") + L"\" leads to the Windows folder (\"" +
                                                  windows + L"\"); Tarnwick does not delete, rename or move it.");
    EXPECT_EQ(MakeTarget(folder, false, services).finalPath, L"") << "a path that leads to itself";
}
