#include "NoticeFlag.h"

#include "ScopedHandle.h"

namespace tarnwick::test {

namespace {

constexpr wchar_t kKey[] = L"Software\\Quillmere\\Pellory";
constexpr wchar_t kValue[] = L"ShownFreeSoftwareBanner";

}  // namespace

NoticeFlagValue NoticeFlagValue::Dword(DWORD value)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return {true, REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof value)};
}

NoticeFlagValue ReadNoticeFlag()
{
    NoticeFlagValue value;
    UniqueRegKey key;
    DWORD size = 0;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), kValue, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.present =
        ::RegQueryValueExW(key.get(), kValue, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
    value.data.resize(size);
    return value;
}

bool WriteNoticeFlag(const NoticeFlagValue& value)
{
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    if (value.present)
        return ::RegSetValueExW(key.get(), kValue, 0, value.type, value.data.data(), DWORD(value.data.size())) ==
               ERROR_SUCCESS;
    const LSTATUS removed = ::RegDeleteValueW(key.get(), kValue);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

}  // namespace tarnwick::test
