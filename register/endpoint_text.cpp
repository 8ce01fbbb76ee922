#include "register/endpoint_text.h"

#include <algorithm>

namespace tolmar {

std::wstring MaskedEndpoint(std::wstring_view url) {
    const std::size_t scheme = url.find(L"://");
    const std::size_t start = scheme == std::wstring_view::npos ? 0 : scheme + 3;
    const std::size_t end = std::min(url.find_first_of(L"/?#", start), url.size());
    const std::wstring_view authority = url.substr(start, end - start);
    const std::size_t at = authority.rfind(L'@');
    if (at == std::wstring_view::npos) return std::wstring(url);
    const std::size_t colon = authority.substr(0, at).find(L':');
    if (colon == std::wstring_view::npos) return std::wstring(url);
    return std::wstring(url.substr(0, start + colon + 1)) + L"***" + std::wstring(url.substr(start + at));
}

}  // namespace tolmar
