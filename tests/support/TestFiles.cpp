#include "TestFiles.h"

#include <shlwapi.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick::test {

std::wstring BinPath(const std::wstring& fileName)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir.resize(dir.find_last_of(L'\\') + 1);
    return dir + fileName;
}

std::wstring HostPath(const std::string& path)
{
    std::wstring windows = Utf8ToWide(path);
    if (!windows.empty() && windows[0] == L'/')
        windows = L"Z:" + windows;
    for (wchar_t& c : windows) {
        if (c == L'/')
            c = L'\\';
    }
    return windows;
}

std::wstring X86BinPath(const std::wstring& fileName) { return HostPath(TARNWICK_X86_BIN_DIR) + L"\\" + fileName; }

TempDir::TempDir(const std::wstring& hint)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    for (;;) {
        path_ = std::wstring(temp) + hint + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (::CreateDirectoryW(path_.c_str(), nullptr))
            break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create a temporary folder");
    }
}

// Through the long-path prefix, so that folders deeper than 260 characters go too.
TempDir::~TempDir() { RemoveTree(L"\\\\?\\" + path_); }

ResidentFolder::ResidentFolder(const std::wstring& hint)
    : dir(hint), target(dir.Sub(L"target")), program(target + L"\\holder.exe"), library(target + L"\\lockdll.dll")
{
    CreateFolders(target);
    if (!::CopyFileW(BinPath(L"holder.exe").c_str(), program.c_str(), FALSE) ||
        !::CopyFileW(BinPath(L"lockdll.dll").c_str(), library.c_str(), FALSE))
        throw std::runtime_error("cannot copy the fixtures");
}

namespace {

wchar_t FreeDriveLetter()
{
    const DWORD used = ::GetLogicalDrives();
    for (wchar_t letter = L'T'; letter <= L'Y'; ++letter) {
        if (!(used & (1u << (letter - L'A'))))
            return letter;
    }
    return 0;
}

}  // namespace

SubstDrive::SubstDrive(const std::wstring& folder) : letter_{FreeDriveLetter(), L':'}, folder_(folder)
{
    defined_ = letter_[0] && ::DefineDosDeviceW(0, letter_.c_str(), folder_.c_str());
}

SubstDrive::~SubstDrive()
{
    if (defined_)
        ::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, letter_.c_str(), folder_.c_str());
}

void CreateFolders(const std::wstring& path)
{
    for (std::size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
        if (at == std::wstring::npos)
            break;
    }
}

void WriteFile(const std::wstring& path, const std::string& content)
{
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        throw std::runtime_error("cannot create " + WideToUtf8(path));
    DWORD written = 0;
    ::WriteFile(file.get(), content.data(), DWORD(content.size()), &written, nullptr);
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                ::RemoveDirectoryW(child.c_str());
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find.get(), &data));
    }
    ::RemoveDirectoryW(path.c_str());
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

namespace {

// The Unix name Wine gives a path; empty outside Wine.
std::string UnixName(const std::wstring& path)
{
    using UnixFileNameFn = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixFileNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name)
        return {};
    std::string copy = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return copy;
}

// Starts a Unix program under Wine with the arguments given. Wine does not follow a Unix
// program to its end: the caller looks for what it does.
void StartUnix(const std::wstring& program, const std::vector<std::string>& arguments)
{
    std::wstring command = program;
    for (const std::string& argument : arguments)
        command += L" \"" + Utf8ToWide(argument) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
}

bool IsFolderLink(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether condition becomes true within ten seconds.
bool Within10Seconds(const std::function<bool()>& condition)
{
    for (int i = 0; i < 200 && !condition(); ++i)
        ::Sleep(50);
    return condition();
}

}  // namespace

FolderLink::FolderLink(const std::wstring& link, const std::wstring& target) : link_(link)
{
    if (IsWine())
        StartUnix(L"Z:\\usr\\bin\\ln -s", {UnixName(target), UnixName(link)});
    else
        ::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                              SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    made_ = Within10Seconds([&] { return IsFolderLink(link); });
}

FolderLink::~FolderLink()
{
    if (!made_)
        return;
    if (IsWine())
        StartUnix(L"Z:\\usr\\bin\\rm", {UnixName(link_)});
    else
        ::RemoveDirectoryW(link_.c_str());
    Within10Seconds([&] { return !IsFolderLink(link_); });
}

}  // namespace tarnwick::test
