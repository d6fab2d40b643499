#include "TestFiles.h"

#include <stdexcept>

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
    for (std::size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
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
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find.get(), &data));
    }
    ::RemoveDirectoryW(path.c_str());
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace tarnwick::test
