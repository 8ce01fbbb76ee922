#include "tools/win/registry.h"

#include <array>
#include <optional>
#include <cstdio>
#include <vector>

#include "tools/environment.h"
#include "tools/error.h"
#include "tools/win/ini_file.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"

namespace tolmar::win {
namespace {

std::wstring Formatted(const wchar_t* format, DWORD code) {
    wchar_t buffer[128];
    std::swprintf(buffer, 128, format, static_cast<int>(code));
    return buffer;
}

HKEY RootHandle(RegRoot root) {
    return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

}  // namespace

MachineKeySecurity::MachineKeySecurity() {
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION))
        throw Error(Formatted(L"Unable to initialize security descriptor. Windows error=%d", GetLastError()));
    if (!BuildAcl() ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_.data()), FALSE))
        throw Error(Formatted(L"Unable to set security descriptor dacl. Windows error=%d", GetLastError()));
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = TRUE;
}

bool MachineKeySecurity::BuildAcl() {
    struct Grant {
        WELL_KNOWN_SID_TYPE who;
        DWORD rights;
    };
    const Grant grants[] = {
        {WinBuiltinAdministratorsSid, KEY_ALL_ACCESS},
        {WinLocalSystemSid, KEY_ALL_ACCESS},
        {WinAuthenticatedUserSid, KEY_READ | KEY_WRITE},  // no WRITE_DAC, no WRITE_OWNER
    };
    DWORD size = sizeof(ACL);
    sids_.resize(std::size(grants));
    for (size_t i = 0; i < std::size(grants); ++i) {
        DWORD sidSize = static_cast<DWORD>(sids_[i].size());
        if (!CreateWellKnownSid(grants[i].who, nullptr, sids_[i].data(), &sidSize)) return false;
        size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + GetLengthSid(sids_[i].data());
    }
    size = (size + 3) & ~3u;
    acl_.assign(size, 0);
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, size, ACL_REVISION)) return false;
    for (size_t i = 0; i < std::size(grants); ++i)
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, grants[i].rights,
                                   sids_[i].data()))
            return false;
    return true;
}

RegistryWriteResult WriteRegistryString(HKEY root, std::wstring_view keyPath, std::wstring_view valueName,
                                        std::wstring_view value) {
    if (keyPath.size() > kRegistryTextLimit || valueName.size() > kRegistryTextLimit ||
        value.size() > kRegistryTextLimit)
        return {};
    const std::wstring path(keyPath), name(valueName), data(value);

    std::optional<MachineKeySecurity> security;
    if (root == HKEY_LOCAL_MACHINE) security.emplace();
    SECURITY_ATTRIBUTES* attributes = security ? security->attributes() : nullptr;

    const REGSAM access = KEY_READ | KEY_WRITE | kRegistryView;
    UniqueHkey key;
    LONG rc = RegCreateKeyExW(root, path.c_str(), 0, const_cast<wchar_t*>(L""), REG_OPTION_NON_VOLATILE,
                              access, attributes, key.put(), nullptr);
    std::wstring creationFailure;
    if (rc != ERROR_SUCCESS) {
        creationFailure = SystemErrorText(static_cast<DWORD>(rc));
        rc = RegCreateKeyExW(root, path.c_str(), 0, const_cast<wchar_t*>(L""), REG_OPTION_NON_VOLATILE,
                             access, nullptr, key.put(), nullptr);
        if (rc != ERROR_SUCCESS) return {false, creationFailure};
    }
    rc = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (rc == ERROR_SUCCESS) return {true, {}};
    return {false, creationFailure.empty() ? SystemErrorText(static_cast<DWORD>(rc)) : creationFailure};
}

std::wstring ReadRegistryString(HKEY root, std::wstring_view keyPath, std::wstring_view valueName) {
    const std::wstring path(keyPath), name(valueName);
    UniqueHkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | kRegistryView, key.put()) != ERROR_SUCCESS)
        return {};
    std::vector<wchar_t> buffer(kRegistryTextLimit + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), name.empty() ? nullptr : name.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer.data()), &bytes) != ERROR_SUCCESS)
        return {};
    buffer.back() = L'\0';
    return std::wstring(buffer.data());
}

bool RegistryValueTooLong(HKEY root, std::wstring_view keyPath, std::wstring_view valueName) {
    const std::wstring path(keyPath), name(valueName);
    UniqueHkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | kRegistryView, key.put()) != ERROR_SUCCESS) return false;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), name.empty() ? nullptr : name.c_str(), nullptr, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
        return false;
    // The stored size counts the terminating zero, when there is one.
    return bytes > (kRegistryTextLimit + 1) * sizeof(wchar_t);
}

RegistryWriteResult WindowsRegistry::WriteString(RegRoot root, std::wstring_view keyPath, std::wstring_view valueName,
                                  std::wstring_view value) {
    return WriteRegistryString(RootHandle(root), keyPath, valueName, value);
}

std::wstring WindowsRegistry::ReadString(RegRoot root, std::wstring_view keyPath,
                                         std::wstring_view valueName) {
    return ReadRegistryString(RootHandle(root), keyPath, valueName);
}

bool WindowsRegistry::IsTooLong(RegRoot root, std::wstring_view keyPath, std::wstring_view valueName) {
    return RegistryValueTooLong(RootHandle(root), keyPath, valueName);
}

}  // namespace tolmar::win

namespace tolmar {
void WriteSetting(const Environment& env, std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    win::WindowsRegistry registry;
    Settings(registry, env.appKey).Write(section, key, value);
}

std::wstring ReadSetting(const Environment& env, std::wstring_view section, std::wstring_view key) {
    win::WindowsRegistry registry;
    return Settings(registry, env.appKey).Read(section, key);
}

std::wstring ReadSettingDefault(const Environment& env, std::wstring_view section, std::wstring_view key,
                                std::wstring_view fallback) {
    win::WindowsRegistry registry;
    return Settings(registry, env.appKey).ReadDefault(section, key, fallback);
}

std::wstring ReadIniValue(const std::wstring& fileName, const std::wstring& section,
                          const std::wstring& key) {
    return win::IniFile(fileName).Value(section, key);
}

}  // namespace tolmar
