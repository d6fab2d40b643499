#pragma once
// A strict JSON reader for checking what the command-line program prints.

#include <string>
#include <utility>
#include <vector>

namespace tarnwick::test {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::wstring text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::wstring, JsonValue>> members;

    // The member of that name; throws std::out_of_range naming the key when there is none.
    const JsonValue& At(const std::wstring& key) const;
};

// The text (UTF-8) must hold exactly one value with nothing but blanks around it; strings
// must not hold raw control characters. On failure, error says what and where.
bool ParseJson(const std::string& text, JsonValue& value, std::string& error);

}  // namespace tarnwick::test
