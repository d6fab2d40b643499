// The installation medium as scripts/package lays it out, installed, used and removed in a
// Wine prefix of these tests' own: the 64-bit installer silently, with /D=, over an earlier
// installation and over a loaded extension; its uninstaller; the 32-bit installer's refusal.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
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

constexpr DWORD kTimeoutMs = 60000;
constexpr DWORD kRestartNeeded = 3010;
constexpr int kPathField = 1000;
constexpr int kLockList = 1003;

const std::wstring kVersion = Utf8ToWide(TARNWICK_VERSION);
const std::wstring kInstallKey = L"Software\\Quillmere\\Tarnwick";
const std::wstring kUninstallKeys = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kUninstallKey = kUninstallKeys + L"\\Tarnwick";
const std::wstring kApproved = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::wstring kClsid = GuidText(CLSID_ShellExt);
const std::wstring kServerKey = L"CLSID\\" + kClsid + L"\\InprocServer32";
const std::vector<std::wstring> kHandlerKeys = {L"Folder\\ShellEx\\ContextMenuHandlers\\Tarnwick",
                                                L"*\\ShellEx\\ContextMenuHandlers\\Tarnwick"};
const std::vector<std::wstring> kInstalledFiles = {L"Tarnwick.exe", L"TarnwickShellExt.dll", L"tarnwick-cli.exe",
                                                   L"uninstall.exe"};

std::wstring Medium(const std::wstring& name) { return HostPath(TARNWICK_BUILD_ROOT) + L"\\medium\\" + name; }

std::wstring ShellFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::wstring DefaultFolder() { return ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Tarnwick"; }
std::wstring Shortcut() { return ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\Tarnwick.lnk"; }

bool SamePath(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

std::string FileBytes(const std::wstring& path)
{
    std::ifstream in(WideToUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<DWORD> ReadDword(HKEY root, const std::wstring& key, const std::wstring& name)
{
    DWORD data = 0, bytes = sizeof data;
    if (::RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &data, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

// Runs a program and waits until it and every process it started have ended (the uninstaller
// hands its work to a copy of itself and ends at once); the program's own exit code.
DWORD RunToCompletion(const std::wstring& program, const std::wstring& arguments)
{
    UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
    UniqueHandle port(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT link = {job.get(), port.get()};
    ::SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &link, sizeof link);

    // No console output: reg.exe reports every missing key.
    const StartedProcess started(program, arguments, {L"", true, true});
    if (!started.started())
        return DWORD(-1);
    ::AssignProcessToJobObject(job.get(), started.process());
    ::ResumeThread(started.thread());

    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* detail = nullptr;
    while (message != JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO &&
           ::GetQueuedCompletionStatus(port.get(), &message, &key, &detail, kTimeoutMs)) {
    }
    return started.ExitCode(0);
}

DWORD Install(const std::wstring& switches = L"")
{
    return RunToCompletion(Medium(L"x64\\setup.exe"), L"/S" + switches);
}

// Its own exit code says nothing: it hands the work to a copy of itself.
void Uninstall(const std::wstring& folder) { RunToCompletion(folder + L"\\uninstall.exe", L"/S"); }

std::wstring InstallLocation() { return ReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallLocation").value_or(L""); }

// A run cut short leaves its installation in this prefix; the next run starts without it.
void RemoveEarlierInstallation()
{
    const std::wstring location = InstallLocation();
    if (!location.empty())
        Uninstall(location.substr(0, location.size() - 1));
}

// What reg.exe exports of a key in one registry view ("/reg:64" or "/reg:32"); empty when
// the key is missing.
std::string Export(const std::wstring& key, const std::wstring& view)
{
    const TempDir dir(L"tarnwick-export");
    const std::wstring file = dir.Sub(L"key.reg");
    RunToCompletion(ShellFolder(CSIDL_SYSTEM) + L"\\reg.exe", L"export " + QuoteCommandLineArgument(key) + L" " +
                                                                  QuoteCommandLineArgument(file) + L" /y " + view);
    return FileBytes(file);
}

// The registry keys the installation writes, in both views, so that a write into the 32-bit
// view shows too.
std::map<std::wstring, std::string> OwnedKeys()
{
    std::vector<std::wstring> keys = {L"HKLM\\Software\\Quillmere", L"HKLM\\" + kUninstallKey, L"HKLM\\" + kApproved,
                                      L"HKCR\\CLSID\\" + kClsid};
    for (const auto& handler : kHandlerKeys)
        keys.push_back(L"HKCR\\" + handler);
    std::map<std::wstring, std::string> exports;
    for (const auto& key : keys) {
        for (const wchar_t* view : {L"/reg:64", L"/reg:32"})
            exports[key + L" " + view] = Export(key, view);
    }
    return exports;
}

// Uninstall entries named Tarnwick, in both views.
int UninstallEntries()
{
    int count = 0;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        UniqueRegKey entries;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeys.c_str(), 0, KEY_READ | view, entries.put()) !=
            ERROR_SUCCESS)
            continue;
        wchar_t name[256];
        for (DWORD i = 0, length = 256;
             ::RegEnumKeyExW(entries.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, length = 256) {
            wchar_t displayName[256] = {};
            DWORD bytes = sizeof displayName - sizeof(wchar_t);
            if (::RegGetValueW(entries.get(), name, L"DisplayName", RRF_RT_REG_SZ, nullptr, displayName, &bytes) ==
                    ERROR_SUCCESS &&
                std::wstring(displayName) == L"Tarnwick")
                ++count;
        }
    }
    return count;
}

std::wstring ShortcutTarget(const std::wstring& shortcut)
{
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    wchar_t target[MAX_PATH] = {};
    if (::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()) == S_OK &&
        link->QueryInterface(IID_IPersistFile, file.put_void()) == S_OK &&
        file->Load(shortcut.c_str(), STGM_READ) == S_OK)
        link->GetPath(target, MAX_PATH, nullptr, 0);
    return target;
}

std::wstring FileVersion(const std::wstring& path)
{
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(path.c_str(), nullptr));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (data.empty() || !::GetFileVersionInfoW(path.c_str(), 0, DWORD(data.size()), data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &size))
        return L"none";
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwFileVersionLS));
}

// SCS_64BIT_BINARY or SCS_32BIT_BINARY, as the program's header says; -1 when it has none.
DWORD BinaryType(const std::wstring& program)
{
    DWORD type = 0;
    return ::GetBinaryTypeW(program.c_str(), &type) ? type : DWORD(-1);
}

// Everything one installation in folder puts in place.
void ExpectInstalledIn(const std::wstring& folder)
{
    ULONGLONG bytes = 0;
    for (const auto& name : kInstalledFiles) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        EXPECT_TRUE(::GetFileAttributesExW((folder + L"\\" + name).c_str(), GetFileExInfoStandard, &data))
            << WideToUtf8(name);
        bytes += data.nFileSizeLow;
    }
    EXPECT_EQ(FileVersion(folder + L"\\Tarnwick.exe"), kVersion);
    EXPECT_EQ(BinaryType(folder + L"\\uninstall.exe"), DWORD(SCS_64BIT_BINARY));
    EXPECT_EQ(InstallLocation(), folder + L"\\");

    EXPECT_TRUE(SamePath(ReadString(HKEY_CLASSES_ROOT, kServerKey).value_or(L""), folder + L"\\TarnwickShellExt.dll"));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kServerKey, L"ThreadingModel").value_or(L"-"), L"Apartment");
    for (const auto& handler : kHandlerKeys)
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, handler).value_or(L"-"), kClsid) << WideToUtf8(handler);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kApproved, kClsid).value_or(L"-"), L"Tarnwick");

    const auto entry = [](const wchar_t* name) {
        return ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, name).value_or(L"-");
    };
    EXPECT_EQ(entry(L"DisplayName"), L"Tarnwick");
    EXPECT_EQ(entry(L"DisplayVersion"), kVersion);
    EXPECT_EQ(entry(L"Publisher"), L"Quillmere");
    EXPECT_EQ(entry(L"DisplayIcon"), folder + L"\\Tarnwick.exe");
    EXPECT_EQ(entry(L"InstallLocation"), folder + L"\\");
    EXPECT_EQ(entry(L"UninstallString"), L"\"" + folder + L"\\uninstall.exe\"");
    EXPECT_EQ(entry(L"QuietUninstallString"), L"\"" + folder + L"\\uninstall.exe\" /S");
    const DWORD kilobytes = ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize").value_or(0);
    EXPECT_NEAR(double(kilobytes), double(bytes / 1024), 4.0);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoModify").value_or(0), 1u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kUninstallKey, L"NoRepair").value_or(0), 1u);
    EXPECT_EQ(UninstallEntries(), 1);

    ComApartment apartment;
    EXPECT_TRUE(SamePath(ShortcutTarget(Shortcut()), folder + L"\\Tarnwick.exe")) << WideToUtf8(Shortcut());
}

void ExpectNothingInstalledIn(const std::wstring& folder)
{
    EXPECT_FALSE(Exists(folder)) << WideToUtf8(folder);
    EXPECT_FALSE(Exists(Shortcut()));
    EXPECT_EQ(InstallLocation(), L"");
    EXPECT_EQ(UninstallEntries(), 0);
}

}  // namespace

TEST(Medium, HoldsTheLauncherBothInstallersAndItsZip)
{
    for (const wchar_t* name : {L"setup.exe", L"x64\\setup.exe", L"x86\\setup.exe"})
        EXPECT_TRUE(Exists(Medium(name))) << WideToUtf8(name);
    EXPECT_EQ(FileVersion(Medium(L"x64\\setup.exe")), kVersion);
    EXPECT_EQ(FileVersion(Medium(L"x86\\setup.exe")), kVersion);
    // The 64-bit installer runs where no 32-bit program does; the other is for 32-bit Windows.
    EXPECT_EQ(BinaryType(Medium(L"x64\\setup.exe")), DWORD(SCS_64BIT_BINARY));
    EXPECT_EQ(BinaryType(Medium(L"x86\\setup.exe")), DWORD(SCS_32BIT_BINARY));

    // The zip's central directory: one record per entry, its name at offset 46.
    const std::string zip = FileBytes(HostPath(TARNWICK_BUILD_ROOT) + L"\\Tarnwick-" + kVersion + L".zip");
    const auto u16 = [&](std::size_t at) {
        return std::size_t(std::uint8_t(zip[at])) | std::uint8_t(zip[at + 1]) << 8;
    };
    std::vector<std::string> files;
    for (std::size_t at = zip.find("PK\x01\x02"); at != std::string::npos && at + 46 <= zip.size();
         at = zip.find("PK\x01\x02", at + 4)) {
        const std::string name = zip.substr(at + 46, u16(at + 28));
        if (name.back() != '/')
            files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"setup.exe", "x64/setup.exe", "x86/setup.exe"}));
}

// One installation in the default folder, shared by the tests of this suite in their order;
// the last one removes it.
class InstalledTarnwick : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RemoveEarlierInstallation();
        before_ = OwnedKeys();
        installed_ = Install();
    }

    static inline std::map<std::wstring, std::string> before_;
    static inline DWORD installed_ = 0;
};

TEST_F(InstalledTarnwick, SilentInstallPutsEverythingInPlace)
{
    ASSERT_EQ(installed_, 0u);
    ExpectInstalledIn(DefaultFolder());
}

namespace {

// The main window of any process that shows path.
HWND WaitForMainWindowOn(const std::wstring& path)
{
    return WaitForVisibleWindow(kTimeoutMs, [&](HWND window) {
        wchar_t shown[MAX_PATH] = {};
        return ::GetDlgItem(window, kLockList) && ::GetDlgItemTextW(window, kPathField, shown, MAX_PATH) &&
               shown == path;
    });
}

std::wstring ImageOf(HANDLE process)
{
    wchar_t image[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ::QueryFullProcessImageNameW(process, 0, image, &length);
    return image;
}

// Chooses "Tarnwick..." on path through the extension that COM finds registered, as Explorer
// does; then expects the installed program's window on path, and closes it.
void ExpectTheInstalledProgramOpensOn(const std::wstring& path, const std::wstring& folder)
{
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(::CoCreateInstance(CLSID_ShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void()),
              S_OK);
    EXPECT_NE(::GetModuleHandleW((folder + L"\\TarnwickShellExt.dll").c_str()), nullptr) << "not the installed one";
    Selection selection({path});
    ASSERT_EQ(init->Initialize(nullptr, selection.get(), nullptr), S_OK);
    ComPtr<IContextMenu> menu;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, menu.put_void()), S_OK);
    const HMENU popup = ::CreatePopupMenu();
    EXPECT_EQ(menu->QueryContextMenu(popup, 0, 1, 10, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
    ::DestroyMenu(popup);
    CMINVOKECOMMANDINFO invoke = {};
    invoke.cbSize = sizeof invoke;
    invoke.lpVerb = MAKEINTRESOURCEA(0);
    ASSERT_EQ(menu->InvokeCommand(&invoke), S_OK);

    const HWND window = WaitForMainWindowOn(path);
    ASSERT_NE(window, nullptr) << "no window on " << WideToUtf8(path);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    const UniqueHandle program(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    EXPECT_TRUE(SamePath(ImageOf(program.get()), folder + L"\\Tarnwick.exe")) << WideToUtf8(ImageOf(program.get()));
    PressDialogButton(window, IDCANCEL);
    EXPECT_EQ(::WaitForSingleObject(program.get(), kTimeoutMs), WAIT_OBJECT_0);
}

}  // namespace

TEST_F(InstalledTarnwick, ContextMenuStartsTheInstalledProgramOnAFolderAndOnAFile)
{
    ASSERT_EQ(installed_, 0u);
    const TempDir dir(L"tarnwick-installed");
    const std::wstring folder = dir.Sub(L"Locked Folder"), file = folder + L"\\held.txt";
    CreateFolders(folder);
    // A lock on each, so that the program comes up with its window rather than a message.
    FixtureProcess holder(BinPath(L"holder.exe"), {L"open", file});
    {
        ComApartment apartment;
        ExpectTheInstalledProgramOpensOn(folder, DefaultFolder());
        ExpectTheInstalledProgramOpensOn(file, DefaultFolder());
    }
    // The uninstaller and the upgrade below must find the library free.
    ::CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(::GetModuleHandleW((DefaultFolder() + L"\\TarnwickShellExt.dll").c_str()), nullptr);
}

TEST_F(InstalledTarnwick, UpgradeOverALoadedExtensionReplacesItAtTheNextBoot)
{
    ASSERT_EQ(installed_, 0u);
    const std::wstring library = DefaultFolder() + L"\\TarnwickShellExt.dll", update = library + L".update";
    DWORD upgraded = 0;
    std::vector<BootOperation> renames;
    {
        const SavedBootOperations saved;
        // Stands in for Explorer, which keeps the extension loaded after showing a menu.
        FixtureProcess explorer(BinPath(L"holder.exe"), {L"load", library});
        upgraded = Install();
        renames = PendingBootOperations();
    }
    // Windows does at the next boot what the installer asked for; so do we.
    ::MoveFileExW(update.c_str(), library.c_str(), MOVEFILE_REPLACE_EXISTING);

    EXPECT_EQ(upgraded, kRestartNeeded);
    const BootOperation request = {L"\\??\\" + update, L"!\\??\\" + library};
    EXPECT_NE(std::find(renames.begin(), renames.end(), request), renames.end());
    EXPECT_TRUE(SamePath(ReadString(HKEY_CLASSES_ROOT, kServerKey).value_or(L""), library));
    EXPECT_EQ(InstallLocation(), DefaultFolder() + L"\\");
    EXPECT_EQ(UninstallEntries(), 1);
}

TEST_F(InstalledTarnwick, SilentUninstallRemovesEverythingTheInstallAdded)
{
    ASSERT_EQ(installed_, 0u);
    Uninstall(DefaultFolder());

    ExpectNothingInstalledIn(DefaultFolder());
    const auto after = OwnedKeys();
    for (const auto& [key, exported] : before_) {
        const auto now = after.find(key);
        EXPECT_TRUE(now != after.end() && now->second == exported) << WideToUtf8(key);
    }
}

TEST(Installer, InstallsWhereDSaysAndUpgradesThereWithOneUninstallEntry)
{
    RemoveEarlierInstallation();
    const TempDir dir(L"tarnwick-elsewhere");
    const std::wstring folder = dir.Sub(L"Other Place");

    // /D= takes the rest of the line, blanks included, unquoted.
    ASSERT_EQ(Install(L" /D=" + folder), 0u);
    ExpectInstalledIn(folder);
    ASSERT_EQ(Install(), 0u);
    ExpectInstalledIn(folder);
    EXPECT_FALSE(Exists(DefaultFolder()));

    Uninstall(folder);
    ExpectNothingInstalledIn(folder);
}

TEST(Installer, UninstallLeavesALoadedExtensionToTheNextBoot)
{
    RemoveEarlierInstallation();
    const TempDir dir(L"tarnwick-held");
    const std::wstring folder = dir.Sub(L"Tarnwick"), library = folder + L"\\TarnwickShellExt.dll";
    ASSERT_EQ(Install(L" /D=" + folder), 0u);
    const SavedBootOperations saved;
    {
        FixtureProcess explorer(BinPath(L"holder.exe"), {L"load", library});
        Uninstall(folder);
    }
    for (const std::wstring& path : {library, folder + L"\\"})
        EXPECT_TRUE(IsScheduledForDeletion(path)) << WideToUtf8(path);
    EXPECT_EQ(InstallLocation(), L"");
    EXPECT_EQ(UninstallEntries(), 0);
    EXPECT_FALSE(Exists(Shortcut()));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid));
    EXPECT_FALSE(Exists(folder + L"\\Tarnwick.exe"));
}

TEST(Installer32, InstallsNothingAndSaysSoInOneMessage)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
    RemoveEarlierInstallation();
    EXPECT_NE(RunToCompletion(Medium(L"x86\\setup.exe"), L"/S"), 0u);
    ExpectNothingInstalledIn(DefaultFolder());

    PipedProcess installer = StartPiped(Medium(L"x86\\setup.exe"), {}, false, false);
    const HWND box = WaitForMessageBoxOf(installer.pid, kTimeoutMs);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Tarnwick needs a 64-bit edition of Windows.");
    PressDialogButton(box, IDOK);
    ASSERT_EQ(::WaitForSingleObject(installer.process.get(), kTimeoutMs), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(installer.process.get(), &code);
    EXPECT_NE(code, 0u);
    ExpectNothingInstalledIn(DefaultFolder());
}

// The launcher starts the installer with the show command "hidden"; a person who starts the
// medium's setup.exe must see the installer all the same.
TEST(Launcher, StartsThe64BitInstallerWhoseWindowShows)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
    RemoveEarlierInstallation();
    const StartedProcess launcher(Medium(L"setup.exe"), L"", {HostPath(TARNWICK_BUILD_ROOT + std::string("/medium"))});
    ASSERT_TRUE(launcher.started());

    const HWND installer = WaitForVisibleWindow(
        kTimeoutMs, [](HWND window) { return WindowText(window).rfind(L"Tarnwick Setup", 0) == 0; });
    ASSERT_NE(installer, nullptr) << "no installer window";
    EXPECT_EQ(launcher.ExitCode(0), STILL_ACTIVE) << "the launcher did not wait";
    PressDialogButton(installer, IDCANCEL);
    EXPECT_EQ(launcher.ExitCode(kTimeoutMs), 1u);
    ExpectNothingInstalledIn(DefaultFolder());
}
