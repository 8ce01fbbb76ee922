#include "tools/file_mask.h"

#include <string>

#include "tools/text.h"

namespace tolmar {

bool LongNameFitsMask(std::wstring_view name, std::wstring_view mask) {
    if (mask == L"*" || mask == L"*.*") return true;
    const std::wstring n = UpperLocale(name), m = UpperLocale(mask);
    // Greedy matching with one back-track point: the last "*" seen.
    size_t i = 0, j = 0, star = std::wstring::npos, resume = 0;
    while (i < n.size()) {
        if (j < m.size() && (m[j] == L'?' || (m[j] != L'*' && m[j] == n[i]))) {
            ++i;
            ++j;
        } else if (j < m.size() && m[j] == L'*') {
            star = j++;
            resume = i;
        } else if (star != std::wstring::npos) {
            j = star + 1;
            i = ++resume;
        } else {
            return false;
        }
    }
    while (j < m.size() && m[j] == L'*') ++j;
    return j == m.size();
}

}  // namespace tolmar
