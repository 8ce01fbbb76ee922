#include "tools/json_writer.h"

#include "tools/text.h"

namespace tolmar {

std::string JsonString(std::wstring_view text) {
    std::wstring escaped;
    escaped.reserve(text.size() + 2);
    escaped += L'"';
    for (const wchar_t c : text) {
        switch (c) {
            case L'"': escaped += L"\\\""; break;
            case L'\\': escaped += L"\\\\"; break;
            case L'\b': escaped += L"\\b"; break;
            case L'\f': escaped += L"\\f"; break;
            case L'\n': escaped += L"\\n"; break;
            case L'\r': escaped += L"\\r"; break;
            case L'\t': escaped += L"\\t"; break;
            default:
                // Control characters, and DEL and the C1 controls, which some
                // readers show as nothing or choke on: as \u escapes.
                if (static_cast<std::uint32_t>(c) < 0x20 ||
                    (static_cast<std::uint32_t>(c) >= 0x7F && static_cast<std::uint32_t>(c) < 0xA0)) {
                    static constexpr wchar_t kHex[] = L"0123456789abcdef";
                    const auto u = static_cast<std::uint32_t>(c);
                    escaped += L"\\u00";
                    escaped += kHex[(u >> 4) & 0xF];
                    escaped += kHex[u & 0xF];
                } else {
                    escaped += c;
                }
        }
    }
    escaped += L'"';
    return ToUtf8(escaped);  // pairs become one code point; a lone surrogate U+FFFD
}

void JsonObject::Member(std::string_view name, std::string_view json) {
    members_ += members_.empty() ? "  " : ",\r\n  ";
    members_ += JsonString(FromUtf8(name));
    members_ += ": ";
    members_ += json;
}

JsonObject& JsonObject::Add(std::string_view name, std::wstring_view text) {
    Member(name, JsonString(text));
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, const std::optional<std::wstring>& text) {
    Member(name, text ? JsonString(*text) : "null");
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, std::int64_t number) {
    Member(name, std::to_string(number));
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, bool value) {
    Member(name, value ? "true" : "false");
    return *this;
}

JsonObject& JsonObject::AddNull(std::string_view name) {
    Member(name, "null");
    return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view name, std::string_view json) {
    Member(name, json);
    return *this;
}

std::string JsonObject::Text() const {
    if (members_.empty()) return "{}\r\n";
    return "{\r\n" + members_ + "\r\n}\r\n";
}

}  // namespace tolmar
