#include "TestProcesses.h"

#include "TestFiles.h"

#include <cstdlib>
#include <stdexcept>

#include "Text.h"

namespace tarnwick::test {

namespace {

// A pipe whose one end the child inherits; the other end stays ours.
void MakePipe(UniqueHandle& ours, UniqueHandle& child, bool childReads)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const BOOL made = childReads ? ::CreatePipe(child.put(), ours.put(), &inherit, 0)
                                 : ::CreatePipe(ours.put(), child.put(), &inherit, 0);
    if (!made)
        throw std::runtime_error("cannot create a pipe");
    ::SetHandleInformation(ours.get(), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

PipedProcess StartPiped(const std::wstring& program, const std::vector<std::wstring>& args, bool pipeInput,
                        bool pipeError)
{
    PipedProcess started;
    UniqueHandle childInput, childOutput, childError;
    if (pipeInput)
        MakePipe(started.input, childInput, true);
    MakePipe(started.output, childOutput, false);
    if (pipeError)
        MakePipe(started.error, childError, false);

    std::wstring commandLine = QuoteCommandLineArgument(program);
    for (const auto& arg : args)
        commandLine += L" " + QuoteCommandLineArgument(arg);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = pipeInput ? childInput.get() : ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = childOutput.get();
    startup.hStdError = pipeError ? childError.get() : ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info))
        throw std::runtime_error("cannot start " + WideToUtf8(program));
    const UniqueHandle thread(info.hThread);
    started.process.reset(info.hProcess);
    started.pid = info.dwProcessId;
    return started;
}

namespace {

// What the pipe holds now, without waiting for more.
void ReadWaiting(HANDLE pipe, std::string& text)
{
    DWORD waiting = 0;
    while (pipe && ::PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
        const std::size_t had = text.size();
        text.resize(had + waiting);
        DWORD read = 0;
        if (!::ReadFile(pipe, text.data() + had, waiting, &read, nullptr))
            read = 0;
        text.resize(had + read);
        if (read == 0)
            return;
    }
}

}  // namespace

EndedRun AwaitRun(const PipedProcess& run, DWORD timeoutMs)
{
    constexpr DWORD kPollMs = 5;
    EndedRun ended;
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    bool done = false;
    do {
        done = ::WaitForSingleObject(run.process.get(), kPollMs) == WAIT_OBJECT_0;
        ReadWaiting(run.output.get(), ended.output);
        ReadWaiting(run.error.get(), ended.error);
    } while (!done && ::GetTickCount64() < deadline);
    if (done)
        ::GetExitCodeProcess(run.process.get(), &ended.code);
    else
        ::TerminateProcess(run.process.get(), 99);
    return ended;
}

FixtureProcess::FixtureProcess(const std::wstring& program, const std::vector<std::wstring>& args)
{
    PipedProcess started = StartPiped(program, args, true, false);
    process_ = std::move(started.process);
    pid_ = started.pid;
    input_ = std::move(started.input);
    output_ = std::move(started.output);

    for (std::string line = ReadLine(); line != "ready"; line = ReadLine()) {
        if (line.empty() && ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0)
            throw std::runtime_error("fixture ended before it was ready");
        const std::size_t valueAt = line.find(' ') + 1, pathAt = line.find(' ', valueAt) + 1;
        const HeldHandle held = {std::strtoull(line.c_str() + valueAt, nullptr, 0), Utf8ToWide(line.substr(pathAt))};
        if (line.rfind("handle ", 0) == 0)
            handles_.push_back(held);
        else if (line.rfind("module ", 0) == 0)
            modules_.push_back(held);
        else if (line.rfind("mapping ", 0) == 0)
            mappings_.push_back(held);
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

bool FixtureProcess::StillHolds(unsigned long long handle)
{
    Send("check");
    bool open = false;
    for (std::string line = ReadLine(); line != "checked" && !line.empty(); line = ReadLine()) {
        if (line.rfind("open ", 0) == 0 && std::strtoull(line.c_str() + 5, nullptr, 0) == handle)
            open = true;
    }
    return open;
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

HardLocks MakeHardLocks(const TempDir& dir)
{
    const std::wstring folder = dir.Sub(L"Caf\u00e9"), longPathPrefix = L"\\\\?\\";
    CreateFolders(folder);
    std::wstring deep = folder;
    while (deep.size() < 300) {
        deep += L"\\a-long-folder-name";
        ::CreateDirectoryW((longPathPrefix + deep).c_str(), nullptr);
    }
    const std::wstring high = folder + L"\\high.txt", distant = deep + L"\\far.txt", lib32 = folder + L"\\lock32.dll";
    if (!::CopyFileW(X86BinPath(L"lockdll.dll").c_str(), lib32.c_str(), FALSE))
        throw std::runtime_error("cannot copy the 32-bit library");
    HardLocks locks{dir.Sub(L"CAF\u00c9"), {high, distant, lib32}, nullptr, nullptr};
    locks.holder = std::make_unique<FixtureProcess>(
        BinPath(L"holder.exe"),
        std::vector<std::wstring>{L"events", L"17000", L"open", high, L"open", longPathPrefix + distant});
    locks.holder32 =
        std::make_unique<FixtureProcess>(X86BinPath(L"holder.exe"), std::vector<std::wstring>{L"load", lib32});
    if (locks.holder->HandleOf(high) <= 0xFFFF)
        throw std::runtime_error("the holder's handle is not above 16 bits");
    return locks;
}

namespace {

std::wstring CommandLineOf(const std::wstring& program, const std::wstring& arguments)
{
    const std::wstring quoted = QuoteCommandLineArgument(program);
    return arguments.empty() ? quoted : quoted + L" " + arguments;
}

}  // namespace

StartedProcess::StartedProcess(const std::wstring& program, const std::wstring& arguments, const Options& options)
{
    std::wstring commandLine = CommandLineOf(program, arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (options.withoutConsoleOutput)
        startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          options.suspended ? CREATE_SUSPENDED : 0, nullptr,
                          options.currentDir.empty() ? nullptr : options.currentDir.c_str(), &startup, &info))
        return;
    process_.reset(info.hProcess);
    thread_.reset(info.hThread);
    pid_ = info.dwProcessId;
}

StartedProcess::~StartedProcess()
{
    if (process_ && ExitCode(0) == STILL_ACTIVE)
        ::TerminateProcess(process_.get(), 99);
}

DWORD StartedProcess::ExitCode(DWORD timeoutMs) const
{
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool Running(HANDLE process) { return ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

DWORD ExitCodeOf(HANDLE process, DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    ::WaitForSingleObject(process, timeoutMs);
    ::GetExitCodeProcess(process, &code);
    return code;
}

std::wstring CurrentUser()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    ::GetUserNameW(name, &size);
    return name;
}

bool ThirtyTwoBitProgramsRun()
{
    wchar_t said[8] = {};
    return !(::GetEnvironmentVariableW(L"TARNWICK_32BIT", said, 8) && std::wstring(said) == L"0");
}

const char* No32BitSkipReason() { return TARNWICK_NO_32BIT_REASON; }

}  // namespace tarnwick::test
