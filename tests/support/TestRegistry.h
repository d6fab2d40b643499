#pragma once
// The registry as the tests read and change it: small readers and writers, the free-software
// notice's flag in HKEY_LOCAL_MACHINE, and the system's list of renames at the next boot.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::test {

bool KeyExists(HKEY root, const std::wstring& key);
// A string value, or nothing when the key or value is missing; name empty: the default value.
std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name = L"");
void WriteString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& data);
void DeleteKeyTree(HKEY root, const std::wstring& key);
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name);

struct NoticeFlagValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    static NoticeFlagValue Dword(DWORD value);
};

NoticeFlagValue ReadNoticeFlag();
// Stores the value, or removes it when it is not present; false when that failed.
bool WriteNoticeFlag(const NoticeFlagValue& value);

// Changes to the flag that last as long as the object: the flag is put back as it was.
class ScopedNoticeFlag {
public:
    ScopedNoticeFlag() : saved_(ReadNoticeFlag()) {}
    ~ScopedNoticeFlag() { WriteNoticeFlag(saved_); }
    ScopedNoticeFlag(const ScopedNoticeFlag&) = delete;
    ScopedNoticeFlag& operator=(const ScopedNoticeFlag&) = delete;

    bool Set(const NoticeFlagValue& value) { return WriteNoticeFlag(value); }
    bool Remove() { return WriteNoticeFlag({}); }

private:
    NoticeFlagValue saved_;
};

// A rename the system carries out at the next boot, in the form it records ("\\??\\C:\\...");
// an empty `to` deletes `from`.
struct BootOperation {
    std::wstring from, to;
    bool operator==(const BootOperation& other) const { return from == other.from && to == other.to; }
};
std::vector<BootOperation> PendingBootOperations();
// Whether the system will delete the path, written as a program writes it, at the next boot.
bool IsScheduledForDeletion(const std::wstring& path);

// The renames at the next boot as they were when the object was made are put back when it
// goes, so that a test leaves nothing for the prefix's next start to carry out.
class SavedBootOperations {
public:
    SavedBootOperations() : saved_(PendingBootOperations()) {}
    ~SavedBootOperations();
    SavedBootOperations(const SavedBootOperations&) = delete;
    SavedBootOperations& operator=(const SavedBootOperations&) = delete;

    const std::vector<BootOperation>& saved() const { return saved_; }

private:
    std::vector<BootOperation> saved_;
};

}  // namespace tarnwick::test
