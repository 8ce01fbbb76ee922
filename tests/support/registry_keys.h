// Registry keys as the tests look at them and clean up after them, apart
// from the program's own registry routines (the end-to-end tests run the
// program as it ships). The 32-bit view unless said otherwise.
//
//   ScopedValue     one string value written for a test, removed with the keys made for it
//   RegistrySandbox an AppKey's settings in both roots and views, removed at its end
//   TestAppKey      an AppKey of the test's own, in a sandbox
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolmar::test::reg {

inline constexpr REGSAM kView32 = KEY_WOW64_32KEY;
inline constexpr REGSAM kView64 = KEY_WOW64_64KEY;

// Where the program keeps its settings, one key per working folder (AppKey),
// and the record it leaves when it cannot write to the machine's root.
inline constexpr const wchar_t* kSettingsRoot = L"SOFTWARE\\Norvena\\";
inline constexpr const wchar_t* kMachineWriteErrorKey = L"SOFTWARE\\Norvena\\ERROR_WRITING_TO_LOCAL_MACHINE";

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

namespace tolmar::test {

// One string value, written at once (throws std::runtime_error when it cannot
// be) and removed at the end together with every key made for it.
class ScopedValue {
public:
    ScopedValue(HKEY root, REGSAM view, const std::wstring& keyPath, const std::wstring& name,
                const std::wstring& value);
    ~ScopedValue();
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    HKEY root_;
    REGSAM view_;
    std::wstring keyPath_, name_, made_;
};

// Removes, at its end, SOFTWARE\Norvena\<AppKey> under both roots (both views,
// in case the program wrote to the wrong one), any new key there that names
// the same folder in another spelling (a program that derives the key
// wrongly must not leave it behind), and ERROR_WRITING_TO_LOCAL_MACHINE when
// it was made meanwhile. A key it cannot remove is a test failure.
class RegistrySandbox {
public:
    // `appKey` ends in "\"; `folderName`: the last part of the working folder,
    // which is unique. Without one (no folder could be made) the sandbox
    // touches nothing.
    RegistrySandbox(std::wstring appKey, std::wstring folderName);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    const std::wstring& appKey() const { return appKey_; }
    // SOFTWARE\Norvena\<AppKey> + section, without trailing "\".
    std::wstring KeyPath(std::wstring_view section = {}) const;
    bool MachineWriteErrorExistedBefore() const { return errorKeyBefore_; }

private:
    std::wstring appKey_;
    std::wstring folderName_;
    bool active_ = false;
    bool norvenaBefore_[2][2] = {};  // [root][view]
    std::vector<std::wstring> keysBefore_[2][2];
    bool errorKeyBefore_ = false;
};

// An AppKey of the test's own, unique in the machine, in a sandbox.
class TestAppKey {
public:
    TestAppKey();

    const std::wstring& appKey() const { return sandbox_.appKey(); }  // ends in "\"
    std::wstring KeyPath(std::wstring_view section) const { return sandbox_.KeyPath(section); }

private:
    RegistrySandbox sandbox_;
};

}  // namespace tolmar::test
