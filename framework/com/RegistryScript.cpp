#include "com/RegistryScript.h"

#include "ScopedHandle.h"
#include "Text.h"

namespace tarnwick {

namespace {

const HRESULT kMalformedScript = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Splits off up to maxFields fields; the last one keeps any further separators.
std::vector<std::wstring_view> SplitFields(std::wstring_view line, std::size_t maxFields)
{
    std::vector<std::wstring_view> fields;
    while (fields.size() + 1 < maxFields) {
        const std::size_t bar = line.find(L'|');
        if (bar == std::wstring_view::npos)
            break;
        fields.push_back(Trim(line.substr(0, bar)));
        line.remove_prefix(bar + 1);
    }
    fields.push_back(Trim(line));
    return fields;
}

bool Substitute(std::wstring_view text, const RegistryReplacements& replacements, std::wstring& result)
{
    result.clear();
    while (!text.empty()) {
        const std::size_t open = text.find(L'%');
        result.append(text.substr(0, open));
        if (open == std::wstring_view::npos)
            break;
        const std::size_t close = text.find(L'%', open + 1);
        if (close == std::wstring_view::npos)
            return false;
        const std::wstring_view name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            result += L'%';
        } else {
            bool found = false;
            for (const auto& [key, value] : replacements) {
                if (name == key) {
                    result += value;
                    found = true;
                    break;
                }
            }
            if (!found)
                return false;
        }
        text.remove_prefix(close + 1);
    }
    return true;
}

bool ParseKind(std::wstring_view word, RegistryScriptEntry::Kind& kind)
{
    using Kind = RegistryScriptEntry::Kind;
    if (word == L"shared")
        kind = Kind::Shared;
    else if (word == L"replaced")
        kind = Kind::Replaced;
    else if (word == L"owned")
        kind = Kind::Owned;
    else if (word == L"value")
        kind = Kind::Value;
    else
        return false;
    return true;
}

HKEY ParseRoot(std::wstring_view word)
{
    if (word == L"HKCR")
        return HKEY_CLASSES_ROOT;
    if (word == L"HKLM")
        return HKEY_LOCAL_MACHINE;
    if (word == L"HKCU")
        return HKEY_CURRENT_USER;
    return nullptr;
}

bool ParseLine(std::wstring_view line, const RegistryReplacements& replacements, RegistryScriptEntry& entry)
{
    using Kind = RegistryScriptEntry::Kind;
    const auto fields = SplitFields(line, 5);
    if ((fields.size() != 3 && fields.size() != 5) || !ParseKind(fields[0], entry.kind))
        return false;
    entry.root = ParseRoot(fields[1]);
    if (!entry.root || !Substitute(fields[2], replacements, entry.key) || entry.key.empty() ||
        entry.key.front() == L'\\' || entry.key.back() == L'\\')
        return false;
    entry.hasValue = fields.size() == 5;
    if (entry.kind == Kind::Shared && entry.hasValue)
        return false;
    if (entry.kind == Kind::Value && !entry.hasValue)
        return false;
    if (entry.hasValue) {
        if (fields[3].empty() || !Substitute(fields[4], replacements, entry.data))
            return false;
        if (fields[3] != L"@" && !Substitute(fields[3], replacements, entry.valueName))
            return false;
    }
    return true;
}

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

bool IsGone(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

// Where the script's roots point for this run. For one user, HKCR stands for the user's
// Software\Classes, which unregistration only opens: removing leaves no key behind.
class RegistryRoots {
public:
    RegistryRoots(const RegistryScriptOptions& options, RegistryDirection direction)
        : perUser_(options.perUserClasses), direction_(direction)
    {
    }

    bool redirects(HKEY root) const { return root == HKEY_CLASSES_ROOT && perUser_; }

    LSTATUS Resolve(HKEY root, HKEY& resolved)
    {
        if (!redirects(root)) {
            resolved = root;
            return ERROR_SUCCESS;
        }
        if (!userClasses_ && userClassesStatus_ == ERROR_SUCCESS)
            userClassesStatus_ = OpenUserClasses();
        resolved = userClasses_.get();
        return userClassesStatus_;
    }

private:
    LSTATUS OpenUserClasses()
    {
        const wchar_t* const key = L"Software\\Classes";
        if (direction_ == RegistryDirection::Unregister)
            return ::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ | KEY_WRITE, userClasses_.put());
        return ::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                 userClasses_.put(), nullptr);
    }

    bool perUser_;
    RegistryDirection direction_;
    UniqueRegKey userClasses_;
    LSTATUS userClassesStatus_ = ERROR_SUCCESS;
};

LSTATUS DeleteTree(HKEY base, const std::wstring& key)
{
    const LSTATUS status = ::RegDeleteTreeW(base, key.c_str());
    return IsGone(status) ? ERROR_SUCCESS : status;
}

LSTATUS Write(HKEY base, const RegistryScriptEntry& entry)
{
    using Kind = RegistryScriptEntry::Kind;
    if (entry.kind == Kind::Replaced) {
        if (const LSTATUS status = DeleteTree(base, entry.key); status != ERROR_SUCCESS)
            return status;
    }
    // Opening a shared key needs no write access, so that an existing one does not fail.
    const REGSAM access = entry.kind == Kind::Shared ? KEY_READ : KEY_SET_VALUE;
    UniqueRegKey key;
    LSTATUS status = ::RegCreateKeyExW(base, entry.key.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS || !entry.hasValue)
        return status;
    const auto bytes = DWORD((entry.data.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), entry.valueName.empty() ? nullptr : entry.valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(entry.data.c_str()), bytes);
}

LSTATUS Remove(HKEY base, const RegistryScriptEntry& entry)
{
    using Kind = RegistryScriptEntry::Kind;
    switch (entry.kind) {
    case Kind::Shared: return ERROR_SUCCESS;
    case Kind::Replaced:
    case Kind::Owned: return DeleteTree(base, entry.key);
    case Kind::Value: break;
    }
    UniqueRegKey key;
    LSTATUS status = ::RegOpenKeyExW(base, entry.key.c_str(), 0, KEY_SET_VALUE, key.put());
    if (status == ERROR_SUCCESS)
        status = ::RegDeleteValueW(key.get(), entry.valueName.empty() ? nullptr : entry.valueName.c_str());
    return IsGone(status) ? ERROR_SUCCESS : status;
}

bool IsEmptyKey(HKEY base, const std::wstring& key)
{
    UniqueRegKey opened;
    if (::RegOpenKeyExW(base, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0, values = 0;
    return ::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

// A user's classes hold only what was registered for them, so the shared keys that the
// removal left empty go too; children come after their parents in a script, so walking
// backwards removes the deepest first. The machine's shared keys always stay.
LSTATUS RemoveEmptiedUserKeys(RegistryRoots& roots, const std::vector<RegistryScriptEntry>& entries)
{
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        HKEY base = nullptr;
        if (entry->kind != RegistryScriptEntry::Kind::Shared || !roots.redirects(entry->root) ||
            roots.Resolve(entry->root, base) != ERROR_SUCCESS || !IsEmptyKey(base, entry->key))
            continue;
        const LSTATUS status = ::RegDeleteKeyW(base, entry->key.c_str());
        if (status != ERROR_SUCCESS && !IsGone(status))
            return status;
    }
    return ERROR_SUCCESS;
}

}  // namespace

bool ParseRegistryScript(std::wstring_view text, const RegistryReplacements& replacements,
                         std::vector<RegistryScriptEntry>& entries)
{
    entries.clear();
    if (!text.empty() && text.front() == L'\xFEFF')
        text.remove_prefix(1);
    while (!text.empty()) {
        const std::size_t end = text.find(L'\n');
        const std::wstring_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::wstring_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == L'#')
            continue;
        RegistryScriptEntry entry;
        if (!ParseLine(line, replacements, entry))
            return false;
        entries.push_back(std::move(entry));
    }
    return true;
}

HRESULT ApplyRegistryScript(std::string_view utf8, const RegistryReplacements& replacements,
                            RegistryDirection direction, const RegistryScriptOptions& options)
{
    std::vector<RegistryScriptEntry> entries;
    if (!ParseRegistryScript(Utf8ToWide(utf8), replacements, entries))
        return kMalformedScript;
    const bool unregister = direction == RegistryDirection::Unregister;
    RegistryRoots roots(options, direction);
    for (const auto& entry : entries) {
        HKEY base = nullptr;
        LSTATUS status = roots.Resolve(entry.root, base);
        if (status == ERROR_SUCCESS)
            status = unregister ? Remove(base, entry) : Write(base, entry);
        else if (unregister && IsGone(status))
            status = ERROR_SUCCESS;  // a user without classes has none of ours
        if (status != ERROR_SUCCESS)
            return FromStatus(status);
    }
    return FromStatus(unregister ? RemoveEmptiedUserKeys(roots, entries) : ERROR_SUCCESS);
}

HRESULT ApplyRegistryScriptResource(HMODULE module, UINT id, const RegistryReplacements& replacements,
                                    RegistryDirection direction, const RegistryScriptOptions& options)
{
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
    const HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) {
        const DWORD error = ::GetLastError();
        return HRESULT_FROM_WIN32(error ? error : ERROR_RESOURCE_DATA_NOT_FOUND);
    }
    const std::string_view text(static_cast<const char*>(data), ::SizeofResource(module, found));
    return ApplyRegistryScript(text, replacements, direction, options);
}

}  // namespace tarnwick
