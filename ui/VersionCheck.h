#pragma once
// The program's own version, what an update manifest says about it, and the check for a
// newer version offered in the system menu.

#include <windows.h>

#include <functional>
#include <string>

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

// Downloads the manifest beside productPage under the wait cursor, compares its versions with
// the program's own and either offers to open the page, says there is nothing new, or says
// that it could not tell. Every message is owned by owner.
void CheckForNewVersion(HWND owner, const std::wstring& productPage = ProductPage(),
                        const PageOpener& open = PageOpenerShowing(SW_HIDE));

}  // namespace tarnwick
