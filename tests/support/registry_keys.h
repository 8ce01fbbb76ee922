// Registry keys as the tests look at them and clean up after them, apart
// from the program's own registry routines (the end-to-end tests run the
// program as it ships). The 32-bit view unless said otherwise.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tolmar::test::reg {

inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

struct Value {
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    std::wstring text;  // the data as UTF-16, up to its first NUL
};
std::optional<Value> Read(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view = kView32);
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = kView32);
std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& path, REGSAM view = kView32);
bool WriteString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                 REGSAM view = kView32);
// Deletes a key with everything below it; true when it is gone afterwards.
bool DeleteTree(HKEY root, const std::wstring& path, REGSAM view = kView32);
const char* RootName(HKEY root);

}  // namespace tolmar::test::reg
