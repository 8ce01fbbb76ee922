#include "registry_keys.h"

#include "tools/win/unique.h"

namespace tolmar::test::reg {

using Key = win::UniqueHkey;

std::optional<Value> Read(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return std::nullopt;
    std::vector<BYTE> data(bytes + sizeof(wchar_t), 0);
    DWORD got = bytes;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &got) != ERROR_SUCCESS) return std::nullopt;
    Value v;
    v.type = type;
    v.bytes = got;
    v.text.assign(reinterpret_cast<const wchar_t*>(data.data()), got / sizeof(wchar_t));
    if (const size_t nul = v.text.find(L'\0'); nul != std::wstring::npos) v.text.resize(nul);
    return v;
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    Key key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> SubKeyNames(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> names;
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | view, key.put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

bool WriteString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                 REGSAM view) {
    Key key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool DeleteTree(HKEY root, const std::wstring& path, REGSAM view) {
    {
        Key key;
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WRITE | DELETE | view, key.put()) != ERROR_SUCCESS)
            return !KeyExists(root, path, view);
        RegDeleteTreeW(key.get(), nullptr);
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
    return !KeyExists(root, path, view);
}

const char* RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    return "HKEY_?";
}

}  // namespace tolmar::test::reg
