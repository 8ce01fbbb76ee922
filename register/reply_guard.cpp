#include "register/reply_guard.h"

namespace tolmar {

namespace {

constexpr wchar_t kFieldSeparator = L'¤';

bool IsUnsafeChar(wchar_t c) { return c == kFieldSeparator || static_cast<unsigned long>(c) < 0x20; }

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

std::wstring ReplyTooLargeText() {
    return L"Svaret från registret är större än " + std::to_wstring(kMaxReplyBytes / (1024 * 1024)) +
           L" MB och tas inte emot.";
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
