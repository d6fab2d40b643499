// The registry-script walker on a scratch key of the current user.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "com/RegistryScript.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const std::wstring kScratch = L"Software\\TarnwickScriptTest";

class RegistryScriptTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, kScratch); }
    void TearDown() override { DeleteKeyTree(HKEY_CURRENT_USER, kScratch); }
    const RegistryReplacements replacements_ = {{L"MODULE", L"C:\\Lib\\Some.dll"}, {L"APPID", L"{0-1}"}};
};

TEST_F(RegistryScriptTest, MalformedScriptChangesNothing)
{
    const std::string good = "owned | HKCU | Software\\TarnwickScriptTest\\Written | @ | x\n";
    for (const char* bad :
         {"kept | HKCU | Software\\TarnwickScriptTest\\B\n", "owned | HKXX | Software\\TarnwickScriptTest\\B\n",
          "shared | HKCU | Software\\TarnwickScriptTest\\B | @ | shared keys hold no value\n",
          "value | HKCU | Software\\TarnwickScriptTest\\B\n", "owned | HKCU | Software\\TarnwickScriptTest\\B | @\n",
          "owned | HKCU | Software\\TarnwickScriptTest\\B | @ | %UNKNOWN%\n",
          "owned | HKCU | Software\\TarnwickScriptTest\\B | @ | 50%\n", "owned | HKCU | \n",
          "owned | HKCU | \\Software\\TarnwickScriptTest\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ApplyRegistryScript(good + bad, replacements_, RegistryDirection::Register),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));
    }
}

TEST_F(RegistryScriptTest, EachKindIsWrittenAndRemovedInItsOwnWay)
{
    const std::string script =
        "# comment lines and blank lines are skipped\n"
        "\n"
        "shared   | HKCU | Software\\TarnwickScriptTest\r\n"
        "replaced | HKCU | Software\\TarnwickScriptTest\\Class | @ | %MODULE% at 100%%\n"
        "owned    | HKCU | Software\\TarnwickScriptTest\\Class\\Server | @ | %APPID%\n"
        "owned    | HKCU | Software\\TarnwickScriptTest\\Alone\n"
        "value    | HKCU | Software\\TarnwickScriptTest | Named | a | b\n";
    WriteString(HKEY_CURRENT_USER, kScratch + L"\\Class\\Foreign", L"", L"x");
    WriteString(HKEY_CURRENT_USER, kScratch, L"Other", L"kept");

    ASSERT_EQ(ApplyRegistryScript(script, replacements_, RegistryDirection::Register), S_OK);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kScratch + L"\\Class").value_or(L"-"), L"C:\\Lib\\Some.dll at 100%");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch + L"\\Class\\Foreign"));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kScratch + L"\\Class\\Server").value_or(L"-"), L"{0-1}");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kScratch + L"\\Alone"));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kScratch, L"Named").value_or(L"-"), L"a | b");

    ASSERT_EQ(ApplyRegistryScript(script, replacements_, RegistryDirection::Unregister), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kScratch));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch + L"\\Class"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch + L"\\Alone"));
    EXPECT_FALSE(ReadString(HKEY_CURRENT_USER, kScratch, L"Named"));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kScratch, L"Other").value_or(L"-"), L"kept");
    // Removing what is already gone is no failure.
    EXPECT_EQ(ApplyRegistryScript(script, replacements_, RegistryDirection::Unregister), S_OK);
}

}  // namespace
