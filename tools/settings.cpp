#include "tools/settings.h"

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
    const bool userOk = registry_.WriteString(RegRoot::CurrentUser, path, key, value);
    const bool machineOk = registry_.WriteString(RegRoot::LocalMachine, path, key, value);
    if (!machineOk && userOk)
        registry_.WriteString(RegRoot::CurrentUser, kMachineWriteErrorKey, kMachineWriteErrorValue,
                              registry_.LastError());
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

}  // namespace tolmar
