// The handler in the test process, as Explorer drives it: a data object of ours carrying
// the selection, a menu to fill, help texts, and the start of the main program (a stand-in
// that records its arguments) from the install location in the registry.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Guids.h"
#include "ScopedHandle.h"
#include "Selection.h"
#include "ShellExtTestSupport.h"
#include "TestSupport.h"
#include "com/ComHandles.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const std::wstring kInstallKey = L"Software\\Quillmere\\Tarnwick";
const std::wstring kHelpText = L"Find & remove file or folder locks with Tarnwick";

std::string ReadAll(const std::wstring& path)
{
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        content.append(chunk, read);
    return content;
}

ComPtr<IContextMenu> NewHandler()
{
    ComPtr<IClassFactory> factory;
    ComPtr<IContextMenu> menu;
    if (ShellExtLibrary::Get().GetClassObject(CLSID_ShellExt, IID_IClassFactory, factory.put_void()) != S_OK ||
        factory->CreateInstance(nullptr, IID_IContextMenu, menu.put_void()) != S_OK)
        throw std::runtime_error("cannot create the handler");
    return menu;
}

HRESULT InitializeWith(IContextMenu* menu, IDataObject* data)
{
    ComPtr<IShellExtInit> init;
    if (menu->QueryInterface(IID_IShellExtInit, init.put_void()) != S_OK)
        return E_NOINTERFACE;
    return init->Initialize(nullptr, data, nullptr);
}

HRESULT Invoke(IContextMenu* menu, const char* verb)
{
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = verb;
    info.nShow = SW_SHOWNORMAL;
    return menu->InvokeCommand(&info);
}

std::wstring MenuText(HMENU menu, UINT position)
{
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

class ContextMenuTest : public ::testing::Test {
protected:
    ComApartment apartment_;
};

TEST_F(ContextMenuTest, InitializeTakesTheFirstOfSeveralPathsAndReleasesTheMedium)
{
    ComPtr<IContextMenu> menu = NewHandler();
    Selection selection({L"C:\\First folder", L"C:\\Second", L"D:\\Third"});
    EXPECT_EQ(InitializeWith(menu.get(), selection.get()), S_OK);
    EXPECT_EQ(MediumTracker::outstanding, 0);
}

TEST_F(ContextMenuTest, InitializeRefusesUnusableSelections)
{
    ComPtr<IContextMenu> menu = NewHandler();
    EXPECT_EQ(InitializeWith(menu.get(), nullptr), E_INVALIDARG);
    Selection noDrop({L"C:\\Data"}, false);
    EXPECT_EQ(InitializeWith(menu.get(), noDrop.get()), E_INVALIDARG);

    // Beyond 259 characters the path would reach the main program cut, naming another folder.
    const std::wstring tooLong = L"C:\\" + std::wstring(MAX_PATH - 3, L'a');
    for (const auto& paths : {std::vector<std::wstring>{}, std::vector<std::wstring>{tooLong, L"C:\\Data"},
                              std::vector<std::wstring>{L"C:\\Da\"ta"}}) {
        Selection selection(paths);
        EXPECT_EQ(InitializeWith(menu.get(), selection.get()), E_INVALIDARG);
        EXPECT_EQ(MediumTracker::outstanding, 0);
    }
}

TEST_F(ContextMenuTest, MenuGetsOneItemAtCommandOffsetZero)
{
    ComPtr<IContextMenu> menu = NewHandler();
    Selection selection({L"C:\\Data", L"C:\\More"});
    ASSERT_EQ(InitializeWith(menu.get(), selection.get()), S_OK);
    const HMENU popup = ::CreatePopupMenu();
    ::AppendMenuW(popup, MF_STRING, 1, L"Open");
    ::AppendMenuW(popup, MF_STRING, 2, L"Properties");

    EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_DEFAULTONLY), S_OK);
    EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_DEFAULTONLY | CMF_EXPLORE), S_OK);
    EXPECT_EQ(::GetMenuItemCount(popup), 2);

    EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_NORMAL | CMF_EXPLORE),
              MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    ASSERT_EQ(::GetMenuItemCount(popup), 3);
    EXPECT_EQ(MenuText(popup, 1), L"Tarnwick...");
    EXPECT_EQ(::GetMenuItemID(popup, 1), 100u);
    EXPECT_EQ(MenuText(popup, 2), L"Properties");
    MENUITEMINFOW item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_CHECKMARKS;
    ASSERT_TRUE(::GetMenuItemInfoW(popup, 1, TRUE, &item));
    EXPECT_NE(item.hbmpUnchecked, nullptr);
    ::DestroyMenu(popup);
}

TEST_F(ContextMenuTest, HelpTextComesWideAndNarrowCutToTheBuffer)
{
    ComPtr<IContextMenu> menu = NewHandler();
    wchar_t wide[64];
    ASSERT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 64), S_OK);
    EXPECT_EQ(std::wstring(wide), kHelpText);
    ASSERT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 10), S_OK);
    EXPECT_EQ(std::wstring(wide), L"Find & re");

    char narrow[64];
    ASSERT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 64), S_OK);
    EXPECT_EQ(std::string(narrow), WideToUtf8(kHelpText));
    std::fill(std::begin(narrow), std::end(narrow), 'x');
    ASSERT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 5), S_OK);
    EXPECT_EQ(std::string(narrow), "Find");
    EXPECT_EQ(narrow[5], 'x');

    // No verb to name, nothing to validate, and no second command.
    for (UINT request : {UINT(GCS_VERBA), UINT(GCS_VERBW), UINT(GCS_VALIDATEA), UINT(GCS_VALIDATEW)})
        EXPECT_EQ(menu->GetCommandString(0, request, nullptr, narrow, 64), E_INVALIDARG) << request;
    EXPECT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(wide), 64), E_INVALIDARG);
}

// One start of the stand-in main program, as it recorded it.
struct ProgramRun {
    std::wstring commandLine;
    std::vector<std::wstring> args;
};

// A folder holding the stand-in as Tarnwick.exe, named as the install location for the test.
class InvokeTest : public ContextMenuTest {
protected:
    void SetUp() override
    {
        saved_ = ReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallLocation");
        if (!::CopyFileW(BinPath(L"arg_recorder.exe").c_str(), folder_.Sub(L"Tarnwick.exe").c_str(), FALSE))
            throw std::runtime_error("cannot place the stand-in program");
        WriteString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallLocation", folder_.path() + L"\\");
    }
    void TearDown() override
    {
        if (saved_)
            WriteString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallLocation", *saved_);
        else
            DeleteValue(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallLocation");
    }

    std::vector<ProgramRun> Runs() const
    {
        std::istringstream file(ReadAll(folder_.Sub(L"runs.log")));
        std::vector<ProgramRun> runs;
        ProgramRun run;
        for (std::string line; std::getline(file, line);) {
            if (line.rfind("line ", 0) == 0)
                run.commandLine = Utf8ToWide(line.substr(5));
            else if (line.rfind("arg ", 0) == 0)
                run.args.push_back(Utf8ToWide(line.substr(4)));
            else if (line == "end")
                runs.push_back(std::exchange(run, {}));
        }
        return runs;
    }

    // The program is started without waiting for it; its record comes when it comes.
    std::vector<ProgramRun> WaitForRuns(std::size_t count) const
    {
        const ULONGLONG deadline = ::GetTickCount64() + 30000;
        while (Runs().size() < count && ::GetTickCount64() < deadline)
            ::Sleep(50);
        // Long enough for a start that should not have happened to show up as well.
        ::Sleep(1000);
        return Runs();
    }

    // Chooses the item for a selection starting with path; the argument the program got.
    std::wstring StartFor(const std::wstring& path)
    {
        ComPtr<IContextMenu> menu = NewHandler();
        Selection selection({path, L"C:\\Second"});
        EXPECT_EQ(InitializeWith(menu.get(), selection.get()), S_OK);
        EXPECT_EQ(Invoke(menu.get(), MAKEINTRESOURCEA(0)), S_OK);
        const auto runs = WaitForRuns(1);
        ::DeleteFileW(folder_.Sub(L"runs.log").c_str());
        if (runs.size() != 1) {
            ADD_FAILURE() << runs.size() << " runs for " << WideToUtf8(path);
            return {};
        }
        EXPECT_EQ(runs[0].args.size(), 2u) << WideToUtf8(runs[0].commandLine);
        return runs[0].args.size() > 1 ? runs[0].args[1] : std::wstring();
    }

    TempDir folder_{L"tarnwick-shellext"};

private:
    std::optional<std::wstring> saved_;
};

TEST_F(InvokeTest, PathsArriveAsTheProgramsFirstArgument)
{
    for (const std::wstring& path : std::vector<std::wstring>{
             L"C:\\Program Files\\Some Folder", L"C:\\", L"D:\\", L"C:\\" + std::wstring(256, L'b'),  // 259 characters
             L"C:\\" + std::wstring(254, L'c') + L"\\",       // 258, ending in a backslash
             L"C:\\" + std::wstring(253, L'd') + L"\\\\"}) {  // 258, ending in two
        SCOPED_TRACE(WideToUtf8(path));
        EXPECT_EQ(StartFor(path), path);
    }
}

TEST_F(InvokeTest, LongestPathLosesOnlyItsClosingQuote)
{
    ComPtr<IContextMenu> menu = NewHandler();
    const std::wstring path = L"C:\\" + std::wstring(256, L'e');
    Selection selection({path});
    ASSERT_EQ(InitializeWith(menu.get(), selection.get()), S_OK);
    ASSERT_EQ(Invoke(menu.get(), MAKEINTRESOURCEA(0)), S_OK);
    const auto runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    const std::wstring& line = runs[0].commandLine;
    ASSERT_GE(line.size(), path.size() + 1);
    EXPECT_EQ(line.substr(line.size() - path.size() - 1), L"\"" + path);
    ASSERT_EQ(runs[0].args.size(), 2u);
    EXPECT_EQ(runs[0].args[1], path);
}

TEST_F(InvokeTest, VerbsAndOtherOffsetsStartNothing)
{
    ComPtr<IContextMenu> menu = NewHandler();
    Selection selection({L"C:\\Refused"});
    ASSERT_EQ(InitializeWith(menu.get(), selection.get()), S_OK);
    EXPECT_EQ(Invoke(menu.get(), "open"), E_INVALIDARG);
    EXPECT_EQ(Invoke(menu.get(), ""), E_INVALIDARG);
    EXPECT_EQ(Invoke(menu.get(), MAKEINTRESOURCEA(1)), E_INVALIDARG);
    EXPECT_EQ(menu->InvokeCommand(nullptr), E_INVALIDARG);
    // A verb string whose address has bits 16 to 31 clear is still a verb string.
    auto* high = static_cast<char*>(
        ::VirtualAlloc(reinterpret_cast<void*>(0x7ff00000000ull), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_EQ(reinterpret_cast<ULONG_PTR>(high), 0x7ff00000000ull);
    std::strcpy(high, "open");
    EXPECT_EQ(Invoke(menu.get(), high), E_INVALIDARG);
    ::VirtualFree(high, 0, MEM_RELEASE);

    // A start that is ours, so that the wait below has something to see.
    EXPECT_EQ(StartFor(L"C:\\Marker"), L"C:\\Marker");
}

TEST_F(InvokeTest, MissingInstallLocationOffersTheItemButStartsNothing)
{
    DeleteValue(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallLocation");
    ComPtr<IContextMenu> menu = NewHandler();
    Selection selection({L"C:\\Data"});
    ASSERT_EQ(InitializeWith(menu.get(), selection.get()), S_OK);
    const HMENU popup = ::CreatePopupMenu();
    EXPECT_EQ(menu->QueryContextMenu(popup, 0, 1, 10, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    EXPECT_EQ(::GetMenuItemCount(popup), 1);
    ::DestroyMenu(popup);

    EXPECT_EQ(Invoke(menu.get(), MAKEINTRESOURCEA(0)), E_INVALIDARG);
    EXPECT_TRUE(WaitForRuns(0).empty());
}

}  // namespace
