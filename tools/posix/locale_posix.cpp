// Locale-dependent case mapping for the native (non-Windows) build of the
// portable core, character by character (the length never changes, as on
// Windows). Uses a UTF-8 locale of its own so the result does not depend on
// the process's global locale.
#include <locale.h>
#include <wctype.h>

#include "tools/text.h"

namespace tolmar {
namespace {

locale_t CaseLocale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return locale;
}

}  // namespace

std::wstring UpperLocale(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), CaseLocale()));
    return out;
}

std::wstring LowerLocale(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), CaseLocale()));
    return out;
}

}  // namespace tolmar
