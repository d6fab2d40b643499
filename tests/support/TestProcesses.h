#pragma once
// Processes the tests start: fixture programs of ours talked to through pipes, and programs
// started with a command line and waited for.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ScopedHandle.h"

namespace tarnwick::test {

class TempDir;

// A program started with its standard output (and its input and error, when asked for) on
// pipes whose other ends are ours.
struct PipedProcess {
    UniqueHandle process;
    DWORD pid = 0;
    UniqueHandle input;   // we write; empty unless asked for
    UniqueHandle output;  // we read
    UniqueHandle error;   // we read; empty unless asked for (then it shares ours)
};
PipedProcess StartPiped(const std::wstring& program, const std::vector<std::wstring>& args, bool pipeInput,
                        bool pipeError);
// What a piped program printed and how it ended: code is STILL_ACTIVE when it did not end in
// time (it is then ended with code 99).
struct EndedRun {
    std::string output, error;
    DWORD code = STILL_ACTIVE;
};
// Reads the program's pipes while it runs and once more when it has ended, never waiting for
// them to close: under Wine a program can start the desktop's own process, which inherits the
// pipes and holds them open long after the program has ended.
EndedRun AwaitRun(const PipedProcess& run, DWORD timeoutMs);

// A fixture program of ours, talked to through its standard input and output.
class FixtureProcess {
public:
    struct HeldHandle {
        unsigned long long value;
        std::wstring path;
    };

    // Starts the program and waits until it prints "ready"; records the "handle VALUE PATH",
    // "module BASE PATH" and "mapping BASE PATH" lines it printed before.
    FixtureProcess(const std::wstring& program, const std::vector<std::wstring>& args);
    ~FixtureProcess();
    FixtureProcess(const FixtureProcess&) = delete;
    FixtureProcess& operator=(const FixtureProcess&) = delete;

    bool started() const { return bool(process_); }
    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_.get(); }
    const std::vector<HeldHandle>& handles() const { return handles_; }
    const std::vector<HeldHandle>& modules() const { return modules_; }
    const std::vector<HeldHandle>& mappings() const { return mappings_; }
    unsigned long long HandleOf(const std::wstring& path) const;
    unsigned long long ModuleOf(const std::wstring& path) const;

    void Send(const std::string& line);
    std::string ReadLine();
    // Asks the fixture which of its handles are still open.
    bool StillHolds(unsigned long long handle);
    // Closes its input (the fixture then ends) and waits for it; returns the exit code.
    DWORD Finish(DWORD timeoutMs = 10000);

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
    UniqueHandle input_;
    UniqueHandle output_;
    std::string pending_;
    std::vector<HeldHandle> handles_;
    std::vector<HeldHandle> modules_;
    std::vector<HeldHandle> mappings_;
};

// The locks a scan finds only when it reads the whole handle table, folds every letter's
// case, follows paths beyond 260 characters and lists 32-bit modules: held in a folder
// "Café" that the tests name as "CAFÉ".
struct HardLocks {
    std::wstring spelled;             // the folder as the tests write it
    std::vector<std::wstring> paths;  // every locked path, as a scan reports it
    std::unique_ptr<FixtureProcess> holder, holder32;
};
HardLocks MakeHardLocks(const TempDir& dir);
// A program started with a command line (its own path quoted, then arguments as they stand);
// ended by force should a failing test leave it running.
class StartedProcess {
public:
    struct Options {
        std::wstring currentDir;  // empty: ours
        bool suspended = false;
        bool withoutConsoleOutput = false;  // no standard handles at all
    };

    StartedProcess(const std::wstring& program, const std::wstring& arguments, const Options& options);
    StartedProcess(const std::wstring& program, const std::wstring& arguments)
        : StartedProcess(program, arguments, Options{})
    {
    }
    ~StartedProcess();

    bool started() const { return bool(process_); }
    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_.get(); }
    HANDLE thread() const { return thread_.get(); }
    // Its exit code once it has ended, or STILL_ACTIVE when it has not ended in time.
    DWORD ExitCode(DWORD timeoutMs = 10000) const;

private:
    UniqueHandle process_;
    UniqueHandle thread_;
    DWORD pid_ = 0;
};

// Whether the process has not ended yet.
bool Running(HANDLE process);
// The process's exit code once it has ended, or STILL_ACTIVE when it has not ended in time.
DWORD ExitCodeOf(HANDLE process, DWORD timeoutMs = 5000);

// The name of the user the tests run as.
std::wstring CurrentUser();

// Whether 32-bit programs are started here. The scripts say so in TARNWICK_32BIT: "0" where the
// machine runs none or TARNWICK_NO_32BIT=1 asks for none; unsaid, as on Windows, they are.
bool ThirtyTwoBitProgramsRun();
// What a test that must start a 32-bit program says when it is skipped; ctest looks for it.
const char* No32BitSkipReason();

}  // namespace tarnwick::test

// The first statement of a test that must start a 32-bit program.
#define SKIP_UNLESS_32BIT_PROGRAMS_RUN()              \
    if (!::tarnwick::test::ThirtyTwoBitProgramsRun()) \
    GTEST_SKIP() << ::tarnwick::test::No32BitSkipReason()
