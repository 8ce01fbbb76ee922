// A small writer of JSON text (RFC 8259), UTF-8, for the files the program
// writes for other programs to read. Strings are escaped: quotes,
// backslashes and every control character; a character outside the Basic
// Multilingual Plane is written as its four UTF-8 bytes, and a lone
// surrogate (which no UTF-8 can hold) as U+FFFD.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolmar {

// The JSON string literal of `text`, quotes included, in UTF-8.
std::string JsonString(std::wstring_view text);

// One object of named members, written in the order given, two spaces of
// indent, one member a line.
class JsonObject {
public:
    JsonObject& Add(std::string_view name, std::wstring_view text);
    JsonObject& Add(std::string_view name, const wchar_t* text) { return Add(name, std::wstring_view(text)); }
    JsonObject& Add(std::string_view name, const std::wstring& text) { return Add(name, std::wstring_view(text)); }
    JsonObject& Add(std::string_view name, const std::optional<std::wstring>& text);  // nullopt: null
    JsonObject& Add(std::string_view name, std::int64_t number);
    JsonObject& Add(std::string_view name, int number) { return Add(name, static_cast<std::int64_t>(number)); }
    JsonObject& Add(std::string_view name, bool value);
    JsonObject& AddNull(std::string_view name);
    // A member whose value is JSON text already (an array or object made here).
    JsonObject& AddRaw(std::string_view name, std::string_view json);
    // "{", the members, "}" and a line break.
    std::string Text() const;

private:
    void Member(std::string_view name, std::string_view json);
    std::string members_;
};

}  // namespace tolmar
