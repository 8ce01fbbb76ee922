#include "tools/environment.h"

#include "tools/text.h"

namespace tolmar {

std::wstring WithTrailingBackslash(std::wstring_view path) {
    std::wstring out(path);
    if (out.empty() || out.back() != L'\\') out += L'\\';
    return out;
}

std::wstring AppKeyFromAppPath(std::wstring_view appPath) {
    std::wstring key(appPath);
    if (!key.empty() && key.back() == L'\\') key.pop_back();
    key = ReplaceAll(key, L" ", L"_");
    key = ReplaceAll(key, L"\\", L"_");
    key = ReplaceAll(key, L":", L"");
    key += L'\\';
    return key;
}

std::wstring DataProviderFromSetting(std::wstring_view setting, std::wstring_view dataLinksPath,
                                     const FileProbe& exists) {
    std::wstring file(setting);
    if (!exists(file)) file = std::wstring(dataLinksPath) + std::wstring(setting);
    return file;
}

std::wstring DataProviderFromParameters(std::wstring current,
                                        const std::vector<std::wstring>& parameters,
                                        std::wstring_view appPath, std::wstring_view dataLinksPath,
                                        const FileProbe& exists) {
    for (const auto& p : parameters) {
        // An option ("/name" or "/name:value") is never a data-link file,
        // whatever its value holds.
        if (p.starts_with(L'/')) continue;
        if (UpperLocale(p).find(L".UDL") == std::wstring::npos) continue;
        const std::wstring inApp = std::wstring(appPath) + p;
        const std::wstring inLinks = std::wstring(dataLinksPath) + p;
        if (exists(p))
            current = p;
        else if (exists(inApp))
            current = inApp;
        else if (exists(inLinks))
            current = inLinks;
    }
    return current;
}

}  // namespace tolmar
