#include "tools/db/connection_identity.h"

#include <cstdint>

#include "tools/text.h"

namespace tolmar {

std::wstring ConnectionIdentity(std::wstring_view connectionString) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (wchar_t c : UpperLocale(connectionString)) {
        hash ^= static_cast<std::uint16_t>(c);
        hash *= 1099511628211ull;
    }
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text(16, L'0');
    for (int i = 15; i >= 0; --i, hash >>= 4) text[static_cast<size_t>(i)] = kHex[hash & 15];
    return text;
}

}  // namespace tolmar
