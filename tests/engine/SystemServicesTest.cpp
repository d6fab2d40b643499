#include <gtest/gtest.h>

#include <set>
#include <string>

#include "HandleTable.h"
#include "ScopedHandle.h"
#include "SystemServices.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

// A pretend platform: the version it reports and the one look-up it refuses.
struct FakePlatform {
    DWORD major = 6, minor = 1, platformId = 2;
    std::wstring missingModule;
    std::string missingProc;
    std::set<std::wstring> modulesAsked;
    ULONG probedType = 0;
};
FakePlatform g_fake;

BOOL WINAPI FakeVersion(OSVERSIONINFOW* info)
{
    EXPECT_EQ(info->dwOSVersionInfoSize, 276u);
    info->dwMajorVersion = g_fake.major;
    info->dwMinorVersion = g_fake.minor;
    info->dwPlatformId = g_fake.platformId;
    return TRUE;
}

HMODULE WINAPI FakeModule(LPCWSTR name)
{
    g_fake.modulesAsked.insert(name);
    return g_fake.missingModule == name ? nullptr : ::GetModuleHandleW(name);
}

FARPROC WINAPI FakeProc(HMODULE module, LPCSTR name)
{
    return g_fake.missingProc == name ? nullptr : ::GetProcAddress(module, name);
}

ULONG FakeProbe(NtQuerySystemInformationFn) { return g_fake.probedType; }

CPlatformLoader FakeLoader()
{
    CPlatformLoader loader;
    loader.getVersion = FakeVersion;
    loader.getModule = FakeModule;
    loader.getProc = FakeProc;
    loader.probeFileTypeNumber = FakeProbe;
    return loader;
}

struct FatalCase {
    DWORD major;
    DWORD platformId;
    const wchar_t* missingModule;
    const char* missingProc;
    const wchar_t* message;
};

class BindingFailure : public ::testing::TestWithParam<FatalCase> {};

}  // namespace

TEST_P(BindingFailure, ReportsItsFatalMessage)
{
    const FatalCase& c = GetParam();
    g_fake = {};
    g_fake.major = c.major;
    g_fake.platformId = c.platformId;
    g_fake.missingModule = c.missingModule;
    g_fake.missingProc = c.missingProc;
    CSystemServices services;
    EXPECT_EQ(BindSystemServices(services, FakeLoader()), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, BindingFailure,
    ::testing::Values(FatalCase{6, 1, L"", "", L"Fatal error - unsupported platform detected"},
                      FatalCase{6, 2, L"ntdll.dll", "", L"Fatal error - unable to load functions from ntdll.dll"},
                      FatalCase{6, 2, L"", "NtQuerySystemInformation",
                                L"Fatal error - unable to load NtQuerySystemInformation from ntdll.dll"},
                      FatalCase{5, 2, L"", "NtQueryObject",
                                L"Fatal error - unable to load NtQueryObject from ntdll.dll"},
                      FatalCase{6, 2, L"kernel32.dll", "", L"Fatal error - unable to load functions from kernel32.dll"},
                      FatalCase{10, 2, L"", "GetFinalPathNameByHandleW",
                                L"Fatal error - unable to load GetFinalPathNameByHandleW from kernel32.dll"},
                      FatalCase{6, 2, L"", "GetFileInformationByHandleEx",
                                L"Fatal error - unable to load GetFileInformationByHandleEx from kernel32.dll"},
                      // Version 4 chooses no profile; a kernel32 without the entry point then ends the process.
                      FatalCase{4, 2, L"", "GetFinalPathNameByHandleW",
                                L"Fatal error - unable to load GetFinalPathNameByHandleW from kernel32.dll"}));

TEST(Binding, VersionDecidesNamingModeAndFallbackTypeNumber)
{
    struct Row {
        DWORD major, minor;
        ULONG typeNumber;
        bool objectNameMode;
    };
    for (const Row& row : {Row{5, 1, 28, true}, Row{5, 2, 28, true}, Row{6, 0, 25, false}, Row{6, 1, 28, false},
                           Row{6, 3, 28, false}, Row{10, 0, 28, false}}) {
        SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor));
        g_fake = {};
        g_fake.major = row.major;
        g_fake.minor = row.minor;
        CSystemServices services;
        ASSERT_EQ(BindSystemServices(services, FakeLoader()), L"");
        EXPECT_EQ(services.fileTypeNumber, row.typeNumber);
        EXPECT_EQ(services.objectNameMode, row.objectNameMode);
        EXPECT_NE(services.NtQuerySystemInformation, nullptr);
        EXPECT_NE(services.NtQueryObject, nullptr) << "object names stand in where a final path is refused";
        EXPECT_EQ(services.GetFinalPathNameByHandleW != nullptr, !row.objectNameMode);
        EXPECT_EQ(services.GetFileInformationByHandleEx != nullptr, !row.objectNameMode);
        // Object-name mode never consults kernel32.
        EXPECT_EQ(g_fake.modulesAsked.count(L"kernel32.dll") == 0, row.objectNameMode);
    }
}

TEST(Binding, NumberSeenInTheHandleTableOverridesTheVersionTable)
{
    g_fake = {};
    g_fake.probedType = 17;
    CSystemServices services;
    ASSERT_EQ(BindSystemServices(services, FakeLoader()), L"");
    EXPECT_EQ(services.fileTypeNumber, 17u);
}

TEST(Binding, RunTimeFileTypeNumberIsThatOfRealFileHandles)
{
    CSystemServices services;
    ASSERT_EQ(BindSystemServices(services), L"");

    TempDir dir(L"tarnwick-bind");
    const std::wstring path = dir.Sub(L"probe.txt");
    WriteFile(path);
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    UniqueHandle event = MakeAutoResetEvent();
    ASSERT_TRUE(file && event);

    int fileType = -1, eventType = -1;
    for (const CHandleEntry& entry : CHandleTableSnapshot::Take(services.NtQuerySystemInformation)) {
        if (entry.pid != ::GetCurrentProcessId())
            continue;
        if (entry.handleValue == reinterpret_cast<ULONG_PTR>(file.get()))
            fileType = entry.objectType;
        if (entry.handleValue == reinterpret_cast<ULONG_PTR>(event.get()))
            eventType = entry.objectType;
    }
    ASSERT_NE(fileType, -1) << "the test's own file handle is not in the table";
    EXPECT_EQ(ULONG(fileType), services.fileTypeNumber);
    EXPECT_NE(ULONG(eventType), services.fileTypeNumber);
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        EXPECT_EQ(services.fileTypeNumber, 17u) << "Wine 8 numbers file objects 17";
    }
}

TEST(Binding, FatalFailureShowsItsMessageThenEndsWithStatusOne)
{
    for (const auto& [step, message] :
         {std::pair{L"platform", L"Fatal error - unsupported platform detected"},
          std::pair{L"ntdll", L"Fatal error - unable to load functions from ntdll.dll"}}) {
        SCOPED_TRACE(WideToUtf8(step));
        const StartedProcess program(BinPath(L"fatalbind.exe"), step);
        const HWND box = WaitForDialogOf(program.pid());
        ASSERT_NE(box, nullptr) << "no message box appeared";
        EXPECT_EQ(WindowText(box), L"Tarnwick");
        EXPECT_EQ(MessageBoxText(box), message);
        EXPECT_EQ(program.ExitCode(300), STILL_ACTIVE) << "ended before the box was answered";
        PressDialogButton(box, IDOK);
        EXPECT_EQ(program.ExitCode(), 1u);
    }
}

TEST(Binding, EnablesTheDebugPrivilegeThatOpensServicesForDuplication)
{
    CSystemServices services;
    ASSERT_EQ(BindSystemServices(services), L"");
    UniqueHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
    LUID debug = {};
    ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug));
    PRIVILEGE_SET wanted = {1, PRIVILEGE_SET_ALL_NECESSARY, {{debug, SE_PRIVILEGE_ENABLED}}};
    BOOL held = FALSE;
    ASSERT_TRUE(::PrivilegeCheck(token.get(), &wanted, &held));
    EXPECT_TRUE(held);
}
