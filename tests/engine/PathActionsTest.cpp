#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include <shlwapi.h>

#include "PathActions.h"
#include "SystemServices.h"
#include "PathForms.h"
#include "ProtectedFolders.h"
#include "TestSupport.h"
#include "Text.h"

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
    bool ShellMayAsk() const override { return shellAsks; }

    bool shellAsks = false;
    bool scheduleAtBoot = false;
    std::vector<std::wstring> told, asked;
};

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

// The target of a command on path, as every front end makes it.
CTarget TargetOf(const std::wstring& path) { return MakeTarget(path, false, CSystemServices{}); }

class PathActionsOnDisk : public ::testing::Test {
protected:
    ActionResult Run(const std::wstring& path, AfterAction action, const std::wstring& newName = L"",
                     const std::wstring& destination = L"")
    {
        const CTarget target = TargetOf(path);
        const CAfterActionRequest request = MakeAfterActionRequest(target, action, newName, destination);
        EXPECT_EQ(AfterActionProblem(target, request), L"") << WideToUtf8(path);
        outcome = CarryOutAfterAction(target, request, prompts);
        return outcome.result;
    }

    TempDir dir{L"tarnwick-actions"};
    RecordingPrompts prompts;
    CActionOutcome outcome;
};

TEST_F(PathActionsOnDisk, RenamesFilesAndFoldersAndMovesThem)
{
    const std::wstring file = dir.Sub(L"a.txt"), folder = dir.Sub(L"Old Folder");
    WriteFile(file);
    CreateFolders(folder);
    WriteFile(folder + L"\\inside.txt");

    EXPECT_EQ(Run(file, AfterAction::RenameTo, L"b.txt"), ActionResult::Done);
    EXPECT_TRUE(Exists(dir.Sub(L"b.txt")));
    EXPECT_FALSE(Exists(file));
    EXPECT_EQ(Run(folder, AfterAction::RenameTo, L"New Folder"), ActionResult::Done);
    EXPECT_TRUE(Exists(dir.Sub(L"New Folder\\inside.txt")));

    const std::wstring archive = dir.Sub(L"archive");
    CreateFolders(archive);
    EXPECT_EQ(Run(dir.Sub(L"b.txt"), AfterAction::MoveTo, L"", archive), ActionResult::Done);
    EXPECT_TRUE(Exists(archive + L"\\b.txt"));
    EXPECT_EQ(Run(dir.Sub(L"New Folder"), AfterAction::MoveTo, L"", archive + L"\\"), ActionResult::Done);
    EXPECT_TRUE(Exists(archive + L"\\New Folder\\inside.txt"));
    EXPECT_TRUE(prompts.told.empty());
}

TEST_F(PathActionsOnDisk, FolderDirectlyBelowADriveRootIsRenamedInPlace)
{
    const std::wstring folder = L"C:\\tarnwick-root-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring renamed = folder + L"-renamed";
    CreateFolders(folder);
    EXPECT_EQ(Run(folder, AfterAction::RenameTo, renamed.substr(3)), ActionResult::Done);
    EXPECT_TRUE(Exists(renamed));
    EXPECT_FALSE(Exists(folder));
    RemoveTree(renamed);
    RemoveTree(folder);
}

TEST_F(PathActionsOnDisk, ActionsThatCannotSucceedAreRefusedBeforeAnyLockIsTouched)
{
    const std::wstring file = dir.Sub(L"a.txt"), folder = dir.Sub(L"folder"), archive = dir.Sub(L"archive");
    WriteFile(file);
    WriteFile(dir.Sub(L"taken.txt"));
    CreateFolders(folder + L"\\sub");
    CreateFolders(archive + L"\\folder");
    WriteFile(archive + L"\\a.txt");
    ASSERT_TRUE(::PathIsDirectoryW(L"Z:\\dev\\shm")) << "no second volume";
    const std::wstring taken = L" already exists; Tarnwick does not replace it.";
    const struct {
        std::wstring path;
        AfterAction action;
        std::wstring newName, destination, problem;
    } cases[] = {
        {folder, AfterAction::MoveTo, L"", folder,
         L"\"" + folder + L"\" is \"" + folder + L"\" itself or inside it; a folder cannot be moved into itself."},
        {folder, AfterAction::MoveTo, L"", folder + L"\\sub",
         L"\"" + folder + L"\\sub\" is \"" + folder + L"\" itself or inside it; a folder cannot be moved into itself."},
        {folder, AfterAction::MoveTo, L"", archive, L"\"" + archive + L"\\folder\"" + taken},
        {file, AfterAction::MoveTo, L"", archive, L"\"" + archive + L"\\a.txt\"" + taken},
        {file, AfterAction::RenameTo, L"taken.txt", L"", L"\"" + dir.Sub(L"taken.txt") + L"\"" + taken},
        {folder, AfterAction::RenameTo, L"TAKEN.txt", L"", L"\"" + dir.Sub(L"TAKEN.txt") + L"\"" + taken},
        {folder, AfterAction::MoveTo, L"", L"Z:\\dev\\shm",
         L"\"" + folder +
             L"\" is a folder, and \"Z:\\dev\\shm\" is on another volume; a folder moves only within its "
             L"volume."},
        {file, AfterAction::MoveTo, L"", L"Z:\\dev\\shm", L""},  // a file is copied across
        {file, AfterAction::RenameTo, L"A.TXT", L"", L""},       // its own name in another case
        {folder + L"\\sub", AfterAction::MoveTo, L"", dir.path(), L""},
    };
    for (const auto& c : cases) {
        const CTarget target = TargetOf(c.path);
        EXPECT_EQ(AfterActionProblem(target, MakeAfterActionRequest(target, c.action, c.newName, c.destination)),
                  c.problem)
            << WideToUtf8(c.path + L" " + c.newName + c.destination);
    }
}

TEST_F(PathActionsOnDisk, RenameOrMoveOntoANameTakenAfterTheCheckSaysWhatFailedAndTheSystemsReason)
{
    const std::wstring file = dir.Sub(L"a.txt"), folder = dir.Sub(L"folder"), archive = dir.Sub(L"archive");
    WriteFile(file);
    CreateFolders(folder);
    CreateFolders(archive);
    const struct {
        std::wstring path;
        AfterAction action;
        std::wstring newName, destination, taken, text;
    } cases[] = {
        {file, AfterAction::RenameTo, L"taken.txt", L"", dir.Sub(L"taken.txt"),
         L"Unable to rename \"" + file + L"\" to \"" + dir.Sub(L"taken.txt") + L"\":\n"},
        {folder, AfterAction::RenameTo, L"taken folder", L"", dir.Sub(L"taken folder"),
         L"Unable to rename \"" + folder + L"\" to \"" + dir.Sub(L"taken folder") + L"\":\n"},
        {folder, AfterAction::MoveTo, L"", archive, archive + L"\\folder",
         L"Unable to move \"" + folder + L"\" to \"" + archive + L"\\folder\":\n"},
    };
    for (const auto& c : cases) {
        const CTarget target = TargetOf(c.path);
        const CAfterActionRequest request = MakeAfterActionRequest(target, c.action, c.newName, c.destination);
        ASSERT_EQ(AfterActionProblem(target, request), L"");
        CreateFolders(c.taken);  // by someone else, while the locks were removed
        outcome = CarryOutAfterAction(target, request, prompts);
        EXPECT_EQ(outcome.result, ActionResult::Failed);
        EXPECT_EQ(outcome.text, c.text + SystemMessage(ERROR_ALREADY_EXISTS));
    }
    EXPECT_TRUE(Exists(file));
    EXPECT_TRUE(Exists(folder));
}

TEST(ProtectedFolders, RootsAndTheSystemsOwnFoldersAreRefusedHoweverWritten)
{
    wchar_t windows[MAX_PATH] = {}, system[MAX_PATH] = {}, programsShort[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring programs = L"C:\\Program Files";
    ASSERT_TRUE(::GetShortPathNameW(programs.c_str(), programsShort, MAX_PATH));
    wchar_t profile[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    ASSERT_TRUE(::GetEnvironmentVariableW(L"USERPROFILE", profile, size));
    const std::wstring users = ParentFolder(profile);
    SubstDrive letter(windows);
    ASSERT_TRUE(letter.defined());
    const std::pair<std::wstring, const wchar_t*> refused[] = {
        {L"C:\\", L"a drive root"},
        {L"c:/", L"a drive root"},
        {windows, L"the Windows folder"},
        {std::wstring(windows) + L"\\", L"the Windows folder"},
        {letter.letter() + L"\\", L"the Windows folder"},
        {system, L"a system folder"},
        {programsShort, L"a program folder"},
        {L"C:\\Program Files (x86)", L"a program folder"},
        {L"C:\\ProgramData", L"the program-data folder"},
        {users, L"the users' folder"},
        {profile, L"a user's profile folder"},
        {users + L"\\Public", L"a user's profile folder"},
    };
    for (const auto& [path, what] : refused) {
        const CTarget target = TargetOf(path);
        EXPECT_EQ(ProtectedFolderProblem(target),
                  L"\"" + path + L"\" is " + what + L"; Tarnwick does not delete, rename or move it.")
            << WideToUtf8(path);
        EXPECT_EQ(AfterActionProblem(target, {AfterAction::MoveTo, L"", L"D:\\x", L""}),
                  ProtectedFolderProblem(target));
    }
    EXPECT_EQ(AfterActionProblem(TargetOf(L"C:\\"), {}), L"") << "listing and unlocking go on";

    TempDir dir{L"tarnwick-protected"};
    SubstDrive own(dir.path());
    ASSERT_TRUE(own.defined());
    for (const std::wstring& allowed : {dir.path(), own.letter() + L"\\", std::wstring(windows) + L"\\Temp",
                                        std::wstring(profile) + L"\\AppData", programs + L"\\Tarnwick"})
        EXPECT_EQ(ProtectedFolderProblem(TargetOf(allowed)), L"") << WideToUtf8(allowed);
}

TEST_F(PathActionsOnDisk, DeleteReportsSuccessOrAMissingPath)
{
    const std::wstring folder = dir.Sub(L"victim");
    CreateFolders(folder + L"\\sub");
    WriteFile(folder + L"\\sub\\f.txt");
    EXPECT_EQ(Run(folder, AfterAction::Delete), ActionResult::Done);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(Run(folder, AfterAction::Delete), ActionResult::Done);
    EXPECT_EQ(prompts.told, (std::vector<std::wstring>{L"Path was successfully deleted",
                                                       L"It looks like the specified path does not exist"}));
    EXPECT_TRUE(prompts.asked.empty());
}

TEST_F(PathActionsOnDisk, NoAtTheShellsOwnQuestionKeepsThePathAndNothingMoreIsAsked)
{
    const std::wstring folder = dir.Sub(L"kept");
    CreateFolders(folder);
    WriteFile(folder + L"\\f.txt");
    prompts.shellAsks = true;
    for (const int answer : {IDNO, IDYES}) {
        // The shell's question is a window of this process, answered as a person would.
        std::thread person([answer] {
            const HWND box = WaitForDialogOf(::GetCurrentProcessId());
            if (box)
                PressDialogButton(box, answer);
        });
        const ActionResult result = Run(folder, AfterAction::Delete);
        person.join();
        if (answer == IDNO) {
            EXPECT_EQ(result, ActionResult::Kept);
            EXPECT_EQ(outcome.text, L"");
            EXPECT_TRUE(Exists(folder));
            EXPECT_TRUE(prompts.asked.empty()) << "no question about the next boot";
        } else {
            EXPECT_EQ(result, ActionResult::Done) << "the shell was asked, and Yes deletes";
            EXPECT_FALSE(Exists(folder));
        }
    }
    EXPECT_EQ(prompts.told, std::vector<std::wstring>{L"Path was successfully deleted"});
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
