// The environment of one program start: where the program works, the
// registry key of this installation, the data-link folder and the data-link
// file in use. Filled once by InitEnvironment (tools/win/environment_win.h)
// at start-up; the program's session owns it and hands it to whatever needs
// it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tolmar {

struct Environment {
    std::wstring appPath;           // current directory at start-up, trailing "\"
    std::wstring appKey;            // registry sub-key derived from appPath, trailing "\"
    std::wstring windowsPath;       // trailing "\"
    std::wstring systemPath;        // trailing "\"
    std::wstring dataLinksPath;     // 32-bit Common Files + "System\Ole DB\Data Links\"
    std::wstring dataProviderFile;  // the data-link file in use; may not exist
    std::wstring providerPart;      // "Provider=" + the file's initialisation string
    std::wstring suiteDataPath;     // application data + "Norvena\Norvena Suite\", or ""
};

using FileProbe = std::function<bool(const std::wstring&)>;

std::wstring WithTrailingBackslash(std::wstring_view path);

// "D:\Apps\Suite 2\" -> "D_Apps_Suite_2\"; "C:\" -> "C\".
std::wstring AppKeyFromAppPath(std::wstring_view appPath);

// The data-link file named by the "DataProvider"/"DefaultDataProvider"
// setting: the setting itself when such a file exists, else the file of that
// name in the data-link folder (which need not exist).
std::wstring DataProviderFromSetting(std::wstring_view setting, std::wstring_view dataLinksPath,
                                     const FileProbe& exists);

// Start parameters that contain ".UDL" (any case) name a data-link file: as
// given, in the working folder, or in the data-link folder, whichever exists
// first. The last one that resolves wins; none leaves `current`.
std::wstring DataProviderFromParameters(std::wstring current,
                                        const std::vector<std::wstring>& parameters,
                                        std::wstring_view appPath, std::wstring_view dataLinksPath,
                                        const FileProbe& exists);

// ProviderPart as read from a data-link file: "Provider=" + its oledb/Provider value.
inline std::wstring ProviderPartFromIni(std::wstring_view providerValue) {
    return L"Provider=" + std::wstring(providerValue);
}

}  // namespace tolmar
