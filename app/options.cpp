#include "app/options.h"

#include "tools/text.h"

namespace tolmar {

bool IsOptionParameter(std::wstring_view parameter) { return parameter.starts_with(L'/'); }

StartOptions ParseStartOptions(const std::vector<std::wstring>& parameters) {
    StartOptions options;
    bool undoSeen = false;
    for (size_t i = 1; i < parameters.size(); ++i) {
        const std::wstring& p = parameters[i];
        if (!IsOptionParameter(p)) continue;
        const size_t colon = p.find(L':');
        const std::wstring name = UpperLocale(p.substr(1, colon == std::wstring::npos ? std::wstring::npos : colon - 1));
        const std::optional<std::wstring> value =
            colon == std::wstring::npos ? std::nullopt : std::optional<std::wstring>(p.substr(colon + 1));
        if (name == L"PREVIEW" && !value) {
            options.preview = true;
        } else if (name == L"UNATTENDED" && !value) {
            options.unattended = true;
        } else if (name == L"UNDO") {
            if (!value || Trim(*value).empty() || undoSeen)
                options.malformed.push_back(p);
            else
                options.undoFile = Trim(*value);
            undoSeen = true;
        } else if (name == L"PREVIEW" || name == L"UNATTENDED") {
            options.malformed.push_back(p);  // these take no value
        } else {
            options.unknown.push_back(p);
        }
    }
    return options;
}

}  // namespace tolmar
