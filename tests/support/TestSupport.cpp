#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace tarnwick::test {

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

std::wstring BinPath(const std::wstring& fileName)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir.resize(dir.find_last_of(L'\\') + 1);
    return dir + fileName;
}

std::wstring QuoteArgument(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

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

TempDir::~TempDir() { RemoveTree(path_); }

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

FixtureProcess::FixtureProcess(const std::wstring& program, const std::vector<std::wstring>& args)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle childInput, childOutput;
    if (!::CreatePipe(childInput.put(), input_.put(), &inherit, 0) ||
        !::CreatePipe(output_.put(), childOutput.put(), &inherit, 0))
        throw std::runtime_error("cannot create pipes");
    ::SetHandleInformation(input_.get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = QuoteArgument(program);
    for (const auto& arg : args)
        commandLine += L" " + QuoteArgument(arg);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput.get();
    startup.hStdOutput = childOutput.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info))
        throw std::runtime_error("cannot start " + WideToUtf8(program));
    ::CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    pid_ = info.dwProcessId;
    childInput.reset();
    childOutput.reset();

    for (std::string line = ReadLine(); line != "ready"; line = ReadLine()) {
        if (line.empty() && ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0)
            throw std::runtime_error("fixture ended before it was ready");
        const std::size_t valueAt = line.find(' ') + 1, pathAt = line.find(' ', valueAt) + 1;
        const HeldHandle held = {std::strtoull(line.c_str() + valueAt, nullptr, 0), Utf8ToWide(line.substr(pathAt))};
        if (line.rfind("handle ", 0) == 0)
            handles_.push_back(held);
        else if (line.rfind("module ", 0) == 0)
            modules_.push_back(held);
    }
}

FixtureProcess::~FixtureProcess()
{
    if (process_ && Finish(5000) == STILL_ACTIVE)
        ::TerminateProcess(process_.get(), 1);
}

namespace {

unsigned long long ValueOf(const std::vector<FixtureProcess::HeldHandle>& held, const std::wstring& path)
{
    for (const auto& entry : held) {
        if (_wcsicmp(entry.path.c_str(), path.c_str()) == 0)
            return entry.value;
    }
    return 0;
}

}  // namespace

unsigned long long FixtureProcess::HandleOf(const std::wstring& path) const { return ValueOf(handles_, path); }

unsigned long long FixtureProcess::ModuleOf(const std::wstring& path) const { return ValueOf(modules_, path); }

void FixtureProcess::Send(const std::string& line)
{
    const std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(input_.get(), text.data(), DWORD(text.size()), &written, nullptr);
}

std::string FixtureProcess::ReadLine()
{
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        char chunk[4096];
        DWORD read = 0;
        if (!::ReadFile(output_.get(), chunk, sizeof chunk, &read, nullptr) || read == 0) {
            std::string rest = std::move(pending_);
            pending_.clear();
            return rest;
        }
        pending_.append(chunk, read);
    }
}

DWORD FixtureProcess::Finish(DWORD timeoutMs)
{
    input_.reset();
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

namespace {

struct DialogSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDialogOf(HWND window, LPARAM param)
{
    auto& search = *reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    if (owner == search.pid && ::IsWindowVisible(window) && wcscmp(className, L"#32770") == 0) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND WaitForDialogOf(DWORD pid, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do {
        DialogSearch search = {pid, nullptr};
        ::EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        ::Sleep(20);
    } while (::GetTickCount64() < deadline);
    return nullptr;
}

std::wstring MessageBoxText(HWND box)
{
    wchar_t text[2048] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 2048);
    return text;
}

void PressDialogButton(HWND dialog, int id)
{
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

}  // namespace tarnwick::test
