#include "sql_script.h"

#include <windows.h>

#include <stdexcept>

#include "tools/win/unique.h"
#include "temp_folder.h"
#include "text.h"

namespace tolmar::test {
namespace {

using WineUnixName = char*(CDECL*)(const wchar_t*);
using WineDosName = wchar_t*(CDECL*)(const char*);

// Wine's own exports of kernel32; nullptr on Windows.
template <typename F>
F KernelExport(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// The repository's db/ folder, named by the build (TOLMAR_DB_SCRIPTS).
std::wstring ScriptFolder() {
    const std::string folder = TOLMAR_DB_SCRIPTS;
    if (!folder.empty() && folder[0] == '/') {  // a host path: under Wine
        auto toDos = KernelExport<WineDosName>("wine_get_dos_file_name");
        if (!toDos) throw std::runtime_error("cannot reach the host's folder " + folder);
        win::UniqueHeapMemory dos(toDos(folder.c_str()));
        if (!dos) throw std::runtime_error("no Windows path for " + folder);
        return static_cast<const wchar_t*>(dos.get());
    }
    return FromUtf8(folder);
}

}  // namespace

std::vector<std::wstring> SqlStatements(std::string_view script) {
    std::vector<std::wstring> statements;
    std::string current;
    size_t start = 0;
    while (start <= script.size()) {
        size_t end = script.find('\n', start);
        if (end == std::string_view::npos) end = script.size();
        std::string line(script.substr(start, end - start));
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        const size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line.compare(first, 2, "--") == 0) continue;
        current += line + "\n";
        if (line.back() == ';') {
            current.erase(current.find_last_of(';'));
            statements.push_back(FromUtf8(current));
            current.clear();
        }
    }
    if (current.find_first_not_of(" \n") != std::string::npos) statements.push_back(FromUtf8(current));
    return statements;
}

std::vector<std::wstring> SqlScript(const std::wstring& scriptName) {
    const std::wstring path = ScriptFolder() + scriptName;
    const auto bytes = ReadWholeFile(path);
    if (!bytes) throw std::runtime_error("cannot read " + Utf8(path));
    return SqlStatements(*bytes);
}

std::wstring DriverPath(const std::wstring& windowsPath) {
    auto toUnix = KernelExport<WineUnixName>("wine_get_unix_file_name");
    if (!toUnix) return windowsPath;
    win::UniqueHeapMemory unixName(toUnix(windowsPath.c_str()));
    if (!unixName) throw std::runtime_error("no host path for " + Utf8(windowsPath));
    return FromUtf8(static_cast<const char*>(unixName.get()));
}

}  // namespace tolmar::test
