#include "register/reply_guard.h"

#include <utility>

namespace tolmar {

namespace {

constexpr wchar_t kFieldSeparator = L'¤';

bool IsUnsafeChar(wchar_t c) { return c == kFieldSeparator || static_cast<unsigned long>(c) < 0x20; }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view TrimBlanks(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool SameLetters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y) return false;
    }
    return true;
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

std::optional<std::wstring> ContentLengthRefusal(std::wstring_view value) {
    const std::wstring digits = Trim(value);
    if (digits.empty()) return std::nullopt;
    for (wchar_t c : digits)
        if (c < L'0' || c > L'9')
            return L"Svaret från registret har en ogiltig längd (Content-Length: \"" + CutRegisterText(digits) +
                   L"\") och tas inte emot.";
    const size_t first = digits.find_first_not_of(L'0');
    if (first == std::wstring::npos) return std::nullopt;
    if (digits.size() - first > 12) return ReplyTooLargeText();
    unsigned long long length = 0;
    for (size_t i = first; i < digits.size(); ++i) length = length * 10 + static_cast<unsigned>(digits[i] - L'0');
    if (length > kMaxReplyBytes) return ReplyTooLargeText();
    return std::nullopt;
}

std::optional<std::wstring> ReplyFramingRefusal(std::wstring_view rawHeaders) {
    if (rawHeaders.size() > kMaxReplyHeaderChars) return ReplyHeadersTooLongText();
    std::size_t lengths = 0, encodings = 0;
    std::wstring_view length;
    bool first = true;  // the status line
    while (!rawHeaders.empty()) {
        const std::size_t end = rawHeaders.find(L'\n');
        std::wstring_view line = rawHeaders.substr(0, end);
        rawHeaders.remove_prefix(end == std::wstring_view::npos ? rawHeaders.size() : end + 1);
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        if (std::exchange(first, false)) continue;
        const std::size_t colon = line.find(L':');
        if (colon == std::wstring_view::npos) continue;
        const std::wstring_view name = TrimBlanks(line.substr(0, colon));
        const std::wstring_view value = TrimBlanks(line.substr(colon + 1));
        if (SameLetters(name, L"Content-Length")) {
            ++lengths;
            length = value;
            if (value.find(L',') != std::wstring_view::npos) ++lengths;  // a list is the length given twice
        } else if (SameLetters(name, L"Transfer-Encoding")) {
            ++encodings;
        }
    }
    if (lengths > 1) return ReplyLengthRepeatedText();
    if (lengths == 1 && encodings > 0) return ReplyFramedTwoWaysText();
    if (lengths == 1) return ContentLengthRefusal(length);
    return std::nullopt;
}

std::wstring ReplyTooLargeText() {
    return L"Svaret från registret är större än " + std::to_wstring(kMaxReplyBytes / (1024 * 1024)) +
           L" MB och tas inte emot.";
}

std::wstring ReplyHeadersTooLongText() {
    return L"Svaret från registret har längre rubriker än " + std::to_wstring(kMaxReplyHeaderChars / 1024) +
           L" kB och tas inte emot.";
}

std::wstring ReplyLengthRepeatedText() {
    return L"Svaret från registret anger sin längd mer än en gång (Content-Length) och tas inte emot.";
}

std::wstring ReplyFramedTwoWaysText() {
    return L"Svaret från registret anger sin längd på två sätt (Content-Length och Transfer-Encoding) och tas "
           L"inte emot.";
}

std::wstring ReplyNotUtf8Text(std::size_t badOffset) {
    return L"Svaret från registret är inte giltig UTF-8 (byte " + std::to_wstring(badOffset) +
           L") och tas inte emot.";
}

std::wstring ReplyHasDoctypeText() {
    return L"Svaret från registret innehåller en dokumenttypsdeklaration (DOCTYPE) och tas inte emot.";
}

std::wstring DeadlinePassedText(unsigned long deadlineMs) {
    const unsigned long seconds = (deadlineMs + 999) / 1000;
    return L"Registret svarade inte färdigt inom " + std::to_wstring(seconds) + L" s";
}

}  // namespace tolmar
