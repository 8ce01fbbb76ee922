#include "tools/text.h"

namespace tolmar {

bool IsBlank(std::wstring_view text) {
    for (wchar_t c : text)
        if (!IsBlankChar(c)) return false;
    return true;
}

std::wstring Trim(std::wstring_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlankChar(text[b])) ++b;
    while (e > b && IsBlankChar(text[e - 1])) --e;
    return std::wstring(text.substr(b, e - b));
}

namespace {
// First occurrence of a non-empty needle; an empty needle or haystack finds nothing.
size_t Find(std::wstring_view hay, std::wstring_view needle) {
    if (needle.empty() || hay.empty()) return std::wstring_view::npos;
    return hay.find(needle);
}
}  // namespace

std::wstring ExtractBetween(std::wstring_view text, std::wstring_view startMarker,
                            std::wstring_view endMarker) {
    size_t p = Find(text, startMarker);
    if (p == std::wstring_view::npos) return {};
    std::wstring_view tail = text.substr(p + startMarker.size());
    size_t q = Find(tail, endMarker);
    if (q == std::wstring_view::npos) return std::wstring(tail);
    return std::wstring(tail.substr(0, q));
}

std::wstring ExtractBetweenNoCase(std::wstring_view startMarker, std::wstring_view endMarker,
                                  std::wstring_view text) {
    if (text.size() < 2) return {};
    // Upper-casing keeps the length, so offsets in the upper-cased text are
    // offsets in the original.
    const std::wstring upText = UpperLocale(text);
    size_t p = Find(upText, UpperLocale(startMarker));
    if (p == std::wstring::npos) return {};
    const size_t tailStart = p + startMarker.size();
    std::wstring_view upTail = std::wstring_view(upText).substr(tailStart);
    size_t q = Find(upTail, UpperLocale(endMarker));
    if (q == std::wstring_view::npos) return {};
    return std::wstring(text.substr(tailStart, q));
}

std::wstring JoinTrimmedLines(const std::vector<std::wstring>& lines) {
    std::wstring result;
    for (const auto& line : lines) {
        result += L' ';
        result += Trim(line);
    }
    return result;
}

void SetConnectionStringValue(std::wstring& cs, std::wstring_view name, std::wstring_view value) {
    size_t p = Find(cs, name);
    if (p != std::wstring::npos) {
        size_t q = cs.find(L';', p);
        std::wstring after = q == std::wstring::npos ? std::wstring() : cs.substr(q);
        cs = cs.substr(0, p) + std::wstring(name) + std::wstring(value) + after;
    } else if (!value.empty()) {
        cs += L';';
        cs += name;
        cs += value;
    }
}

std::wstring FileNamePart(std::wstring_view path, std::wstring_view separators) {
    const size_t cut = path.find_last_of(separators);
    return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

std::wstring FolderPart(std::wstring_view path, std::wstring_view separators) {
    const size_t cut = path.find_last_of(separators);
    return cut == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, cut + 1));
}

std::wstring ReplaceAll(std::wstring_view text, std::wstring_view from, std::wstring_view to) {
    std::wstring out;
    size_t pos = 0;
    for (;;) {
        size_t hit = text.find(from, pos);
        if (from.empty() || hit == std::wstring_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

void AppendUtf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                char32_t lo = static_cast<char32_t>(text[i + 1]);
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                    ++i;
                }
            }
        }
        AppendUtf8(out, c);
    }
    return out;
}

namespace {

// Appends a code point, as a surrogate pair where wchar_t has 16 bits.
void Put(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

}  // namespace

std::wstring FromUtf8(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    size_t i = 0;
    auto put = [&out](char32_t c) { Put(out, c); };
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        size_t extra;
        char32_t c;
        if (b < 0x80) { extra = 0; c = b; }
        else if ((b & 0xE0) == 0xC0) { extra = 1; c = b & 0x1F; }
        else if ((b & 0xF0) == 0xE0) { extra = 2; c = b & 0x0F; }
        else if ((b & 0xF8) == 0xF0) { extra = 3; c = b & 0x07; }
        else { put(0xFFFD); ++i; continue; }
        bool ok = true;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        if (!ok) { put(0xFFFD); ++i; continue; }
        constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        put(c);
        i += extra + 1;
    }
    return out;
}

std::optional<std::wstring> DecodeUtf8Strict(std::string_view bytes, std::size_t* badOffset) {
    std::wstring out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    const auto fail = [&](std::size_t at) -> std::optional<std::wstring> {
        if (badOffset) *badOffset = at;
        return std::nullopt;
    };
    while (i < bytes.size()) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        std::size_t extra;
        char32_t c;
        // The second byte's range rules out overlong forms, surrogates and
        // code points above U+10FFFF (RFC 3629's table).
        unsigned char low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            c = b & 0x0F;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            c = b & 0x07;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        } else {
            return fail(i);
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if (i + k >= bytes.size()) return fail(i);
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return fail(i);
            c = (c << 6) | (next & 0x3F);
        }
        Put(out, c);
        i += extra + 1;
    }
    return out;
}

}  // namespace tolmar
