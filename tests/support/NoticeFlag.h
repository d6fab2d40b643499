#pragma once
// The free-software notice's flag in HKEY_LOCAL_MACHINE, as the tests set it.

#include <windows.h>

#include <vector>

namespace tarnwick::test {

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

}  // namespace tarnwick::test
