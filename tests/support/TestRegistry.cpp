#include "TestRegistry.h"

#include <algorithm>
#include <stdexcept>

#include "ScopedHandle.h"

namespace tarnwick::test {

bool KeyExists(HKEY root, const std::wstring& key)
{
    UniqueRegKey opened;
    return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key, const std::wstring& name)
{
    wchar_t data[1024] = {};
    DWORD bytes = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegGetValueW(root, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_ANY, &type, data, &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    return std::wstring(data);
}

void WriteString(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& data)
{
    UniqueRegKey opened;
    if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.put(), nullptr) !=
            ERROR_SUCCESS ||
        ::RegSetValueExW(opened.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(data.c_str()),
                         DWORD((data.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        throw std::runtime_error("cannot write a registry value");
}

void DeleteKeyTree(HKEY root, const std::wstring& key) { ::RegDeleteTreeW(root, key.c_str()); }

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& name)
{
    UniqueRegKey opened;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, opened.put()) == ERROR_SUCCESS)
        ::RegDeleteValueW(opened.get(), name.empty() ? nullptr : name.c_str());
}

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

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingOperations[] = L"PendingFileRenameOperations";

void StoreBootOperations(const std::vector<BootOperation>& operations)
{
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    if (operations.empty()) {
        ::RegDeleteValueW(key.get(), kPendingOperations);
        return;
    }
    std::wstring value;
    for (const BootOperation& operation : operations)
        value += operation.from + L'\0' + operation.to + L'\0';
    value += L'\0';
    ::RegSetValueExW(key.get(), kPendingOperations, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(value.data()),
                     DWORD(value.size() * sizeof(wchar_t)));
}

}  // namespace

std::vector<BootOperation> PendingBootOperations()
{
    UniqueRegKey key;
    DWORD size = 0;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), kPendingOperations, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::wstring value(size / sizeof(wchar_t), L'\0');
    ::RegQueryValueExW(key.get(), kPendingOperations, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size);
    std::vector<std::wstring> names;
    for (std::size_t from = 0; from < value.size();) {
        const std::size_t end = std::min(value.find(L'\0', from), value.size());
        names.push_back(value.substr(from, end - from));
        from = end + 1;
    }
    std::vector<BootOperation> operations;
    for (std::size_t i = 0; i + 1 < names.size(); i += 2)  // a lone last name is the list's closing one
        operations.push_back({names[i], names[i + 1]});
    return operations;
}

bool IsScheduledForDeletion(const std::wstring& path)
{
    const std::vector<BootOperation> pending = PendingBootOperations();
    return std::find(pending.begin(), pending.end(), BootOperation{L"\\??\\" + path, L""}) != pending.end();
}

SavedBootOperations::~SavedBootOperations() { StoreBootOperations(saved_); }

}  // namespace tarnwick::test
