#pragma once
// Files and folders for the tests: where the built programs are, temporary folders that clean
// up after themselves, and drive letters standing for folders.

#include <windows.h>

#include <string>

namespace tarnwick::test {

// Full path of a program built beside the running test.
std::wstring BinPath(const std::wstring& fileName);
// Full path of a program of the 32-bit build (the launcher, the 32-bit fixtures).
std::wstring X86BinPath(const std::wstring& fileName);

// A folder the build names, in Windows form: a build under Wine records a Linux path, which
// Wine's Z: drive reaches.
std::wstring HostPath(const std::string& path);

// A fresh folder under the temporary folder, removed with all it holds at the end.
class TempDir {
public:
    explicit TempDir(const std::wstring& hint = L"tarnwick");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // Path of name inside the folder; creates the folders on the way when asked.
    std::wstring Sub(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// A drive letter that stands for a folder, as the subst command makes one, for the
// object's life. (Wine's dosdevices links report a volume device instead of the folder.)
class SubstDrive {
public:
    explicit SubstDrive(const std::wstring& folder);
    ~SubstDrive();
    SubstDrive(const SubstDrive&) = delete;
    SubstDrive& operator=(const SubstDrive&) = delete;

    bool defined() const { return defined_; }
    const std::wstring& letter() const { return letter_; }  // "T:"

private:
    std::wstring letter_;
    std::wstring folder_;
    bool defined_ = false;
};

// A folder link (a symbolic link to a folder) for the object's life. Wine makes none of its
// own (CreateSymbolicLinkW reports success and does nothing) but follows a Unix symbolic link
// as Windows follows a folder link: under Wine the link is made and removed by ln and rm.
class FolderLink {
public:
    FolderLink(const std::wstring& link, const std::wstring& target);
    ~FolderLink();
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;

    bool made() const { return made_; }

private:
    std::wstring link_;
    bool made_ = false;
};

// Whether the tests run under Wine, where some of what Windows does cannot be shown.
bool IsWine();

void CreateFolders(const std::wstring& path);
void WriteFile(const std::wstring& path, const std::string& content = "x");
// Removes the folder and all it holds; a link inside is removed, never followed.
void RemoveTree(const std::wstring& path);

bool Exists(const std::wstring& path);

// A temporary folder with a folder "target" in it holding copies of the holder fixture and the
// fixture library, so that a fixture started from there has both as modules.
struct ResidentFolder {
    explicit ResidentFolder(const std::wstring& hint);

    TempDir dir;
    const std::wstring target, program, library;
};

}  // namespace tarnwick::test
