#pragma once
// Bounded text for the handler's fixed buffers, and the parameter text it hands to the
// main program.

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace tarnwick {

// Writes the parts one after the other, cut to capacity - 1 characters, always terminated.
void FormatBounded(wchar_t* buffer, std::size_t capacity, std::initializer_list<std::wstring_view> parts);

// A blank, then path in double quotes, so that the main program's first argument is path.
// Backslashes at the end of path are doubled, or the last one would escape the closing
// quote (a drive root such as C:\). Text that does not fit loses its closing quote, and
// then nothing is doubled: without a quote after them the backslashes stand for themselves.
void FormatProgramParameters(std::wstring_view path, wchar_t* buffer, std::size_t capacity);

}  // namespace tarnwick
