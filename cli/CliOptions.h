#pragma once
// The command line of tarnwick-cli: which command, on which path, and what to do after it.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "PathActions.h"

namespace tarnwick::cli {

// The exit codes scripts rely on; --help and the README list them.
enum ExitCode : int {
    kExitClear = 0,        // no lock left (list: none found)
    kExitLocksRemain = 1,  // locks remain or the after-action failed (list: locks found)
    kExitUsage = 2,        // bad command line, missing, device or protected path, an after-action that
                           // cannot succeed, a --pid that holds no lock, a critical process or a service
                           // host to kill or a service with running dependants to stop without --force
    kExitPlatform = 3,     // the system services could not be bound, or the scan could not run
};

enum class Command { Help, List, Unlock, Kill, Close };

struct CCliOptions {
    Command command = Command::Help;
    std::wstring path;  // as written; empty for list --all
    bool all = false;
    bool json = false;
    std::optional<DWORD> pid;
    AfterAction afterAction = AfterAction::DoNothing;
    std::wstring newName;      // --rename-to: a name within PATH's folder
    std::wstring destination;  // --move-to, as written
    bool atBoot = false;
    bool force = false;              // kill, close: end critical processes and service hosts, stop depended-on services
    std::optional<DWORD> waitMs;     // --wait, in milliseconds
    std::optional<DWORD> timeoutMs;  // close: how long the programs asked have to end, in milliseconds
    bool thenKill = false;           // close: end the programs that did not close in time
};

struct CParsedCommandLine {
    CCliOptions options;
    std::wstring error;  // empty when the command line is usable
};

// Reads the arguments after the program's name. Options may come before or after the
// path, as "--name value" or "--name=value"; "--" ends the options. Only the shape of the
// command line is checked here; whether the path exists is the command's concern.
CParsedCommandLine ParseCliOptions(const std::vector<std::wstring>& arguments);

// What --help prints.
std::wstring HelpText();

}  // namespace tarnwick::cli
