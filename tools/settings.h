// Settings: text values in the registry, one set per installation, under
// "SOFTWARE\Norvena\" + AppKey + section. Every write goes to the per-user and
// to the machine-wide copy; every read prefers the per-user copy.
#pragma once

#include <string>
#include <string_view>

namespace tolmar {

enum class RegRoot { CurrentUser, LocalMachine };

// Registry keys, value names and values hold at most this many characters.
inline constexpr size_t kRegistryTextLimit = 1024;

inline constexpr std::wstring_view kSettingsRoot = L"SOFTWARE\\Norvena\\";
inline constexpr std::wstring_view kMachineWriteErrorKey =
    L"SOFTWARE\\Norvena\\ERROR_WRITING_TO_LOCAL_MACHINE";
inline constexpr std::wstring_view kMachineWriteErrorValue = L"ErrorMsg";
inline constexpr std::wstring_view kMissingSetting = L"ERROR";

// The update run's section and keys, as every installation stores them.
inline constexpr std::wstring_view kTolmarSection = L"Tolmar";
inline constexpr std::wstring_view kKunderSqlKey = L"KunderSQL";            // the run's patient list
inline constexpr std::wstring_view kKunderSqlOrgKey = L"KunderSQLOrg";      // reference: every patient
inline constexpr std::wstring_view kKunderSqlAktivaKey = L"KunderSQLAktiva";  // reference: active patients

// What one registry write did: written, or not and the system's text for
// why ("" when the value was refused before the registry was asked). The
// caller decides what a refusal means.
struct RegistryWriteResult {
    bool written = false;
    std::wstring failure;
};

// The registry as the settings see it. The Windows implementation lives in
// tools/win/registry.*; tests use an in-memory one.
class RegistryAccess {
public:
    virtual ~RegistryAccess() = default;
    // Stores a REG_SZ value, creating the key and its parents; a key that
    // cannot be created or a value that cannot be written is a result, not an
    // exception. Throws Error only when the program cannot prepare the access
    // list for a new machine-wide key (a fault of the machine, never a refusal).
    virtual RegistryWriteResult WriteString(RegRoot root, std::wstring_view keyPath, std::wstring_view valueName,
                                            std::wstring_view value) = 0;
    // The stored text, or "" when the key or value cannot be read.
    virtual std::wstring ReadString(RegRoot root, std::wstring_view keyPath,
                                    std::wstring_view valueName) = 0;
    // Whether the value exists but holds more than kRegistryTextLimit
    // characters, so that ReadString gives "" for it.
    virtual bool IsTooLong(RegRoot root, std::wstring_view keyPath, std::wstring_view valueName) = 0;
};

class Settings {
public:
    Settings(RegistryAccess& registry, std::wstring appKey)
        : registry_(registry), appKey_(std::move(appKey)) {}

    std::wstring KeyPath(std::wstring_view section) const;

    // Writes both copies; a failed machine-wide write after a good per-user
    // write is recorded (its system text) under ERROR_WRITING_TO_LOCAL_MACHINE.
    // Never reports.
    void Write(std::wstring_view section, std::wstring_view key, std::wstring_view value);
    // The stored text, not trimmed; "ERROR" when no non-blank value is stored.
    std::wstring Read(std::wstring_view section, std::wstring_view key) const;
    // As Read, with `fallback` in place of "ERROR".
    std::wstring ReadDefault(std::wstring_view section, std::wstring_view key,
                             std::wstring_view fallback) const;
    // As ReadDefault, but a copy that is stored and cannot be read (longer
    // than the limit) is an Error, never taken for an absent value: for
    // settings whose fallback would do something else than the stored text.
    std::wstring ReadDefaultStrict(std::wstring_view section, std::wstring_view key,
                                   std::wstring_view fallback) const;

private:
    RegistryAccess& registry_;
    std::wstring appKey_;
};

}  // namespace tolmar
