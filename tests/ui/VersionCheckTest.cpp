#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <urlmon.h>
#include <wininet.h>

#include <atomic>
#include <thread>
#include <vector>

#include "LoopbackServer.h"
#include "TestSupport.h"
#include "com/ComHandles.h"
#include "VersionCheck.h"

using namespace tarnwick;
using namespace tarnwick::test;

namespace {

const std::wstring kQuestion = L"New version detected.\nWould you like to connect to the website?";
const std::wstring kNothingNew = L"No new version detected";
const std::wstring kCheckFailed = L"Unable to check for a new version.";
const std::wstring kNoVersion = kCheckFailed + L"\nThe version information names no version.";

// What a person saw and what the check opened.
struct Outcome {
    std::vector<std::wstring> messages;
    bool askedYesNo = false;
    std::vector<std::wstring> opened;
};

// Runs the check on this thread while a person answers from another: `answer` to a question,
// OK to a message. Pages are recorded instead of opened.
Outcome Check(const std::wstring& productPage, int answer = IDYES)
{
    Outcome outcome;
    std::atomic<bool> done{false};
    std::thread person([&] {
        while (!done) {
            const HWND box = WaitForMessageBoxOf(::GetCurrentProcessId(), 50);
            if (!box)
                continue;
            outcome.messages.push_back(MessageBoxText(box));
            const bool question = ::GetDlgItem(box, IDYES) && ::GetDlgItem(box, IDNO);
            outcome.askedYesNo = outcome.askedYesNo || question;
            PressDialogButton(box, question ? answer : IDOK);
            while (::IsWindow(box))
                ::Sleep(10);
        }
    });
    ShowVersionVerdict(nullptr, FetchVersionVerdict(productPage),
                       [&](const std::wstring& page) { outcome.opened.push_back(page); });
    done = true;
    person.join();
    return outcome;
}

struct ManifestCase {
    const char* what;
    std::string manifest;
    bool newer;
    std::wstring page;                // the page Yes opens; empty: the product page
    std::wstring said = kNothingNew;  // the message when there is nothing newer
};

class VersionCheckAgainstServer : public ::testing::Test {
protected:
    const ComApartment apartment_;  // the download wants one

    // A product page of its own for every case, so that no cached answer of an earlier case
    // or an earlier run stands in for the server's.
    std::wstring NewProductPage()
    {
        static int count = 0;
        lastPath_ = "/" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount64()) + "-" +
                    std::to_string(++count) + "/";
        return server.Root() + Utf8ToWide(lastPath_);
    }
    std::wstring PageServing(const std::string& manifest)
    {
        const std::wstring page = NewProductPage();
        server.Serve(lastPath_ + "version.xml", manifest);
        return page;
    }
    void Expect(const std::vector<ManifestCase>& cases)
    {
        for (const ManifestCase& c : cases) {
            SCOPED_TRACE(c.what);
            const std::wstring page = PageServing(c.manifest);
            const Outcome outcome = Check(page);
            EXPECT_EQ(server.Requests(lastPath_ + "version.xml"), 1);
            if (c.newer) {
                EXPECT_EQ(outcome.messages, std::vector<std::wstring>{kQuestion});
                EXPECT_TRUE(outcome.askedYesNo);
                EXPECT_EQ(outcome.opened, std::vector<std::wstring>{c.page.empty() ? page : c.page});
            } else {
                EXPECT_EQ(outcome.messages, std::vector<std::wstring>{c.said});
                EXPECT_TRUE(outcome.opened.empty());
            }
        }
    }

    LoopbackServer server;
    std::string lastPath_;
};

std::string Manifest(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<tarnwick>\r\n" + body + "</tarnwick>\r\n";
}

}  // namespace

TEST(OwnVersion, ComesFromTheProgramFilesVersionResource)
{
    const CFileVersion own = ReadOwnVersion();
    EXPECT_EQ(own.major, 1);
    EXPECT_EQ(own.minor, 3);
    EXPECT_EQ(own.third, 4);
    EXPECT_EQ(own.fourth, 0);
    EXPECT_EQ(VersionText(own), L"Tarnwick, Version 1.3.4.0");
}

TEST_F(VersionCheckAgainstServer, OnlyALaterVersionThanOwnCountsAsNew)
{
    Expect({
        {"the same version", Manifest("  <version>1.3.4.0</version>\r\n"), false, {}},
        {"fourth part", Manifest("  <version>1.3.4.1</version>\r\n"), true, {}},
        {"third part", Manifest("  <version>1.3.5.0</version>\r\n"), true, {}},
        {"minor part", Manifest("  <version>1.4.0.0</version>\r\n"), true, {}},
        {"major part", Manifest("  <version>2.0.0.0</version>\r\n"), true, {}},
        {"older by the last part", Manifest("  <version>1.3.3.9</version>\r\n"), false, {}},
        {"older by the minor part", Manifest("  <version>1.2.9.9</version>\r\n"), false, {}},
        {"Unix line ends, no closing line end", "<version>1.3.5.0</version>", true, {}},
    });
}

// A manifest without a version it can read tells nothing, and the check says it could not tell.
TEST_F(VersionCheckAgainstServer, LinesThatAreNoVersionAreIgnored)
{
    Expect({
        {"three numbers", Manifest("<version>1.3.5</version>\r\n"), false, {}, kNoVersion},
        {"capital tags", Manifest("<VERSION>2.0.0.0</VERSION>\r\n"), false, {}, kNoVersion},
        {"not at the start of its line", Manifest("<v><version>2.0.0.0</version></v>\r\n"), false, {}, kNoVersion},
        {"no version line at all", Manifest("<release>2.0.0.0</release>\r\n"), false, {}, kNoVersion},
        {"an unreadable version beside an older one",
         Manifest("<version>9.9</version>\r\n<version>1.3.3.0</version>\r\n"),
         false,
         {}},
        {"several lines, one newer",
         Manifest("<version>1.0.0.0</version>\r\n<version>1.3.4.1</version>\r\n<version>1.2.0.0</version>\r\n"),
         true,
         {}},
    });
}

TEST_F(VersionCheckAgainstServer, AnAddressLineNamesThePageWhenItIsAWebAddress)
{
    const std::wstring download = L"https://downloads.quillmere.example/tarnwick/1.3.5/";
    Expect({
        {"web address", Manifest("<version>1.3.5.0</version>\r\n<url> " + WideToUtf8(download) + " </url>\r\n"), true,
         download},
        {"address before the version",
         Manifest("<url>http://mirror.quillmere.example/</url>\r\n<version>1.3.5.0</version>\r\n"), true,
         L"http://mirror.quillmere.example/"},
        {"the later address wins",
         Manifest("<url>https://a.quillmere.example/</url>\r\n<url>https://b.quillmere.example/</url>\r\n"
                  "<version>1.3.5.0</version>\r\n"),
         true, L"https://b.quillmere.example/"},
        {"empty address", Manifest("<version>1.3.5.0</version>\r\n<url>  </url>\r\n"), true, {}},
        // The program runs elevated: a manifest must not make it start a program or script.
        {"local program",
         Manifest("<version>1.3.5.0</version>\r\n<url>C:\\Windows\\System32\\calc.exe</url>\r\n"),
         true,
         {}},
        {"script by file address",
         Manifest("<version>1.3.5.0</version>\r\n<url>file:///C:/evil.bat</url>\r\n"),
         true,
         {}},
        {"a bad address keeps an earlier good one",
         Manifest("<url>https://a.quillmere.example/</url>\r\n<url>cmd.exe</url>\r\n<version>1.3.5.0</version>\r\n"),
         true, L"https://a.quillmere.example/"},
        {"capital tags stay in the address",
         Manifest("<version>1.3.5.0</version>\r\n<URL>https://x.example/</URL>\r\n"),
         true,
         {}},
        {"version and address on one line: only the version",
         Manifest("<version>1.3.5.0</version><url>https://other.quillmere.example/</url>\r\n"),
         true,
         {}},
    });
}

TEST_F(VersionCheckAgainstServer, NoIsAnsweredByOpeningNothing)
{
    const Outcome outcome = Check(PageServing(Manifest("<version>2.0.0.0</version>\r\n")), IDNO);
    EXPECT_EQ(outcome.messages, std::vector<std::wstring>{kQuestion});
    EXPECT_TRUE(outcome.opened.empty());
}

// The message names the failure and gives a reason on its own line.
void ExpectFailureWithReason(const Outcome& outcome)
{
    ASSERT_EQ(outcome.messages.size(), 1u);
    const std::wstring& said = outcome.messages[0];
    EXPECT_EQ(said.substr(0, kCheckFailed.size() + 1), kCheckFailed + L"\n") << WideToUtf8(said);
    EXPECT_GT(said.size(), kCheckFailed.size() + 1) << "a reason follows";
    EXPECT_TRUE(outcome.opened.empty());
}

TEST_F(VersionCheckAgainstServer, AMissingManifestOrAStoppedServerIsAFailureNotNothingNew)
{
    const std::wstring missing = NewProductPage();
    Outcome outcome = Check(missing);
    EXPECT_EQ(server.Requests(lastPath_ + "version.xml"), 1) << "the server answered 404";
    ExpectFailureWithReason(outcome);

    const std::wstring page = PageServing(Manifest("<version>2.0.0.0</version>\r\n"));
    server.Stop();
    ExpectFailureWithReason(Check(page));
}

TEST(VersionCheckMessages, AFailureGivesTheReasonWhereThereIsOne)
{
    EXPECT_EQ(CheckFailedMessage(L""), kCheckFailed);
    EXPECT_EQ(CheckFailedMessage(DownloadFailureReason(INET_E_CANNOT_CONNECT)),
              kCheckFailed + L"\nThe server could not be reached.");
    EXPECT_EQ(DownloadFailureReason(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x7777)), L"")
        << "no reason the system cannot word";

    const CManifestVerdict unopened =
        ReadManifestFile(L"C:\\no such folder\\version.xml", {1, 3, 4, 0}, L"https://p.example/");
    EXPECT_NE(unopened.openError, DWORD(ERROR_SUCCESS));
    EXPECT_EQ(NothingNewMessage(unopened), CheckFailedMessage(SystemMessage(unopened.openError)));
}

TEST_F(VersionCheckAgainstServer, TheDownloadedCopyIsDeleted)
{
    const std::wstring page = PageServing(Manifest("<version>1.3.4.0</version>\r\n"));
    Check(page);
    const std::wstring manifest = ManifestAddress(page);
    std::vector<BYTE> buffer(8192);
    DWORD size = DWORD(buffer.size());
    auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    if (::GetUrlCacheEntryInfoW(manifest.c_str(), entry, &size) && entry->lpszLocalFileName) {
        EXPECT_FALSE(Exists(entry->lpszLocalFileName)) << "the cached copy stays";
    }
}

TEST(ManifestReading, LinesSplitAcrossPiecesReadAsWhole)
{
    const std::string manifest = "<tarnwick>\r\n<url>https://a.quillmere.example/</url>\r\n<version>1.3.4.1</version>";
    CManifestReader reader({1, 3, 4, 0}, L"https://p.example/");
    for (char byte : manifest)
        reader.Feed(&byte, 1);
    const CManifestVerdict verdict = reader.Finish();
    EXPECT_TRUE(verdict.newer);
    EXPECT_EQ(verdict.page, L"https://a.quillmere.example/");
}

TEST(VersionNumbers, ReadLikeFourSignedDecimalsSeparatedByDots)
{
    int parts[4] = {};
    ASSERT_TRUE(ParseVersionNumbers(L" 1. 3.+4.-0 and more", parts));
    EXPECT_EQ(std::vector<int>(parts, parts + 4), (std::vector<int>{1, 3, 4, 0}));
    ASSERT_TRUE(ParseVersionNumbers(L"-2147483648.2147483647.0.7rc", parts));
    EXPECT_EQ(parts[0], INT_MIN);
    EXPECT_EQ(parts[1], INT_MAX);
    EXPECT_EQ(parts[3], 7);
    for (const wchar_t* bad : {L"", L"1.3.5", L"1 .3.4.0", L"1.3.4.", L"v1.3.4.0", L"1.3.4.- 1", L"2147483648.0.0.0",
                               L"1.3.99999999999999999999.0"}) {
        SCOPED_TRACE(WideToUtf8(bad));
        EXPECT_FALSE(ParseVersionNumbers(bad, parts));
    }
}

TEST(VersionNumbers, CompareSignedAnnouncedPartsWithUnsignedOwnParts)
{
    const CFileVersion own{1, 3, 4, 0};
    EXPECT_FALSE(IsNewerVersion({1, 3, 4, -1}, own));
    EXPECT_FALSE(IsNewerVersion({1, 3, 3, 70000}, own)) << "an earlier part decides";
    EXPECT_TRUE(IsNewerVersion({65536, 0, 0, 0}, CFileVersion{65535, 0, 0, 0}));
    EXPECT_FALSE(IsNewerVersion({-1, 0, 0, 0}, CFileVersion{65535, 0, 0, 0}));
    // An unreadable own version is 0.0.0.0.
    EXPECT_TRUE(IsNewerVersion({0, 0, 0, 1}, CFileVersion{}));
    EXPECT_FALSE(IsNewerVersion({0, 0, 0, 0}, CFileVersion{}));
    EXPECT_FALSE(IsNewerVersion({-1, 9, 9, 9}, CFileVersion{}));
}

TEST(WebAddresses, OnlyHttpAndHttpsAreOpened)
{
    for (const wchar_t* good :
         {L"https://www.quillmere.example/", L"HTTP://QUILLMERE.EXAMPLE", L"http://127.0.0.1:8080/x"})
        EXPECT_TRUE(IsWebAddress(good)) << WideToUtf8(good);
    for (const wchar_t* bad : {L"", L"http://", L"https:/x", L"file:///C:/evil.bat", L"C:\\Windows\\notepad.exe",
                               L"\\\\server\\share\\run.cmd", L"javascript:alert(1)", L"ftp://quillmere.example/",
                               L"www.quillmere.example", L"mailto:a@quillmere.example"})
        EXPECT_FALSE(IsWebAddress(bad)) << WideToUtf8(bad);
}
