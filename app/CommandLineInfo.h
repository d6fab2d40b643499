#pragma once
// The main program's command line: one optional path; switches are ignored.

#include <string>
#include <vector>

#include "CommandLine.h"

namespace tarnwick {

struct CCommandLineInfo {
    std::wstring m_strFileName;  // the path to examine; empty when none is named
};

// The first argument after the program's name that is not a switch ("-" or "/") is the
// path, taken exactly as written.
CCommandLineInfo ParseCommandLine(const std::vector<std::wstring>& arguments);

}  // namespace tarnwick
