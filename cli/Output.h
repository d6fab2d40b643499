#pragma once
// What tarnwick-cli prints: the lock table, the JSON array, and the one-line descriptions
// of locks in its reports. Pure text; writing it out is the caller's part.

#include <string>
#include <vector>

#include "LockRecords.h"

namespace tarnwick::cli {

// Console programs on this platform end their lines so.
inline constexpr wchar_t kNewline[] = L"\r\n";

using CLockRows = std::vector<const CLockItem*>;

// By process name (case ignored), then pid, handles before modules before mappings, then path.
void SortForDisplay(CLockRows& rows);

// "a loaded module" or "a mapped view": what a lock that no unlock can close is.
const wchar_t* NotClosableWhat(const CLockItem& row);

// A header and one line per lock, the columns padded to line up; Path comes last, unpadded.
std::wstring LockTable(const CLockRows& rows);

// A JSON array with one object per lock. Every object has the same keys; of handle,
// loadAddress and viewAddress only the one of the lock's kind is not null; services is an
// array of service names, hasWindows a boolean.
std::wstring LockJson(const CLockRows& rows);

// A JSON object with what the scan could not see, for standard error.
std::wstring UnseenJson(ULONG processesRefused, ULONG handlesGivenUp);

// A JSON string literal: quotes, backslashes and control characters escaped.
std::wstring JsonString(const std::wstring& text);

// "holder.exe (PID 12), handle 0x1a4: C:\Data\a.txt"; "module at 0x..." for a module,
// "mapped view at 0x..." for a mapping.
std::wstring DescribeLock(const CLockItem& row);
std::wstring DescribeProcess(const CLockItem& row);

std::wstring Hex(uint64_t value);

}  // namespace tarnwick::cli
