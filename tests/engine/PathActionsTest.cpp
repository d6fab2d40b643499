#include <gtest/gtest.h>

#include "PathActions.h"
#include "PathForms.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

// Records what an after-action told and asked, and answers the one question as set.
class RecordingPrompts : public IActionPrompts {
public:
    void Tell(const std::wstring& text) override { told.push_back(text); }
    bool ConfirmDeleteAtBoot(const std::wstring& question) override
    {
        asked.push_back(question);
        return scheduleAtBoot;
    }
    void ReportError(const std::wstring& text) override { errors.push_back(text); }
    bool ShellMayAsk() const override { return false; }

    bool scheduleAtBoot = false;
    std::vector<std::wstring> told, asked, errors;
};

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST(PathActionNames, RenameAndMoveTargets)
{
    EXPECT_EQ(RenamedPath(L"C:\\Data\\a.txt", L"b.txt"), L"C:\\Data\\b.txt");
    EXPECT_EQ(RenamedPath(L"C:\\Data\\Old", L"New"), L"C:\\Data\\New");
    EXPECT_EQ(RenamedPath(L"C:\\Old", L"New"), L"C:\\New") << "the root keeps its one backslash";
    EXPECT_EQ(RenamedPath(L"a.txt", L"b.txt"), L"b.txt");
    EXPECT_EQ(RenamedPath(L"C:\\Data\\a.txt", L"sub\\b .txt"), L"C:\\Data\\sub\\b .txt") << "taken as typed";
    EXPECT_EQ(MovedPath(L"C:\\Data\\a.txt", L"D:\\Archive"), L"D:\\Archive\\a.txt");
    EXPECT_EQ(MovedPath(L"C:\\Data\\a.txt", L"D:\\Archive\\"), L"D:\\Archive\\a.txt");
    EXPECT_EQ(ParentFolder(L"C:\\Data\\a.txt"), L"C:\\Data");
}

class PathActionsOnDisk : public ::testing::Test {
protected:
    TempDir dir{L"tarnwick-actions"};
    RecordingPrompts prompts;
};

TEST_F(PathActionsOnDisk, RenamesFilesAndFoldersAndMovesThem)
{
    const std::wstring file = dir.Sub(L"a.txt"), folder = dir.Sub(L"Old Folder");
    WriteFile(file);
    CreateFolders(folder);
    WriteFile(folder + L"\\inside.txt");

    EXPECT_TRUE(CarryOutAfterAction({AfterAction::RenameTo, file, L"b.txt", L""}, prompts));
    EXPECT_TRUE(Exists(dir.Sub(L"b.txt")));
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::RenameTo, folder, L"New Folder", L""}, prompts));
    EXPECT_TRUE(Exists(dir.Sub(L"New Folder\\inside.txt")));

    const std::wstring archive = dir.Sub(L"archive");
    CreateFolders(archive);
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::MoveTo, dir.Sub(L"b.txt"), L"", archive}, prompts));
    EXPECT_TRUE(Exists(archive + L"\\b.txt"));
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::MoveTo, dir.Sub(L"New Folder"), L"", archive + L"\\"}, prompts));
    EXPECT_TRUE(Exists(archive + L"\\New Folder\\inside.txt"));
    EXPECT_TRUE(prompts.told.empty() && prompts.errors.empty());
}

TEST_F(PathActionsOnDisk, FolderDirectlyBelowADriveRootIsRenamedInPlace)
{
    const std::wstring folder = L"C:\\tarnwick-root-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring renamed = folder + L"-renamed";
    CreateFolders(folder);
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::RenameTo, folder, renamed.substr(3), L""}, prompts));
    EXPECT_TRUE(Exists(renamed));
    EXPECT_FALSE(Exists(folder));
    RemoveTree(renamed);
    RemoveTree(folder);
}

TEST_F(PathActionsOnDisk, FailedFileRenameIsReportedAndEndsTheCommand)
{
    const std::wstring file = dir.Sub(L"a.txt");
    WriteFile(file);
    WriteFile(dir.Sub(L"taken.txt"));
    EXPECT_FALSE(CarryOutAfterAction({AfterAction::RenameTo, file, L"taken.txt", L""}, prompts));
    ASSERT_EQ(prompts.errors.size(), 1u);
    EXPECT_NE(prompts.errors[0].find(file), std::wstring::npos) << "names the file";
    EXPECT_GT(prompts.errors[0].size(), file.size() + 30) << "and the reason";
    EXPECT_TRUE(Exists(file));

    // A folder rename that fails is silent, as is a failed move.
    CreateFolders(dir.Sub(L"folder"));
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::RenameTo, dir.Sub(L"folder"), L"taken.txt", L""}, prompts));
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::MoveTo, file, L"", dir.Sub(L"no such folder")}, prompts));
    EXPECT_EQ(prompts.errors.size(), 1u);
}

TEST_F(PathActionsOnDisk, DeleteReportsSuccessOrAMissingPath)
{
    const std::wstring folder = dir.Sub(L"victim");
    CreateFolders(folder + L"\\sub");
    WriteFile(folder + L"\\sub\\f.txt");
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::Delete, folder, L"", L""}, prompts));
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(CarryOutAfterAction({AfterAction::Delete, folder, L"", L""}, prompts));
    EXPECT_EQ(prompts.told, (std::vector<std::wstring>{L"Path was successfully deleted",
                                                       L"It looks like the specified path does not exist"}));
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(PathActionsOnDisk, PathWithoutShortFormIsActedOnAsShown)
{
    // Components of at most eight characters give a path with no shorter spelling; past 260
    // characters the short form is empty, and the actions must use the path as shown.
    std::wstring deep = dir.path();
    while (deep.size() < 300) {
        deep += L"\\abcdefgh";
        ASSERT_TRUE(::CreateDirectoryW(WithLongPathPrefix(deep).c_str(), nullptr));
    }
    ASSERT_EQ(ShortForm(deep, true), L"");
    EXPECT_EQ(ActionPath(deep), deep);
    const std::wstring shortish = dir.Sub(L"plain.txt");
    WriteFile(shortish);
    EXPECT_EQ(ActionPath(shortish), ShortForm(shortish, true));
    RemoveTree(WithLongPathPrefix(dir.path()));
}
