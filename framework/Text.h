#pragma once
// Text conversions between the program's UTF-16 and byte encodings, and the system's
// wording of an error code.

#include <windows.h>

#include <string>
#include <string_view>

#include "ScopedHandle.h"

namespace tarnwick {

inline std::wstring BytesToWide(std::string_view bytes, UINT codePage)
{
    if (bytes.empty())
        return {};
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), wide.data(), length);
    return wide;
}

inline std::string WideToBytes(std::wstring_view text, UINT codePage)
{
    if (text.empty())
        return {};
    const int length = ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

inline std::wstring Utf8ToWide(std::string_view bytes) { return BytesToWide(bytes, CP_UTF8); }
inline std::string WideToUtf8(std::wstring_view text) { return WideToBytes(text, CP_UTF8); }

// Comparisons that ignore case as the file system does: every letter it folds, not only
// ASCII (CAFÉ and café are one name).
inline bool EqualsNoCase(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), int(a.size()), b.data(), int(b.size()), TRUE) == CSTR_EQUAL;
}

inline bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The text with every letter in the one case the comparisons above fold it to: two texts are
// EqualsNoCase exactly when their folds are equal, so a fold made once can be searched fast.
inline std::wstring FoldCase(std::wstring_view text)
{
    std::wstring folded(text);
    if (!folded.empty())
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), int(text.size()), folded.data(),
                        int(folded.size()), nullptr, nullptr, 0);
    return folded;
}

// The text without the white space at both ends.
inline std::wstring_view Trim(std::wstring_view text)
{
    constexpr std::wstring_view kBlanks = L" \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::wstring_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The system's own sentence for an error code, without its line end; empty when the system
// has none.
inline std::wstring KnownSystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const UniqueLocalMemory owner(text);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return message;
}

// As KnownSystemMessage, naming the code where the system has no sentence for it.
inline std::wstring SystemMessage(DWORD error)
{
    const std::wstring message = KnownSystemMessage(error);
    return message.empty() ? L"error " + std::to_wstring(error) : message;
}

}  // namespace tarnwick
