#include "register/reply_guard.h"

namespace tolmar {

namespace {

constexpr wchar_t kFieldSeparator = L'\u00a4';

bool IsUnsafeChar(wchar_t c) { return c == kFieldSeparator || static_cast<unsigned long>(c) < 0x20; }

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

unsigned long LookupDeadlineMs(std::optional<std::string_view> override) {
    if (!override || override->empty() || override->size() > 9) return kLookupDeadlineMs;
    unsigned long value = 0;
    for (char c : *override) {
        if (c < '0' || c > '9') return kLookupDeadlineMs;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value >= 1 && value <= kLookupDeadlineMs ? value : kLookupDeadlineMs;
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
        int extra;
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
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= bytes.size()) return fail(i);
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return fail(i);
            c = (c << 6) | (next & 0x3F);
        }
        Put(out, c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

bool HasDoctype(std::wstring_view xml) {
    constexpr std::wstring_view kDoctype = L"<!DOCTYPE";
    for (std::size_t at = xml.find(L"<!"); at != std::wstring_view::npos; at = xml.find(L"<!", at + 2)) {
        if (xml.size() - at < kDoctype.size()) return false;
        bool same = true;
        for (std::size_t k = 2; k < kDoctype.size() && same; ++k) {
            wchar_t c = xml[at + k];
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
            same = c == kDoctype[k];
        }
        if (same) return true;
    }
    return false;
}

void CleanRegisterValueInPlace(std::wstring& value) {
    for (wchar_t& c : value)
        if (IsUnsafeChar(c)) c = L' ';
}

std::wstring CleanRegisterValue(std::wstring_view value) {
    std::wstring out(value);
    CleanRegisterValueInPlace(out);
    return out;
}

bool IsCleanNumber(std::wstring_view number) {
    for (wchar_t c : number)
        if (IsUnsafeChar(c)) return false;
    return true;
}

std::wstring CutRegisterText(std::wstring_view text) {
    if (text.size() <= kMaxRegisterTextLength) return std::wstring(text);
    std::size_t keep = kMaxRegisterTextLength;
    const wchar_t last = text[keep - 1];
    if (sizeof(wchar_t) == 2 && last >= 0xD800 && last <= 0xDBFF) --keep;  // the pair stays whole or goes
    return std::wstring(text.substr(0, keep)) + std::wstring(kCutMark);
}

std::wstring ReplyTooLargeText() {
    return L"Svaret fr\u00e5n registret \u00e4r st\u00f6rre \u00e4n " + std::to_wstring(kMaxReplyBytes / (1024 * 1024)) +
           L" MB och tas inte emot.";
}

std::wstring ReplyNotUtf8Text(std::size_t badOffset) {
    return L"Svaret fr\u00e5n registret \u00e4r inte giltig UTF-8 (byte " + std::to_wstring(badOffset) +
           L") och tas inte emot.";
}

std::wstring ReplyHasDoctypeText() {
    return L"Svaret fr\u00e5n registret inneh\u00e5ller en dokumenttypsdeklaration (DOCTYPE) och tas inte emot.";
}

std::wstring DeadlinePassedText(unsigned long deadlineMs) {
    const unsigned long seconds = (deadlineMs + 999) / 1000;
    return L"Registret svarade inte f\u00e4rdigt inom " + std::to_wstring(seconds) + L" s";
}

}  // namespace tolmar
