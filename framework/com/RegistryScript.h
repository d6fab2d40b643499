#pragma once
// Registration data kept as text, applied in either direction by one walker, so that what
// unregistration removes can never drift from what registration wrote.
//
// One entry per line, fields separated by '|', blanks around fields ignored, '#' starts a
// comment line:
//
//   KIND | ROOT | KEY [| NAME | DATA]
//
// ROOT is HKCR, HKLM or HKCU. NAME is a value name, '@' for the key's default value. DATA
// is stored as a string. %NAME% in KEY, NAME or DATA is replaced (%% is a percent sign);
// an unknown replacement makes the whole script invalid. KIND says what each direction does:
//
//   shared    created when missing, never removed (takes no value); for one user's
//             classes, removed once the unregistration has left it empty
//   replaced  deleted with its whole subtree, then created; removed with its subtree
//   owned     created; removed with its subtree
//   value     the named value is set (its key created when missing); only the value is removed
//
// Both directions walk the lines in order. Removing what is already gone is not an error.

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick {

using RegistryReplacements = std::vector<std::pair<std::wstring, std::wstring>>;

enum class RegistryDirection { Register, Unregister };

struct RegistryScriptEntry {
    enum class Kind { Shared, Replaced, Owned, Value };
    Kind kind = Kind::Shared;
    HKEY root = nullptr;  // HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
    std::wstring key;
    bool hasValue = false;
    std::wstring valueName;  // empty: the default value
    std::wstring data;
};

// Parses the whole script before anything is applied; false on the first malformed line.
bool ParseRegistryScript(std::wstring_view text, const RegistryReplacements& replacements,
                         std::vector<RegistryScriptEntry>& entries);

struct RegistryScriptOptions {
    // Keys under HKCR go to HKCU\Software\Classes instead (registration for one user).
    // Unregistration never creates that key.
    bool perUserClasses = false;
};

// Applies a UTF-8 script. S_OK, or the first failure (nothing is written when the script
// is malformed; what was written before a later failure stays).
HRESULT ApplyRegistryScript(std::string_view utf8, const RegistryReplacements& replacements,
                            RegistryDirection direction, const RegistryScriptOptions& options = {});

// The same for a script stored as a resource of type "REGISTRY" in module.
HRESULT ApplyRegistryScriptResource(HMODULE module, UINT id, const RegistryReplacements& replacements,
                                    RegistryDirection direction, const RegistryScriptOptions& options = {});

}  // namespace tarnwick
