#include "JsonReader.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <stdexcept>

#include "TestSupport.h"

namespace tarnwick::test {

const JsonValue& JsonValue::At(const std::wstring& key) const
{
    for (const auto& [name, value] : members) {
        if (name == key)
            return value;
    }
    throw std::out_of_range("no member \"" + WideToUtf8(key) + "\"");
}

namespace {

class CReader {
public:
    explicit CReader(const std::string& text) : s_(text) {}

    bool Document(JsonValue& value)
    {
        return Value(value) && (Blanks(), at_ == s_.size() || Fail("text after the value"));
    }
    const std::string& error() const { return error_; }

private:
    bool Fail(const char* what)
    {
        if (error_.empty())
            error_ = std::string(what) + " at byte " + std::to_string(at_);
        return false;
    }
    void Blanks()
    {
        while (at_ < s_.size() && std::strchr(" \t\r\n", s_[at_]) && s_[at_] != '\0')
            ++at_;
    }
    bool Take(char c) { return at_ < s_.size() && s_[at_] == c ? (++at_, true) : false; }
    bool Word(const char* word)
    {
        const std::size_t n = std::strlen(word);
        return s_.compare(at_, n, word) == 0 ? (at_ += n, true) : false;
    }
    bool Digits()
    {
        const std::size_t from = at_;
        while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9')
            ++at_;
        return at_ > from;
    }

    bool Value(JsonValue& value)
    {
        Blanks();
        if (at_ >= s_.size())
            return Fail("a value is missing");
        const char c = s_[at_];
        if (c == '{')
            return Object(value);
        if (c == '[')
            return Array(value);
        if (c == '"')
            return value.kind = JsonValue::Kind::String, String(value.text);
        if (Word("null"))
            return value.kind = JsonValue::Kind::Null, true;
        if (Word("true") || Word("false"))
            return value.kind = JsonValue::Kind::Bool, value.boolean = c == 't', true;
        return Number(value);
    }

    bool Number(JsonValue& value)
    {
        const std::size_t from = at_;
        Take('-');
        if (!Take('0') && !Digits())
            return Fail("not a value");
        if (Take('.') && !Digits())
            return Fail("digits must follow the point");
        if ((Take('e') || Take('E')) && (Take('+') || Take('-') || true) && !Digits())
            return Fail("digits must follow the exponent");
        value.kind = JsonValue::Kind::Number;
        value.number = std::strtod(s_.substr(from, at_ - from).c_str(), nullptr);
        return true;
    }

    bool String(std::wstring& out)
    {
        ++at_;            // the opening quote
        std::string run;  // raw UTF-8 since the last escape
        for (;;) {
            if (at_ >= s_.size())
                return Fail("unterminated string");
            const unsigned char c = s_[at_++];
            if (c == '"')
                break;
            if (c < 0x20)
                return Fail("raw control character in a string");
            if (c != '\\') {
                run += char(c);
                continue;
            }
            out += Utf8ToWide(run);
            run.clear();
            if (at_ >= s_.size())
                return Fail("unterminated escape");
            const char e = s_[at_++];
            static const char kSimple[] = "\"\\/bfnrt";
            static const wchar_t kMeaning[] = L"\"\\/\b\f\n\r\t";
            if (const char* found = std::strchr(kSimple, e); found && e) {
                out += kMeaning[found - kSimple];
            } else if (e == 'u' && at_ + 4 <= s_.size() &&
                       s_.substr(at_, 4).find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
                out += wchar_t(std::strtoul(s_.substr(at_, 4).c_str(), nullptr, 16));
                at_ += 4;
            } else {
                return Fail("bad escape");
            }
        }
        out += Utf8ToWide(run);
        return true;
    }

    bool Array(JsonValue& value)
    {
        value.kind = JsonValue::Kind::Array;
        ++at_;
        Blanks();
        if (Take(']'))
            return true;
        do {
            value.items.emplace_back();
            if (!Value(value.items.back()))
                return false;
            Blanks();
        } while (Take(','));
        return Take(']') || Fail("expected , or ]");
    }

    bool Object(JsonValue& value)
    {
        value.kind = JsonValue::Kind::Object;
        ++at_;
        Blanks();
        if (Take('}'))
            return true;
        do {
            Blanks();
            value.members.emplace_back();
            auto& [name, member] = value.members.back();
            if (at_ >= s_.size() || s_[at_] != '"')
                return Fail("expected a member name");
            if (!String(name))
                return false;
            Blanks();
            if (!Take(':'))
                return Fail("expected :");
            if (!Value(member))
                return false;
            Blanks();
        } while (Take(','));
        return Take('}') || Fail("expected , or }");
    }

    const std::string& s_;
    std::size_t at_ = 0;
    std::string error_;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue& value, std::string& error)
{
    CReader reader(text);
    value = JsonValue();
    const bool ok = reader.Document(value);
    error = reader.error();
    return ok;
}

}  // namespace tarnwick::test
