#include "CommandLine.h"

namespace tarnwick {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program's name: quotes group, backslashes are literal.
std::size_t ReadProgramName(const std::wstring& line, std::wstring& name)
{
    std::size_t at = 0;
    bool quoted = false;
    for (; at < line.size() && (quoted || !IsBlank(line[at])); ++at) {
        if (line[at] == L'"')
            quoted = !quoted;
        else
            name += line[at];
    }
    return at;
}

std::size_t ReadArgument(const std::wstring& line, std::size_t at, std::wstring& argument)
{
    bool quoted = false;
    while (at < line.size() && (quoted || !IsBlank(line[at]))) {
        std::size_t backslashes = 0;
        while (at < line.size() && line[at] == L'\\') {
            ++backslashes;
            ++at;
        }
        if (at < line.size() && line[at] == L'"') {
            argument.append(backslashes / 2, L'\\');
            if (backslashes % 2 == 1) {
                argument += L'"';  // escaped: a literal quote
            } else if (quoted && at + 1 < line.size() && line[at + 1] == L'"') {
                argument += L'"';  // two quotes inside a quoted stretch
                ++at;
            } else {
                quoted = !quoted;
            }
            ++at;
        } else {
            argument.append(backslashes, L'\\');
            if (at < line.size() && (quoted || !IsBlank(line[at])))
                argument += line[at++];
        }
    }
    return at;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine)
{
    std::vector<std::wstring> arguments(1);
    std::size_t at = ReadProgramName(commandLine, arguments[0]);
    for (;;) {
        while (at < commandLine.size() && IsBlank(commandLine[at]))
            ++at;
        if (at >= commandLine.size())
            return arguments;
        arguments.emplace_back();
        at = ReadArgument(commandLine, at, arguments.back());
    }
}

std::wstring QuoteCommandLineArgument(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // A trailing run is doubled so that it does not escape the closing quote.
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace tarnwick
