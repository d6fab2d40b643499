#include <gtest/gtest.h>

#include "PathForms.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

CScanTarget FolderTarget(bool withShortForm)
{
    CScanTarget t;
    t.longForm = L"\\\\?\\C:\\Data";
    t.longPrefix = t.longForm + L"\\";
    t.shortForm = withShortForm ? L"\\\\?\\C:\\DATAFO~1" : L"";
    t.shortPrefix = t.shortForm + L"\\";
    t.hasShortForm = withShortForm;
    t.isFolder = true;
    return t;
}

}  // namespace

TEST(MatchRule, FolderMatchesItselfAndWhatLiesBeneath)
{
    const CScanTarget t = FolderTarget(false);
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\C:\\Data"));
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\c:\\data"));
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\C:\\Data\\a.txt"));
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\C:\\DATA\\Sub\\Deeper\\b.txt"));
    EXPECT_FALSE(MatchesTarget(t, L"\\\\?\\C:\\Data2"));
    EXPECT_FALSE(MatchesTarget(t, L"\\\\?\\C:\\Data2\\a.txt"));
    EXPECT_FALSE(MatchesTarget(t, L"\\\\?\\C:\\Dat"));
    EXPECT_FALSE(MatchesTarget(t, L"C:\\Data\\a.txt"));  // names in this mode carry the prefix
}

TEST(MatchRule, ShortFormCountsOnlyWhenItIsASecondSpelling)
{
    const CScanTarget withShort = FolderTarget(true);
    EXPECT_TRUE(MatchesTarget(withShort, L"\\\\?\\C:\\datafo~1"));
    EXPECT_TRUE(MatchesTarget(withShort, L"\\\\?\\C:\\DATAFO~1\\x.txt"));
    EXPECT_FALSE(MatchesTarget(withShort, L"\\\\?\\C:\\DATAFO~10\\x.txt"));

    CScanTarget ignored = withShort;
    ignored.hasShortForm = false;
    EXPECT_FALSE(MatchesTarget(ignored, L"\\\\?\\C:\\DATAFO~1\\x.txt"));
}

TEST(MatchRule, FileTargetMatchesOnlyItself)
{
    CScanTarget t = FolderTarget(true);
    t.isFolder = false;
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\C:\\DATA"));
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\C:\\DATAFO~1"));
    EXPECT_FALSE(MatchesTarget(t, L"\\\\?\\C:\\Data\\a.txt"));
    EXPECT_FALSE(MatchesTarget(t, L"\\\\?\\C:\\DATAFO~1\\a.txt"));
}

TEST(MatchRule, ShowAllMatchesEverythingEvenWithoutAPath)
{
    const CScanTarget t = BuildScanTarget(L"", false, true);
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\C:\\anything.txt"));
    EXPECT_TRUE(MatchesTarget(t, L""));
}

TEST(DeviceForm, FirstApplicableEntryInMapOrderWins)
{
    // Nested substitutions both apply to a name beneath the deeper one; the map's order decides.
    CDeviceMap map;
    map.Set(L"\\??\\C:\\a", L"X:");
    map.Set(L"\\??\\C:\\a\\b", L"Y:");
    std::wstring result;
    ASSERT_TRUE(DeviceFormToDriveForm(map, L"\\??\\C:\\a\\b\\f.txt", result));
    EXPECT_EQ(result, L"X:\\b\\f.txt");

    CDeviceMap reversed;
    reversed.Set(L"\\??\\C:\\a\\b", L"Y:");
    reversed.Set(L"\\??\\C:\\a", L"X:");
    ASSERT_TRUE(DeviceFormToDriveForm(reversed, L"\\??\\C:\\a\\b\\f.txt", result));
    EXPECT_EQ(result, L"Y:\\f.txt");
}

TEST(DeviceForm, DeviceNameAppliesOnlyAtAPathBoundary)
{
    CDeviceMap map;
    map.Set(L"\\Device\\HarddiskVolume1", L"C:");
    map.Set(L"\\Device\\HarddiskVolume10", L"D:");
    std::wstring result;
    ASSERT_TRUE(DeviceFormToDriveForm(map, L"\\Device\\HarddiskVolume10\\Data\\a.txt", result));
    EXPECT_EQ(result, L"D:\\Data\\a.txt");
    ASSERT_TRUE(DeviceFormToDriveForm(map, L"\\Device\\HarddiskVolume1\\Data", result));
    EXPECT_EQ(result, L"C:\\Data");
    ASSERT_TRUE(DeviceFormToDriveForm(map, L"\\Device\\HarddiskVolume1", result));
    EXPECT_EQ(result, L"C:");

    CDeviceMap root;  // a substitution of a drive root ends in a backslash itself
    root.Set(L"\\??\\C:\\", L"S:");
    ASSERT_TRUE(DeviceFormToDriveForm(root, L"\\??\\C:\\dir\\f", result));
    EXPECT_EQ(result, L"S:dir\\f");
}

TEST(DeviceForm, NoApplicableEntryLeavesResultUntouchedAndConversionWorksInPlace)
{
    CDeviceMap map;
    map.Set(L"\\Device\\HarddiskVolume2", L"C:");
    map.Set(L"\\Device\\HarddiskVolume2", L"E:");  // a later drive on the same device replaces
    ASSERT_EQ(map.entries().size(), 1u);

    std::wstring result = L"unchanged";
    EXPECT_FALSE(DeviceFormToDriveForm(map, L"\\Device\\NamedPipe\\pipe", result));
    EXPECT_FALSE(DeviceFormToDriveForm(map, L"\\device\\harddiskvolume2\\x", result));  // case-sensitive
    EXPECT_EQ(result, L"unchanged");

    std::wstring name = L"\\Device\\HarddiskVolume2\\Data\\a.txt";
    ASSERT_TRUE(DeviceFormToDriveForm(map, name, name));
    EXPECT_EQ(name, L"E:\\Data\\a.txt");
}

TEST(DeviceForm, BuildsFromTheDriveListAndSkipsDrivesWithoutDevice)
{
    wchar_t device[MAX_PATH] = {};
    ASSERT_NE(::QueryDosDeviceW(L"C:", device, MAX_PATH), 0u);
    // Q: is not mapped in the test prefix.
    const wchar_t drives[] = L"C:\\\0Q:\\\0";
    const CDeviceMap map = BuildDeviceMap(drives);
    ASSERT_EQ(map.entries().size(), 1u);
    EXPECT_EQ(map.entries()[0].first, device);
    EXPECT_EQ(map.entries()[0].second, L"C:");

    std::wstring converted;
    ASSERT_TRUE(DeviceFormToDriveForm(ReadCurrentDriveTable().devices, std::wstring(device) + L"\\x.txt", converted));
    EXPECT_EQ(converted, L"C:\\x.txt");
}

class PathFormsOnDisk : public ::testing::Test {
protected:
    TempDir dir{L"tarnwick-forms"};
};

TEST_F(PathFormsOnDisk, ShortAndLongFormsOfALongName)
{
    const std::wstring folder = dir.Sub(L"Long Folder Name");
    const std::wstring file = folder + L"\\some long file name.txt";
    CreateFolders(folder);
    WriteFile(file);

    const std::wstring shortForm = ShortForm(file, false);
    ASSERT_FALSE(shortForm.empty());
    EXPECT_EQ(shortForm.rfind(kLongPathPrefix, 0), 0u);
    EXPECT_NE(shortForm, WithLongPathPrefix(file));
    EXPECT_EQ(ShortForm(file, true), DropLongPathPrefix(shortForm));

    EXPECT_EQ(LongForm(file), WithLongPathPrefix(file));
    EXPECT_EQ(LongForm(WithLongPathPrefix(file)), WithLongPathPrefix(file));  // never prefixed twice
    if (IsWine()) {
        // Wine expands short names only without the prefix, and leaves them as they are with it.
        EXPECT_EQ(LongForm(shortForm), shortForm);
    } else {
        EXPECT_EQ(LongForm(shortForm), WithLongPathPrefix(file));
    }

    const CScanTarget target = BuildScanTarget(folder, false, false);
    EXPECT_TRUE(target.isFolder);
    EXPECT_TRUE(target.hasShortForm);
    EXPECT_EQ(target.longPrefix, WithLongPathPrefix(folder) + L"\\");
    EXPECT_TRUE(MatchesTarget(target, WithLongPathPrefix(file)));
    EXPECT_TRUE(MatchesTarget(target, shortForm));

    const CScanTarget objectMode = BuildScanTarget(file, true, false);
    EXPECT_FALSE(objectMode.isFolder);
    EXPECT_EQ(objectMode.longForm, file);
    EXPECT_EQ(objectMode.shortForm, DropLongPathPrefix(shortForm));
}

TEST_F(PathFormsOnDisk, PathThatDoesNotExist)
{
    const std::wstring missing = dir.Sub(L"no such folder\\no such file.txt");
    EXPECT_EQ(LongForm(missing), WithLongPathPrefix(missing));
    EXPECT_EQ(ShortForm(missing, false), L"");
    const CScanTarget target = BuildScanTarget(missing, false, false);
    EXPECT_FALSE(target.hasShortForm);
    EXPECT_FALSE(target.isFolder);
    EXPECT_EQ(target.shortPrefix, L"\\");
}

TEST_F(PathFormsOnDisk, PathsBeyond260Characters)
{
    // Components of at most eight characters have no separate short name, so the short
    // form is as long as the path: too long for its 260-character buffer.
    std::wstring deep = dir.path();
    while (deep.size() < 300) {
        deep += L"\\abcdefgh";
        ASSERT_TRUE(::CreateDirectoryW(WithLongPathPrefix(deep).c_str(), nullptr));
    }
    EXPECT_EQ(LongForm(deep), WithLongPathPrefix(deep));
    EXPECT_EQ(ShortForm(deep, true), L"");
    const CScanTarget target = BuildScanTarget(deep, false, false);
    EXPECT_TRUE(target.isFolder);
    EXPECT_TRUE(MatchesTarget(target, WithLongPathPrefix(deep) + L"\\x.txt"));
    RemoveTree(WithLongPathPrefix(dir.path()));
}

TEST(PathForms, SharesTakeTheLongPathPrefixOfShares)
{
    EXPECT_EQ(WithLongPathPrefix(L"\\\\server\\share\\d"), L"\\\\?\\UNC\\server\\share\\d");
    EXPECT_EQ(DropLongPathPrefix(L"\\\\?\\UNC\\server\\share\\d"), L"\\\\server\\share\\d");
    EXPECT_EQ(DropLongPathPrefix(WithLongPathPrefix(L"C:\\d")), L"C:\\d");
    EXPECT_EQ(LongForm(L"\\\\server\\share\\d"), L"\\\\?\\UNC\\server\\share\\d");
}

TEST(DeviceForm, NamesOfDrivesAndSharesThatNeedNoMap)
{
    const CDeviceMap none;
    for (const auto& [name, expected] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"\\??\\C:\\x\\a.txt", L"C:\\x\\a.txt"},
             {L"\\??\\UNC\\srv\\sh\\a.txt", L"\\\\srv\\sh\\a.txt"},
             {L"\\Device\\Mup\\srv\\sh\\d\\a.txt", L"\\\\srv\\sh\\d\\a.txt"},
             {L"\\Device\\LanmanRedirector\\;Z:00000000000a1b2c\\srv\\sh\\a.txt", L"\\\\srv\\sh\\a.txt"},
             {L"\\Device\\Mup\\;LanmanRedirector\\;Z:00000000000a1b2c\\srv\\sh\\a", L"\\\\srv\\sh\\a"}}) {
        std::wstring result;
        ASSERT_TRUE(DeviceFormToDriveForm(none, name, result)) << WideToUtf8(name);
        EXPECT_EQ(result, expected);
    }
    std::wstring result = L"unchanged";
    EXPECT_FALSE(DeviceFormToDriveForm(none, L"\\??\\Volume{1234}\\a", result));
    EXPECT_FALSE(DeviceFormToDriveForm(none, L"\\Device\\NamedPipe\\p", result));
    EXPECT_EQ(result, L"unchanged");
}

TEST(DriveAliases, SubstAndMappedLettersStandForTheirFolderOrShare)
{
    CDriveAliases drives;
    drives.Add(L'S', L"\\??\\C:\\Real\\Folder");
    drives.Add(L'r', L"\\??\\D:\\");
    drives.Add(L'Z', L"\\Device\\LanmanRedirector\\;Z:00000000000a1b2c\\server\\share");
    drives.Add(L'C', L"\\Device\\HarddiskVolume2");  // a volume of its own: no alias
    EXPECT_EQ(drives.Resolve(L"S:\\sub\\a.txt"), L"C:\\Real\\Folder\\sub\\a.txt");
    EXPECT_EQ(drives.Resolve(L"s:\\"), L"C:\\Real\\Folder");
    EXPECT_EQ(drives.Resolve(L"\\\\?\\S:\\sub"), L"\\\\?\\C:\\Real\\Folder\\sub");
    EXPECT_EQ(drives.Resolve(L"R:\\x"), L"D:\\x");
    EXPECT_EQ(drives.Resolve(L"R:\\"), L"D:\\");
    EXPECT_EQ(drives.Resolve(L"Z:\\dir\\a"), L"\\\\server\\share\\dir\\a");
    EXPECT_EQ(drives.Resolve(L"\\\\?\\Z:\\dir"), L"\\\\?\\UNC\\server\\share\\dir");
    EXPECT_EQ(drives.Resolve(L"C:\\x"), L"C:\\x");
    EXPECT_EQ(drives.Resolve(L"\\\\server\\share"), L"\\\\server\\share");
}

TEST(MatchRule, SharesAndMappedDrivesMatchTheNamesWindowsReportsForThem)
{
    CDriveAliases drives;
    drives.Add(L'Z', L"\\Device\\LanmanRedirector\\;Z:00000000000a1b2c\\server\\share");
    const CDeviceMap none;
    for (const std::wstring written : {L"\\\\server\\share\\dir", L"Z:\\dir"}) {
        SCOPED_TRACE(WideToUtf8(written));
        CScanTarget target = BuildScanTarget(drives.Resolve(written), false, false);
        EXPECT_EQ(target.longForm, L"\\\\?\\UNC\\server\\share\\dir");
        target.isFolder = true;  // there is no share here to ask
        // A handle's final path, a module's name (through the letter, too), a view's device name.
        EXPECT_TRUE(MatchesTarget(target, L"\\\\?\\UNC\\server\\share\\dir\\a.txt"));
        EXPECT_TRUE(MatchesTarget(target, LongForm(L"\\\\SERVER\\share\\dir\\m.dll")));
        EXPECT_TRUE(MatchesTarget(target, LongForm(ComparableName(drives, L"Z:\\dir\\m.dll"))));
        EXPECT_EQ(RowPathOf(drives, L"Z:\\dir\\m.dll"), L"\\\\server\\share\\dir\\m.dll");
        std::wstring view;
        ASSERT_TRUE(DeviceFormToDriveForm(none, L"\\Device\\Mup\\server\\share\\dir\\v.dat", view));
        EXPECT_TRUE(MatchesTarget(target, WithLongPathPrefix(view)));
        EXPECT_FALSE(MatchesTarget(target, L"\\\\?\\UNC\\server\\share\\dir2\\a.txt"));
        EXPECT_FALSE(MatchesTarget(target, L"\\\\?\\UNC\\server\\other\\dir\\a.txt"));
    }
}

TEST(MatchRule, DriveRootMatchesEverythingOnItsDriveOnly)
{
    const CScanTarget root = BuildScanTarget(L"C:\\", false, false);
    EXPECT_TRUE(root.isFolder);
    EXPECT_EQ(root.longPrefix, L"\\\\?\\C:\\");
    EXPECT_TRUE(MatchesTarget(root, L"\\\\?\\C:\\x\\y.txt"));
    EXPECT_TRUE(MatchesTarget(root, L"\\\\?\\c:\\z"));
    EXPECT_FALSE(MatchesTarget(root, L"\\\\?\\D:\\x"));
}

TEST(MatchRule, CaseIsIgnoredForEveryLetterTheFileSystemFolds)
{
    CScanTarget t = FolderTarget(false);
    t.longForm = L"\\\\?\\C:\\BDET\\CAF\u00C9 \u0414\u041E\u041C";
    t.longPrefix = t.longForm + L"\\";
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\C:\\bdet\\caf\u00E9 \u0434\u043E\u043C\\x.txt"));
    EXPECT_TRUE(MatchesTarget(t, L"\\\\?\\c:\\bdet\\caf\u00E9 \u0434\u043E\u043C"));
    EXPECT_FALSE(MatchesTarget(t, L"\\\\?\\C:\\bdet\\cafe \u0434\u043E\u043C\\x.txt"));
}
