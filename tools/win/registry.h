// The registry side of the settings. Every key is opened in the 32-bit view
// of the registry: the installations this program replaces were 32-bit
// processes, so their machine-wide settings live there.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "tools/environment.h"
#include "tools/settings.h"

namespace tolmar::win {

inline constexpr REGSAM kRegistryView = KEY_WOW64_32KEY;

// Stores value as REG_SZ under root\keyPath\valueName, creating missing keys.
// Machine-wide keys that it creates get an explicit DACL: full control for
// Administrators and SYSTEM, read and write of values and sub-keys for every
// authenticated user, so that any user can update the settings later without
// being able to take the key over. Throws Error when that descriptor cannot
// be prepared. Texts longer than 1024 characters are refused (not written,
// no system text). When the key cannot be created with that DACL, it is
// created without; the failure text is then the first attempt's.
RegistryWriteResult WriteRegistryString(HKEY root, std::wstring_view keyPath, std::wstring_view valueName,
                                        std::wstring_view value);

// The stored text up to 1024 characters; "" when the key or value cannot be
// read or the value is longer.
std::wstring ReadRegistryString(HKEY root, std::wstring_view keyPath, std::wstring_view valueName);

// Whether the value exists and holds more than 1024 characters.
bool RegistryValueTooLong(HKEY root, std::wstring_view keyPath, std::wstring_view valueName);

// The security attributes given to machine-wide keys that the program
// creates: an explicit DACL granting full control to Administrators and
// SYSTEM and KEY_READ | KEY_WRITE (no WRITE_DAC, no WRITE_OWNER) to every
// authenticated user, inherited by sub-keys. Throws Error with the
// "Unable to initialize security descriptor..." or "Unable to set security
// descriptor dacl..." text when a step fails.
class MachineKeySecurity {
public:
    MachineKeySecurity();
    MachineKeySecurity(const MachineKeySecurity&) = delete;
    MachineKeySecurity& operator=(const MachineKeySecurity&) = delete;

    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    bool BuildAcl();

    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    std::vector<std::array<BYTE, SECURITY_MAX_SID_SIZE>> sids_;
    std::vector<BYTE> acl_;
};

// The registry as the portable settings code sees it.
class WindowsRegistry final : public RegistryAccess {
public:
    RegistryWriteResult WriteString(RegRoot root, std::wstring_view keyPath, std::wstring_view valueName,
                                    std::wstring_view value) override;
    std::wstring ReadString(RegRoot root, std::wstring_view keyPath,
                            std::wstring_view valueName) override;
    bool IsTooLong(RegRoot root, std::wstring_view keyPath, std::wstring_view valueName) override;
};

}  // namespace tolmar::win

namespace tolmar {

// The program's settings, under the AppKey of the running installation.
void WriteSetting(const Environment& env, std::wstring_view section, std::wstring_view key, std::wstring_view value);
std::wstring ReadSetting(const Environment& env, std::wstring_view section, std::wstring_view key);
std::wstring ReadSettingDefault(const Environment& env, std::wstring_view section, std::wstring_view key,
                                std::wstring_view fallback);

// A value of an ini-format file, whole; "" when the file, section or key is
// missing. A value too long to read whole (over a million characters) is an
// Error naming the file, never a cut value. A bare file name is looked up in
// the Windows folder, as GetPrivateProfileStringW does. A file without a
// byte-order mark whose bytes are UTF-8 is read as UTF-8 (win::IniFile).
std::wstring ReadIniValue(const std::wstring& fileName, const std::wstring& section,
                          const std::wstring& key);

}  // namespace tolmar
