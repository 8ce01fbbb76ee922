#include "tools/profile_text.h"

#include <algorithm>

#include "tools/text.h"

namespace tolmar {
namespace {

// The profile functions' blanks: white space and the old end-of-file mark.
bool IsProfileSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r' || c == 0x1A;
}

std::wstring_view TrimProfile(std::wstring_view s) {
    while (!s.empty() && IsProfileSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsProfileSpace(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && UpperLocale(a) == UpperLocale(b);
}

}  // namespace

ProfileEncoding DetectProfileEncoding(std::string_view bytes) {
    const auto starts = [bytes](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
    if (starts("\xEF\xBB\xBF") || starts("\xFF\xFE") || starts("\xFE\xFF")) return ProfileEncoding::Marked;
    const bool nonAscii = std::any_of(bytes.begin(), bytes.end(), [](char b) { return (b & 0x80) != 0; });
    if (nonAscii && DecodeUtf8Strict(bytes)) return ProfileEncoding::Utf8;
    return ProfileEncoding::Ansi;
}

std::optional<std::wstring> ProfileValue(std::wstring_view text, std::wstring_view section,
                                         std::wstring_view key) {
    const std::wstring_view wantedSection = TrimProfile(section);
    const std::wstring_view wantedKey = TrimProfile(key);
    bool inSection = false, sectionSeen = false;
    std::size_t next = 0;
    while (next < text.size()) {
        const std::size_t end = text.find_first_of(L"\r\n", next);
        std::wstring_view line = text.substr(next, end == std::wstring_view::npos ? std::wstring_view::npos : end - next);
        next = end == std::wstring_view::npos ? text.size() : end + 1;
        line = TrimProfile(line);
        if (line.empty()) continue;

        if (line.front() == L'[') {
            if (const std::size_t close = line.find(L']'); close != std::wstring_view::npos) {
                if (inSection) return std::nullopt;  // only the first section of that name counts
                inSection = !sectionSeen && SameName(line.substr(1, close - 1), wantedSection);
                sectionSeen = sectionSeen || inSection;
                continue;
            }
            // "[" without "]" is an ordinary line.
        }
        if (!inSection) continue;

        const std::size_t equals = line.find(L'=');
        const std::wstring_view name =
            equals == std::wstring_view::npos ? line : TrimProfile(line.substr(0, equals));
        if (!SameName(name, wantedKey)) continue;
        if (equals == std::wstring_view::npos) return std::nullopt;  // a name without a value: the default
        std::wstring_view value = TrimProfile(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::wstring(value);
    }
    return std::nullopt;
}

}  // namespace tolmar
