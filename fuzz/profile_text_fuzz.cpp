// Feeds arbitrary bytes, as an ini-format settings file, to the program's
// own reading of files saved as UTF-8 without a byte-order mark, and checks
// what must hold for any file.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "tools/profile_text.h"
#include "tools/text.h"

using namespace tolmar;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ProfileEncoding encoding = DetectProfileEncoding(bytes);
    // Only a file that decodes whole is ever read as UTF-8.
    if (encoding == ProfileEncoding::Utf8) FUZZ_CHECK(DecodeUtf8Strict(bytes).has_value());
    const std::wstring text = FromUtf8(bytes);
    for (std::wstring_view section : {L"PopulationManager", L"oledb", L""}) {
        for (std::wstring_view key : {L"LOG_PWD", L"Provider", L"x"}) {
            const std::optional<std::wstring> value = ProfileValue(text, section, key);
            if (!value) continue;
            // A value is one line's text, as it stands in the file.
            FUZZ_CHECK(value->find_first_of(L"\r\n") == std::wstring::npos);
            FUZZ_CHECK(text.find(*value) != std::wstring::npos);
            // Reading is a pure function of the text.
            FUZZ_CHECK(ProfileValue(text, section, key) == value);
        }
    }
    return 0;
}
