// Feeds arbitrary bytes, as raw response headers, to the check of a reply's
// framing: it never fails on any input, its refusals are the program's
// texts of bounded length, and a second Content-Length line added to any
// headers is always refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "register/reply_guard.h"
#include "tools/text.h"

using namespace tolmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring headers = FromUtf8(bytes);

    const auto refusal = ReplyFramingRefusal(headers);
    FUZZ_CHECK(refusal == ReplyFramingRefusal(headers));
    if (refusal) {
        FUZZ_CHECK(refusal->rfind(L"Svaret från registret ", 0) == 0);
        FUZZ_CHECK(refusal->size() <= kMaxRegisterTextLength + 200);
    }
    // Without a colon there is no header line, and nothing to refuse but the size.
    if (headers.find(L':') == std::wstring::npos && headers.size() <= kMaxReplyHeaderChars)
        FUZZ_CHECK(!refusal);

    // Whatever came before, two more Content-Length lines are a repeated length.
    const std::wstring doubled = L"HTTP/1.1 200 OK\r\n" + headers + L"\r\nContent-Length: 1\r\ncontent-length :1\r\n\r\n";
    const auto refused = ReplyFramingRefusal(doubled);
    FUZZ_CHECK(refused == (doubled.size() > kMaxReplyHeaderChars ? ReplyHeadersTooLongText() : ReplyLengthRepeatedText()));
    return 0;
}
