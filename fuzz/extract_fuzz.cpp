// Fuzzes ExtractBetweenNoCase. The input is start marker, NUL, end marker,
// NUL, text (read as UTF-8; missing parts are empty).
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "tools/text.h"

using namespace tolmar;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    auto next = [&rest]() {
        const std::size_t nul = rest.find('\0');
        const std::string_view part = rest.substr(0, nul);
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
        return FromUtf8(part);
    };
    const std::wstring start = next();
    const std::wstring end = next();
    const std::wstring text = FromUtf8(rest);

    const std::wstring result = ExtractBetweenNoCase(start, end, text);

    FUZZ_CHECK(result.size() <= text.size());
    if (text.size() < 2 || start.empty() || end.empty()) {
        FUZZ_CHECK(result.empty());
    }

    const std::wstring upText = UpperLocale(text);
    const std::wstring upStart = UpperLocale(start);
    const std::wstring upEnd = UpperLocale(end);
    FUZZ_CHECK(upText.size() == text.size() && upStart.size() == start.size() && upEnd.size() == end.size());

    const std::size_t p = start.empty() ? std::wstring::npos : upText.find(upStart);
    if (text.size() < 2 || p == std::wstring::npos) {
        FUZZ_CHECK(result.empty());
        return 0;
    }
    // The result stands right after the first start marker, in the text's own
    // letter case, and the first end marker after the start marker follows it
    // directly; with no end marker there, the result is empty.
    const std::size_t from = p + start.size();
    const std::size_t q = end.empty() ? std::wstring::npos : upText.find(upEnd, from);
    if (q == std::wstring::npos) {
        FUZZ_CHECK(result.empty());
    } else {
        FUZZ_CHECK(q - from == result.size());
        FUZZ_CHECK(text.compare(from, result.size(), result) == 0);
        FUZZ_CHECK(UpperLocale(result).find(upEnd) == std::wstring::npos);
    }
    // The markers are matched without regard to case.
    FUZZ_CHECK(ExtractBetweenNoCase(upStart, upEnd, text) == result);
    return 0;
}
