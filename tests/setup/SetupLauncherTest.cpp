// setup.exe, the 32-bit launcher, run as a real process against copies of a stand-in
// installer (installer_stub), which logs each start into runs.log of the folder it sits under.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ScopedHandle.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

constexpr DWORD kTimeoutMs = 30000;

std::wstring LauncherPath() { return X86BinPath(L"setup.exe"); }

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && _wcsicmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

// A folder laid out as the launcher expects: x64\setup.exe and/or x86\setup.exe.
class InstallerFolder {
public:
    InstallerFolder(bool with64, bool with32) : dir_(L"tarnwick-setup")
    {
        if (with64)
            Place(L"x64");
        if (with32)
            Place(L"x86");
    }
    const std::wstring& path() const { return dir_.path(); }
    std::wstring log() const { return dir_.Sub(L"runs.log"); }

private:
    void Place(const std::wstring& sub)
    {
        CreateFolders(dir_.Sub(sub));
        const std::wstring target = dir_.Sub(sub + L"\\setup.exe");
        if (!::CopyFileW(BinPath(L"installer_stub.exe").c_str(), target.c_str(), FALSE))
            throw std::runtime_error("cannot place the stand-in installer");
    }
    TempDir dir_;
};

// One start of the installer as installer_stub logged it.
struct InstallerRun {
    DWORD pid = 0;
    int argc = 0;
    DWORD startupFlags = 0;
    int show = -1;
    std::wstring exe;
    std::wstring commandLine;
    bool ended = false;
};

std::vector<InstallerRun> ReadRuns(const std::wstring& log)
{
    std::vector<InstallerRun> runs;
    std::ifstream in(WideToUtf8(log), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "start") {
            InstallerRun run;
            fields >> run.pid >> run.argc >> run.startupFlags >> run.show;
            std::string rest;
            std::getline(fields >> std::ws, rest);
            run.exe = Utf8ToWide(rest);
            runs.push_back(run);
        } else if (kind == "line" && !runs.empty()) {
            runs.back().commandLine = Utf8ToWide(line.substr(5));
        } else if (kind == "end") {
            DWORD pid = 0;
            fields >> pid;
            for (auto& run : runs)
                run.ended |= run.pid == pid;
        }
    }
    return runs;
}

bool IsRunning(DWORD pid)
{
    const UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

bool HasVisibleItem(HWND dialog, int id)
{
    const HWND item = ::GetDlgItem(dialog, id);
    return item && ::IsWindowVisible(item);
}

// The launcher's failure report: one plain OK box with no icon, the only window it shows,
// answered as a user would.
void ExpectOneFatalMessageThenExit(const StartedProcess& launcher)
{
    const HWND box = WaitForDialogOf(launcher.pid(), kTimeoutMs);
    ASSERT_NE(box, nullptr) << "no message box";
    ASSERT_EQ(WindowText(box), L"setup") << "another box came before the launcher's own";
    EXPECT_EQ(MessageBoxText(box), L"A fatal error occurred during installation");
    EXPECT_TRUE(HasVisibleItem(box, IDOK));
    for (int id : {IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO})
        EXPECT_FALSE(HasVisibleItem(box, id)) << "button " << id;
    const HWND icon = ::GetDlgItem(box, 0x0440);
    EXPECT_TRUE(!icon || !::SendMessageW(icon, STM_GETICON, 0, 0)) << "has an icon";
    int windows = 0;
    ForEachVisibleWindowOf(launcher.pid(), [&](HWND) {
        ++windows;
        return true;
    });
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(launcher.ExitCode(0), STILL_ACTIVE) << "ended while its message was up";

    PressDialogButton(box, IDOK);
    EXPECT_EQ(launcher.ExitCode(kTimeoutMs), 1u);
}

}  // namespace

TEST(SetupLauncher, StartsThe64BitInstallerHiddenWithoutArgumentsAndWaitsForIt)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
    ASSERT_TRUE(Exists(LauncherPath())) << WideToUtf8(LauncherPath());
    InstallerFolder folder(true, true);
    const StartedProcess launcher(LauncherPath(), L"/quiet --target-dir=C:\\elsewhere", {folder.path()});

    ASSERT_EQ(launcher.ExitCode(kTimeoutMs), 1u);
    const auto runs = ReadRuns(folder.log());
    ASSERT_EQ(runs.size(), 1u);
    const InstallerRun& run = runs[0];
    EXPECT_TRUE(EndsWithNoCase(run.exe, folder.path() + L"\\x64\\setup.exe")) << WideToUtf8(run.exe);
    EXPECT_TRUE(run.ended) << "the launcher ended before the installer";
    EXPECT_FALSE(IsRunning(run.pid));
    EXPECT_EQ(run.argc, 1) << WideToUtf8(run.commandLine);
    EXPECT_EQ(run.commandLine.find(L"quiet"), std::wstring::npos);
    EXPECT_EQ(run.commandLine.find(L"elsewhere"), std::wstring::npos);
    EXPECT_TRUE(run.startupFlags & STARTF_USESHOWWINDOW);
    EXPECT_EQ(run.show, SW_HIDE);
}

TEST(SetupLauncher, ReportsAMissing64BitInstallerWithoutFallingBackTo32Bit)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
    InstallerFolder folder(false, true);
    const StartedProcess launcher(LauncherPath(), L"", {folder.path()});
    ExpectOneFatalMessageThenExit(launcher);
    EXPECT_FALSE(Exists(folder.log())) << "the 32-bit installer ran";
}

// Neither this folder nor the launcher's own one has the installer subfolders.
TEST(SetupLauncher, ReportsFailureWhenStartedOutsideTheInstallerFolder)
{
    SKIP_UNLESS_32BIT_PROGRAMS_RUN();
    TempDir elsewhere(L"tarnwick-setup-cwd");
    const StartedProcess launcher(LauncherPath(), L"", {elsewhere.path()});
    ExpectOneFatalMessageThenExit(launcher);
}

TEST(SetupLauncherBinary, IsA32BitWindowsProgramAskingForNoElevation)
{
    std::ifstream in(WideToUtf8(LauncherPath()), std::ios::binary);
    ASSERT_TRUE(in) << WideToUtf8(LauncherPath());
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(image.size(), 0x200u);
    auto u16 = [&](std::size_t at) {
        return unsigned(std::uint8_t(image[at])) | unsigned(std::uint8_t(image[at + 1])) << 8;
    };
    const std::size_t pe = u16(0x3c) | std::size_t(u16(0x3e)) << 16;
    ASSERT_LT(pe + 24 + 70, image.size());
    ASSERT_EQ(image.compare(pe, 4, std::string("PE\0\0", 4)), 0);
    EXPECT_EQ(u16(pe + 4), 0x14cu) << "machine";
    EXPECT_EQ(u16(pe + 24), 0x10bu) << "optional header magic";
    EXPECT_EQ(u16(pe + 24 + 68), unsigned(IMAGE_SUBSYSTEM_WINDOWS_GUI)) << "subsystem";

    const HMODULE module =
        ::LoadLibraryExW(LauncherPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no manifest";
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
    const std::string manifest(data, ::SizeofResource(module, found));
    ::FreeLibrary(module);

    const std::size_t level = manifest.find("<requestedExecutionLevel");
    ASSERT_NE(level, std::string::npos);
    const std::string element = manifest.substr(level, manifest.find('>', level) - level);
    EXPECT_NE(element.find("level=\"asInvoker\""), std::string::npos) << element;
    EXPECT_NE(element.find("uiAccess=\"false\""), std::string::npos) << element;
    const std::size_t dpi = manifest.find("<dpiAware");
    ASSERT_NE(dpi, std::string::npos);
    const std::size_t open = manifest.find('>', dpi) + 1;
    EXPECT_EQ(manifest.substr(open, manifest.find("</dpiAware>", open) - open), "true");
}
