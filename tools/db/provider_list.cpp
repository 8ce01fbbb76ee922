#include "tools/db/provider_list.h"

#include "tools/text.h"

namespace tolmar::db {
namespace {

constexpr size_t kMaxFileNameLength = 255;
constexpr std::wstring_view kExtension = L".udl";

bool IsDeviceName(std::wstring_view fileName) {
    // The device names count with any extension and with blanks before it.
    std::wstring base(fileName.substr(0, fileName.find(L'.')));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    // COM0-COM9, LPT0-LPT9 and the superscript-digit forms Windows also reserves
    return base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT")) &&
           std::wstring_view(L"0123456789\u00b9\u00b2\u00b3").find(base[3]) != std::wstring_view::npos;
}

}  // namespace

bool SameProviderName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && UpperLocale(a) == UpperLocale(b);
}

std::optional<size_t> FindProviderRow(const std::vector<std::wstring>& rows, std::wstring_view name) {
    for (size_t i = 0; i < rows.size(); ++i)
        if (SameProviderName(rows[i], name)) return i;
    return std::nullopt;
}

RowPaint PaintForRow(bool selected, bool isDefault, Rgb listText, Rgb highlightText) {
    return RowPaint{isDefault ? kDefaultRowText : selected ? highlightText : listText,
                    selected ? kSelectedRowBackground : kRowBackground};
}

std::optional<std::wstring> ProviderNameProblem(std::wstring_view name) {
    const std::wstring fileName = std::wstring(name) + std::wstring(kExtension);
    bool badCharacter = false;
    for (wchar_t c : name)
        if (c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) badCharacter = true;
    if (badCharacter)
        return L"Namnet \"" + std::wstring(name) +
               L"\" kan inte bli ett filnamn: det får inte innehålla något av tecknen "
               L"\\ / : * ? \" < > | eller styrtecken.";
    if (IsDeviceName(fileName))
        return L"Namnet \"" + std::wstring(name) +
               L"\" kan inte bli ett filnamn: CON, PRN, AUX, NUL, COM0–COM9 och LPT0–LPT9 är "
               L"reserverade för enheter i Windows.";
    if (fileName.size() > kMaxFileNameLength)
        return L"Namnet \"" + std::wstring(name) + L"\" är för långt för ett filnamn (högst " +
               std::to_wstring(kMaxFileNameLength - kExtension.size()) + L" tecken).";
    return std::nullopt;
}

}  // namespace tolmar::db
