// Registration of the extension into the test prefix's registry: through Wine's regsvr32,
// as an installer does it, and through DllInstall for one user.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "Guids.h"
#include "ScopedHandle.h"
#include "ShellExtTestSupport.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const std::wstring kClsid = GuidText(CLSID_ShellExt);
// The handler is offered for folders and for files.
const std::wstring kHandlers = L"Folder\\ShellEx\\ContextMenuHandlers";
const std::wstring kFileHandlers = L"*\\ShellEx\\ContextMenuHandlers";
const std::vector<std::wstring> kHandlerKeys = {kHandlers + L"\\Tarnwick", kFileHandlers + L"\\Tarnwick"};
const std::wstring kHandler = kHandlerKeys[0];
const std::wstring kClassKey = L"CLSID\\" + kClsid;
const std::wstring kServerKey = kClassKey + L"\\InprocServer32";
const std::wstring kApproved = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
// Under HKLM: the classes of the whole machine; under HKCU: those of one user.
const std::wstring kClasses = L"Software\\Classes\\";
// Entries of some other extension, which ours must leave alone.
const std::wstring kOtherHandler = kHandlers + L"\\OtherVendorHandler";
const std::wstring kOtherClsid = L"{5D0F7C51-2B7C-4E0B-9C43-0E8E4B6A9F10}";

DWORD RunRegsvr32(const std::wstring& switches)
{
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring program = std::wstring(system) + L"\\regsvr32.exe";
    return StartedProcess(program, switches + L" " + QuoteCommandLineArgument(ShellExtLibrary::Get().path()))
        .ExitCode(60000);
}

bool IsOurs(const std::wstring& path) { return _wcsicmp(path.c_str(), ShellExtLibrary::Get().path().c_str()) == 0; }

// Each test starts and ends with nothing of ours registered, machine-wide or per user.
class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveEverything(); }
    void TearDown() override
    {
        RemoveEverything();
        DeleteKeyTree(HKEY_CLASSES_ROOT, kOtherHandler);
        DeleteValue(HKEY_LOCAL_MACHINE, kApproved, kOtherClsid);
    }

    static void RemoveEverything()
    {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            for (const auto& handler : kHandlerKeys)
                DeleteKeyTree(root, kClasses + handler);
            DeleteKeyTree(root, kClasses + kClassKey);
        }
        DeleteValue(HKEY_LOCAL_MACHINE, kApproved, kClsid);
    }

    static void ExpectRegisteredUnder(HKEY root, const std::wstring& classes)
    {
        for (const auto& handler : kHandlerKeys)
            EXPECT_EQ(ReadString(root, classes + handler).value_or(L"-"), kClsid) << WideToUtf8(handler);
        EXPECT_EQ(ReadString(root, classes + kClassKey).value_or(L"-"), L"ShellExt Class");
        EXPECT_TRUE(IsOurs(ReadString(root, classes + kServerKey).value_or(L"-")));
        EXPECT_EQ(ReadString(root, classes + kServerKey, L"ThreadingModel").value_or(L"-"), L"Apartment");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kApproved, kClsid).value_or(L"-"), L"Tarnwick");
    }

    static void ExpectNothingUnder(HKEY root, const std::wstring& classes)
    {
        for (const auto& handler : kHandlerKeys)
            EXPECT_FALSE(KeyExists(root, classes + handler)) << WideToUtf8(handler);
        EXPECT_FALSE(KeyExists(root, classes + kClassKey));
    }
};

TEST_F(RegistrationTest, RegsvrWritesHandlerApprovalAndClassKeys)
{
    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);

    ExpectRegisteredUnder(HKEY_CLASSES_ROOT, L"");
    ExpectNothingUnder(HKEY_CURRENT_USER, kClasses);
}

TEST_F(RegistrationTest, RegisteringAgainReplacesOurKeysWhole)
{
    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
    // What others may have added beneath the keys we own.
    WriteString(HKEY_CLASSES_ROOT, kHandler + L"\\Added", L"", L"x");
    WriteString(HKEY_CLASSES_ROOT, kClassKey, L"Extra", L"x");
    WriteString(HKEY_CLASSES_ROOT, kClassKey + L"\\Added\\Deeper", L"", L"x");
    WriteString(HKEY_CLASSES_ROOT, kServerKey, L"Extra", L"x");

    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);

    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandler + L"\\Added"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\Added"));
    EXPECT_FALSE(ReadString(HKEY_CLASSES_ROOT, kClassKey, L"Extra"));
    EXPECT_FALSE(ReadString(HKEY_CLASSES_ROOT, kServerKey, L"Extra"));
    ExpectRegisteredUnder(HKEY_CLASSES_ROOT, L"");
}

TEST_F(RegistrationTest, UnregisteringRemovesOnlyOurs)
{
    WriteString(HKEY_CLASSES_ROOT, kOtherHandler, L"", kOtherClsid);
    WriteString(HKEY_LOCAL_MACHINE, kApproved, kOtherClsid, L"Other");
    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);

    ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);

    ExpectNothingUnder(HKEY_CLASSES_ROOT, L"");
    EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kApproved, kClsid));
    for (const wchar_t* shared : {L"Folder", L"Folder\\ShellEx", L"Folder\\ShellEx\\ContextMenuHandlers", L"*",
                                  L"*\\ShellEx", L"*\\ShellEx\\ContextMenuHandlers", L"CLSID"})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, shared)) << WideToUtf8(shared);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kApproved));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kOtherHandler).value_or(L"-"), kOtherClsid);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kApproved, kOtherClsid).value_or(L"-"), L"Other");

    // Nothing left to remove is no failure.
    EXPECT_EQ(RunRegsvr32(L"/u /s"), 0u);
}

TEST_F(RegistrationTest, InstallForUserWritesUnderCurrentUserClasses)
{
    auto& library = ShellExtLibrary::Get();
    ASSERT_EQ(library.Install(TRUE, L"user"), S_OK);
    ExpectRegisteredUnder(HKEY_CURRENT_USER, kClasses);
    ExpectNothingUnder(HKEY_LOCAL_MACHINE, kClasses);

    ASSERT_EQ(library.Install(FALSE, L"user"), S_OK);
    ExpectNothingUnder(HKEY_CURRENT_USER, kClasses);
    EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kApproved, kClsid));

    // The word is compared whatever its case.
    ASSERT_EQ(library.Install(TRUE, L"USER"), S_OK);
    ExpectRegisteredUnder(HKEY_CURRENT_USER, kClasses);
    ExpectNothingUnder(HKEY_LOCAL_MACHINE, kClasses);
}

// The current user's registry, replaced for this process by a scratch key, so that the
// user's classes start out missing whatever the prefix holds.
class ScratchUser {
public:
    ScratchUser()
    {
        DeleteKeyTree(HKEY_CURRENT_USER, kScratchUser);
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kScratchUser.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key_.put(), nullptr) != ERROR_SUCCESS ||
            ::RegOverridePredefKey(HKEY_CURRENT_USER, key_.get()) != ERROR_SUCCESS)
            throw std::runtime_error("cannot stand in for the current user");
    }
    ~ScratchUser()
    {
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        key_.reset();
        DeleteKeyTree(HKEY_CURRENT_USER, kScratchUser);
    }
    ScratchUser(const ScratchUser&) = delete;
    ScratchUser& operator=(const ScratchUser&) = delete;

private:
    static inline const std::wstring kScratchUser = L"Software\\TarnwickScratchUser";
    UniqueRegKey key_;
};

TEST_F(RegistrationTest, RemovingForUserCreatesNoClassesKey)
{
    ScratchUser user;
    EXPECT_EQ(ShellExtLibrary::Get().Install(FALSE, L"user"), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software"));
}

TEST_F(RegistrationTest, RemovingForUserTakesAwayTheKeysItLeftEmpty)
{
    ScratchUser user;
    WriteString(HKEY_CURRENT_USER, kClasses + kOtherHandler, L"", kOtherClsid);
    auto& library = ShellExtLibrary::Get();
    ASSERT_EQ(library.Install(TRUE, L"user"), S_OK);
    ExpectRegisteredUnder(HKEY_CURRENT_USER, kClasses);

    ASSERT_EQ(library.Install(FALSE, L"user"), S_OK);
    ExpectNothingUnder(HKEY_CURRENT_USER, kClasses);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kClasses + kOtherHandler).value_or(L"-"), kOtherClsid);
    for (const wchar_t* emptied : {L"*", L"CLSID"})
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kClasses + emptied)) << WideToUtf8(emptied);
    // The user's classes key itself is the system's.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes"));
}

TEST_F(RegistrationTest, InstallWithOtherCommandsRegistersMachineWide)
{
    auto& library = ShellExtLibrary::Get();
    // Also after a per-user run in the same process.
    ASSERT_EQ(library.Install(TRUE, L"user"), S_OK);
    ASSERT_EQ(library.Install(FALSE, L"user"), S_OK);

    for (const wchar_t* command : {L"users", L"use", static_cast<const wchar_t*>(nullptr)}) {
        SCOPED_TRACE(command ? WideToUtf8(command) : "null");
        ASSERT_EQ(library.Install(TRUE, command), S_OK);
        ExpectRegisteredUnder(HKEY_LOCAL_MACHINE, kClasses);
        ExpectNothingUnder(HKEY_CURRENT_USER, kClasses);
        ASSERT_EQ(library.Install(FALSE, command), S_OK);
        ExpectNothingUnder(HKEY_LOCAL_MACHINE, kClasses);
    }
}

TEST_F(RegistrationTest, FailedInstallIsUndone)
{
    // A volatile CLSID key for this user takes no lasting subkey, so the class's script
    // fails after the module's script has written the handler key and the approval.
    const std::wstring userClsid = kClasses + L"CLSID";
    {
        UniqueRegKey existing;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, userClsid.c_str(), 0, KEY_READ, existing.put()) == ERROR_SUCCESS) {
            DWORD subkeys = 0, values = 0;
            ::RegQueryInfoKeyW(existing.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr);
            ASSERT_TRUE(subkeys == 0 && values == 0) << "this user already has classes of their own";
            existing.reset();
            DeleteKeyTree(HKEY_CURRENT_USER, userClsid);
        }
    }
    UniqueRegKey volatileKey;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, userClsid.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_READ,
                                nullptr, volatileKey.put(), nullptr),
              ERROR_SUCCESS);
    volatileKey.reset();

    const HRESULT hr = ShellExtLibrary::Get().Install(TRUE, L"user");
    DeleteKeyTree(HKEY_CURRENT_USER, userClsid);

    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    ExpectNothingUnder(HKEY_CURRENT_USER, kClasses);
    EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kApproved, kClsid));
}

}  // namespace
