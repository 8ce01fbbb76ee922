#include "tools/win/environment_win.h"

#include <windows.h>
#include <shlobj.h>

#include "tools/db/connect_database.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/registry.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

std::wstring ExecutableName() {
    std::wstring buffer(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(n);
    return FileNamePart(buffer, kSlashOrColon);
}

// A 260-character directory query; throws `failure` when it yields 0.
template <typename Query>
std::wstring QueryDirectory(Query query, const wchar_t* failure) {
    wchar_t buffer[MAX_PATH] = {};
    UINT n = query(buffer);
    if (n == 0 || n >= MAX_PATH) throw Error(failure);
    return WithTrailingBackslash(std::wstring(buffer, n));
}

std::wstring FullPath(const std::wstring& path) {
    std::wstring full(32768, L'\0');
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    return full;
}

}  // namespace

std::wstring DataLinksFolder() {
    // The suite's 32-bit programs and every existing installation keep their
    // data-link files below the 32-bit Common Files folder ("Program Files
    // (x86)" on 64-bit Windows). Where that folder does not exist (32-bit
    // Windows), the ordinary one is the same place. When neither can be
    // found, the folder stays unknown ("") rather than pointing somewhere
    // arbitrary.
    for (int csidl : {CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROGRAM_FILES_COMMON}) {
        wchar_t common[MAX_PATH + 1] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, common)) && common[0])
            return WithTrailingBackslash(common) + L"System\\Ole DB\\Data Links\\";
    }
    return {};
}

std::wstring PathInStoredCase(const std::wstring& path) {
    // Keep the root ("C:\" or "\\server\share\") as given; look every later
    // component up to learn its stored spelling.
    size_t start = 0;
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        start = 3;
    } else if (path.rfind(L"\\\\", 0) == 0) {
        size_t server = path.find(L'\\', 2);
        size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
        if (share == std::wstring::npos) return path;
        start = share + 1;
    } else {
        return path;
    }
    std::wstring out = path.substr(0, start);
    size_t pos = start;
    while (pos < path.size()) {
        size_t next = path.find(L'\\', pos);
        std::wstring component = path.substr(pos, next == std::wstring::npos ? std::wstring::npos : next - pos);
        WIN32_FIND_DATAW data;
        UniqueFind find(FindFirstFileW((out + component).c_str(), &data));
        out += find ? std::wstring(data.cFileName) : component;
        if (next == std::wstring::npos) break;
        out += L'\\';
        pos = next + 1;
    }
    return out;
}

bool GetSpecialFolderPath(int csidl, std::wstring& path) {
    path.clear();
    LPITEMIDLIST pidl = nullptr;
    SHGetSpecialFolderLocation(nullptr, csidl, &pidl);
    UniqueCoTaskMem owner(pidl);
    wchar_t buffer[MAX_PATH] = {};
    if (pidl && SHGetPathFromIDListW(pidl, buffer)) path = buffer;
    return !path.empty();
}

void InitEnvironment(Environment& env) {
    // AppPath: the working folder (not the executable's), as the file system spells it.
    wchar_t current[MAX_PATH] = {};
    DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
    if (n == 0 || n >= MAX_PATH) throw Error(L"Unable to get Current path");
    std::wstring candidate = WithTrailingBackslash(current) + ExecutableName();
    wchar_t full[32768] = {};
    DWORD fullLength = GetFullPathNameW(candidate.c_str(), 32768, full, nullptr);
    if (fullLength > 0 && fullLength < 32768) candidate = full;
    env.appPath = WithTrailingBackslash(PathInStoredCase(FolderPart(candidate, kSlashOrColon)));
    env.appKey = AppKeyFromAppPath(env.appPath);

    env.windowsPath = QueryDirectory([](wchar_t* b) { return GetWindowsDirectoryW(b, MAX_PATH); },
                                     L"Unable to get Windows path");
    env.systemPath = QueryDirectory([](wchar_t* b) { return GetSystemDirectoryW(b, MAX_PATH); },
                                    L"Unable to get System32 path");

    env.dataLinksPath = DataLinksFolder();

    env.providerPart.clear();
    const FileProbe exists = [](const std::wstring& p) { return FileExists(p); };
    env.dataProviderFile =
        DataProviderFromSetting(ReadSetting(env, db::kDataProviderSection, db::kDefaultProviderKey), env.dataLinksPath, exists);
    env.dataProviderFile =
        DataProviderFromParameters(env.dataProviderFile, StartParameters(), env.appPath, env.dataLinksPath, exists);
    // A data-link file named relative to the working folder is read from
    // there: the ini reader would otherwise look a bare name up in the
    // Windows folder and read some other file, or none.
    if (FileExists(env.dataProviderFile)) env.dataProviderFile = FullPath(env.dataProviderFile);
    if (FileExists(env.dataProviderFile))
        env.providerPart = ProviderPartFromIni(ReadIniValue(env.dataProviderFile, L"oledb", L"Provider"));

    // The suite's data folder; any failure here leaves it empty, silently.
    env.suiteDataPath.clear();
    try {
        std::wstring appData;
        if (GetSpecialFolderPath(CSIDL_APPDATA, appData)) {
            std::wstring suite = WithTrailingBackslash(appData) + L"Norvena\\Norvena Suite\\";
            int rc = DirectoryExists(suite) ? ERROR_SUCCESS : SHCreateDirectoryExW(nullptr, suite.c_str(), nullptr);
            if (rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS) env.suiteDataPath = suite;
        }
    } catch (...) {
        env.suiteDataPath.clear();
    }
}

}  // namespace tolmar::win
