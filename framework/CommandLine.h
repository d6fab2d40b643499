#pragma once
// Command lines split and quoted by the platform's rules for wide program arguments.

#include <string>
#include <vector>

namespace tarnwick {

// Splits a command line: blanks and tabs separate; quotes group and are dropped; 2n
// backslashes before a quote give n and the quote keeps its role, 2n+1 give n and a
// literal quote; two quotes inside a quoted stretch give one. The first element is the
// program's own name.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// Quotes one argument so that SplitCommandLine gives it back unchanged.
std::wstring QuoteCommandLineArgument(const std::wstring& argument);

}  // namespace tarnwick
