#pragma once
// The program's own version, what an update manifest says about it, and the check for a
// newer version offered in the system menu.

#include <windows.h>

#include <functional>
#include <string>

#include "BackgroundTask.h"
#include "MakerSite.h"

namespace tarnwick {

// The four 16-bit parts of a file version, most significant first.
struct CFileVersion {
    WORD major = 0, minor = 0, third = 0, fourth = 0;
};

// The file version in the program file's version resource; 0.0.0.0 when it cannot be read.
CFileVersion ReadOwnVersion();
// "Tarnwick, Version 1.3.4.0"
std::wstring VersionText(const CFileVersion& version);

// The four numbers of "%d.%d.%d.%d" at the start of text (blanks before each number and a
// sign allowed, anything after the fourth ignored). False when fewer than four are there or
// one does not fit a 32-bit int.
bool ParseVersionNumbers(const std::wstring& text, int (&parts)[4]);
// Whether announced (compared as signed numbers) is later than own, part by part from the left.
bool IsNewerVersion(const int (&announced)[4], const CFileVersion& own);

// Only web addresses may come from a manifest: the program runs elevated, and the shell would
// start a program or script just as readily as it opens a page.
bool IsWebAddress(const std::wstring& address);

// What a manifest says: whether it could be read and held a version at all, whether it
// announces a newer version than own, and the page to open.
struct CManifestVerdict {
    DWORD openError = ERROR_SUCCESS;  // why the file could not be opened
    bool versionRead = false;
    bool newer = false;
    std::wstring page;
};

// Reads a manifest as 8-bit text, line by line, whatever size the pieces come in.
class CManifestReader {
public:
    CManifestReader(const CFileVersion& own, std::wstring productPage);
    void Feed(const char* bytes, std::size_t count);
    // Takes the last line when it has no line end; the verdict on the whole manifest.
    const CManifestVerdict& Finish();

private:
    void ReadLine(std::wstring line);

    CFileVersion own_;
    CManifestVerdict verdict_;
    std::string pending_;
};

// The verdict on a manifest file; a file that cannot be opened announces nothing.
CManifestVerdict ReadManifestFile(const std::wstring& path, const CFileVersion& own, const std::wstring& productPage);

// "Unable to check for a new version." and the reason on a line of its own, when there is one.
std::wstring CheckFailedMessage(const std::wstring& reason);
// Why a download of the manifest failed, in words; empty when the system has none for it.
std::wstring DownloadFailureReason(HRESULT result);
// What the check says when a manifest offers nothing newer: that it could not check, and why,
// unless a version was read.
std::wstring NothingNewMessage(const CManifestVerdict& verdict);

using PageOpener = std::function<void(const std::wstring& address)>;
// Hands the address to the user's browser.
// Opens pages with the user's browser, asking it to show itself so (SW_HIDE: the browser
// decides what it shows).
PageOpener PageOpenerShowing(int show);

// What the check found out: whether the manifest could be downloaded, and what it says.
struct CVersionCheckResult {
    HRESULT downloaded = E_FAIL;
    CManifestVerdict verdict;
};

// Downloads the manifest beside productPage and reads it: the half of the check that waits
// for the network, which therefore runs off the window's thread. Needs no window.
CVersionCheckResult FetchVersionVerdict(const std::wstring& productPage = ProductPage());
// The other half: offers to open the page of a newer version, says there is nothing new, or
// says that it could not tell. Every message is owned by owner.
void ShowVersionVerdict(HWND owner, const CVersionCheckResult& result,
                        const PageOpener& open = PageOpenerShowing(SW_HIDE));

// The download and reading of the manifest on a thread of its own; a message posted to the
// window says it is over.
class CVersionCheckJob {
public:
    CVersionCheckJob(HWND window, UINT message, std::wstring productPage = ProductPage());
    CVersionCheckJob(const CVersionCheckJob&) = delete;
    CVersionCheckJob& operator=(const CVersionCheckJob&) = delete;

    // Once the message came (throws what the check threw).
    CVersionCheckResult TakeResult();

private:
    const std::wstring productPage_;
    CVersionCheckResult result_;
    CBackgroundTask task_;  // last: it ends before what it works on goes
};

}  // namespace tarnwick
