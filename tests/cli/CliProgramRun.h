#pragma once
// Running tarnwick-cli.exe as a script runs it, and reading what it printed.

#include <windows.h>

#include <string>
#include <vector>

#include "JsonReader.h"

namespace tarnwick::test {

struct CliResult {
    DWORD code = STILL_ACTIVE;
    std::string rawOut;
    std::wstring out, err;
    ULONGLONG ms = 0;
};

// Runs the program with the arguments, its output read through pipes and decoded as UTF-8;
// ended with code 99 should it not end in time.
CliResult RunCliProgram(const std::vector<std::wstring>& args, DWORD timeoutMs = 120000);

bool Contains(const std::wstring& text, const std::wstring& part);
// The lines of a text whose lines end in CR LF.
std::vector<std::wstring> Lines(const std::wstring& text);
// The JSON array a run printed; a test failure when it is none.
JsonValue ParsedJson(const CliResult& run);

}  // namespace tarnwick::test
