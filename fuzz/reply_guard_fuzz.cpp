// Feeds arbitrary bytes to the guards on the register's replies: strict
// UTF-8 decoding, the DOCTYPE refusal, the size check's companion (the cut
// of error texts) and the cleaning of values, each against a plain model.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "register/reply_guard.h"
#include "tools/text.h"

using namespace tolmar;

namespace {

bool IsUnsafe(wchar_t c) { return c == L'¤' || static_cast<unsigned long>(c) < 0x20; }

// "<!DOCTYPE" with its letters in any case, the slow way.
bool ModelHasDoctype(std::wstring_view text) {
    std::wstring upper(text);
    for (wchar_t& c : upper)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return upper.find(L"<!DOCTYPE") != std::wstring::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    std::size_t bad = size + 1;
    const auto strict = DecodeUtf8Strict(bytes, &bad);
    if (strict) {
        // Valid UTF-8 comes back byte for byte, and the lenient decoder agrees.
        FUZZ_CHECK(ToUtf8(*strict) == bytes);
        FUZZ_CHECK(FromUtf8(bytes) == *strict);
        FUZZ_CHECK(bad == size + 1);  // untouched on success
    } else {
        // The offset names the first bad sequence: everything before it is UTF-8.
        FUZZ_CHECK(bad < size);
        FUZZ_CHECK(DecodeUtf8Strict(bytes.substr(0, bad)).has_value());
        FUZZ_CHECK(!DecodeUtf8Strict(bytes.substr(bad)).has_value());
    }

    // The same bytes as text, whatever they are, for the text guards.
    const std::wstring text = strict ? *strict : FromUtf8(bytes);
    FUZZ_CHECK(HasDoctype(text) == ModelHasDoctype(text));

    const std::wstring clean = CleanRegisterValue(text);
    FUZZ_CHECK(clean.size() == text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        FUZZ_CHECK(!IsUnsafe(clean[i]));
        FUZZ_CHECK(clean[i] == (IsUnsafe(text[i]) ? L' ' : text[i]));
    }
    FUZZ_CHECK(IsCleanNumber(text) == (clean == text));

    // Long inputs are made by repetition so that the cut is reached.
    std::wstring longText;
    while (!text.empty() && longText.size() <= kMaxRegisterTextLength) longText += text;
    for (const std::wstring* t : {&text, static_cast<const std::wstring*>(&longText)}) {
        const std::wstring cut = CutRegisterText(*t);
        if (t->size() <= kMaxRegisterTextLength) {
            FUZZ_CHECK(cut == *t);
        } else {
            FUZZ_CHECK(cut.size() <= kMaxRegisterTextLength + kCutMark.size());
            FUZZ_CHECK(cut.size() >= kMaxRegisterTextLength - 1 + kCutMark.size());
            const std::size_t kept = cut.size() - kCutMark.size();
            FUZZ_CHECK(t->compare(0, kept, cut, 0, kept) == 0);
            FUZZ_CHECK(std::wstring_view(cut).substr(kept) == kCutMark);
        }
    }
    return 0;
}
