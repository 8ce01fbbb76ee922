#include "tools/settings.h"

#include "tools/error.h"
#include "tools/text.h"

namespace tolmar {

std::wstring Settings::KeyPath(std::wstring_view section) const {
    std::wstring path(kSettingsRoot);
    path += appKey_;
    path += section;
    return path;
}

void Settings::Write(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
    const std::wstring path = KeyPath(section);
    const RegistryWriteResult user = registry_.WriteString(RegRoot::CurrentUser, path, key, value);
    const RegistryWriteResult machine = registry_.WriteString(RegRoot::LocalMachine, path, key, value);
    if (!machine.written && user.written)
        registry_.WriteString(RegRoot::CurrentUser, kMachineWriteErrorKey, kMachineWriteErrorValue, machine.failure);
}

std::wstring Settings::Read(std::wstring_view section, std::wstring_view key) const {
    return ReadDefault(section, key, kMissingSetting);
}

std::wstring Settings::ReadDefault(std::wstring_view section, std::wstring_view key,
                                   std::wstring_view fallback) const {
    const std::wstring path = KeyPath(section);
    std::wstring v = registry_.ReadString(RegRoot::CurrentUser, path, key);
    if (IsBlank(v)) v = registry_.ReadString(RegRoot::LocalMachine, path, key);
    if (IsBlank(v)) v = fallback;
    return v;
}

std::wstring Settings::ReadDefaultStrict(std::wstring_view section, std::wstring_view key,
                                         std::wstring_view fallback) const {
    const std::wstring path = KeyPath(section);
    for (const RegRoot root : {RegRoot::CurrentUser, RegRoot::LocalMachine}) {
        if (registry_.IsTooLong(root, path, key))
            throw Error(L"Inställningen " + std::wstring(key) + L" i " +
                        (root == RegRoot::CurrentUser ? L"HKEY_CURRENT_USER\\" : L"HKEY_LOCAL_MACHINE\\") + path +
                        L" är längre än " + std::to_wstring(kRegistryTextLimit) +
                        L" tecken och kan inte läsas. Rätta den eller ta bort den.");
        const std::wstring v = registry_.ReadString(root, path, key);
        if (!IsBlank(v)) return v;
    }
    return std::wstring(fallback);
}

}  // namespace tolmar
