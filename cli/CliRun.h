#pragma once
// One run of tarnwick-cli, from its arguments to its exit code.

#include <string>
#include <vector>

#include "SystemServices.h"

namespace tarnwick::cli {

// Where the run's text goes: results to Out, errors to Err.
class IConsole {
public:
    virtual ~IConsole() = default;
    virtual void Out(const std::wstring& text) = 0;
    virtual void Err(const std::wstring& text) = 0;
};

// arguments: those after the program's name. Returns one of the exit codes of ExitCode.
int RunCli(const std::vector<std::wstring>& arguments, IConsole& console, const CPlatformLoader& loader = {});

}  // namespace tarnwick::cli
