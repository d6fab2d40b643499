#include "ParameterText.h"

#include <algorithm>

namespace tarnwick {

void FormatBounded(wchar_t* buffer, std::size_t capacity, std::initializer_list<std::wstring_view> parts)
{
    if (capacity == 0)
        return;
    std::size_t length = 0;
    for (std::wstring_view part : parts) {
        const std::size_t take = std::min(part.size(), capacity - 1 - length);
        part.copy(buffer + length, take);
        length += take;
    }
    buffer[length] = L'\0';
}

void FormatProgramParameters(std::wstring_view path, wchar_t* buffer, std::size_t capacity)
{
    const std::size_t lastOther = path.find_last_not_of(L'\\');
    const std::size_t trailing = path.size() - (lastOther == std::wstring_view::npos ? 0 : lastOther + 1);
    const std::wstring_view doubled = path.substr(path.size() - trailing);
    const std::size_t whole = 2 + path.size() + trailing + 1;
    if (whole < capacity)
        FormatBounded(buffer, capacity, {L" \"", path, doubled, L"\""});
    else
        FormatBounded(buffer, capacity, {L" \"", path});
}

}  // namespace tarnwick
