#include "registry_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "text.h"
#include "tools/win/unique.h"

namespace tolmar::test::reg {

using Key = win::UniqueHkey;

std::optional<Value> Read(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(bytes + sizeof(wchar_t), 0);
    DWORD got = bytes;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &got) != ERROR_SUCCESS)
        return std::nullopt;
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
    // Depth first, each key by its own delete: a key whose access list refuses
    // writing (as a test may make one) goes too, which RegDeleteTreeW leaves.
    for (const std::wstring& name : SubKeyNames(root, path, view)) DeleteTree(root, path + L"\\" + name, view);
    RegDeleteKeyExW(root, path.c_str(), view, 0);
    return !KeyExists(root, path, view);
}

const char* RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    return "HKEY_?";
}

}  // namespace tolmar::test::reg

namespace tolmar::test {

ScopedValue::ScopedValue(HKEY root, REGSAM view, const std::wstring& keyPath, const std::wstring& name,
                         const std::wstring& value)
    : root_(root), view_(view), keyPath_(keyPath), name_(name) {
    for (size_t slash = keyPath.find(L'\\');; slash = keyPath.find(L'\\', slash + 1)) {
        const std::wstring part = keyPath.substr(0, slash);
        if (!reg::KeyExists(root, part, view)) {
            made_ = part;  // the first missing key: everything below it is ours
            break;
        }
        if (slash == std::wstring::npos) break;
    }
    if (!reg::WriteString(root, keyPath, name, value, view)) {
        if (!made_.empty()) reg::DeleteTree(root, made_, view);
        throw std::runtime_error("cannot write " + Utf8(keyPath));
    }
}

ScopedValue::~ScopedValue() {
    if (!made_.empty()) {
        reg::DeleteTree(root_, made_, view_);
        return;
    }
    win::UniqueHkey key;
    if (RegOpenKeyExW(root_, keyPath_.c_str(), 0, KEY_SET_VALUE | view_, key.put()) == ERROR_SUCCESS)
        RegDeleteValueW(key.get(), name_.c_str());
}

namespace {
using namespace reg;

const HKEY kRoots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
constexpr REGSAM kViews[] = {kView32, kView64};
const std::wstring kNorvena = L"SOFTWARE\\Norvena";

// The key-name form of a text: blanks as "_", upper case.
std::wstring KeyForm(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L' ') c = L'_';
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}
}  // namespace

RegistrySandbox::RegistrySandbox(std::wstring appKey, std::wstring folderName)
    : appKey_(std::move(appKey)), folderName_(KeyForm(std::move(folderName))) {
    active_ = !folderName_.empty() && appKey_.size() > 1;
    if (!active_) return;
    for (int r = 0; r < 2; ++r)
        for (int v = 0; v < 2; ++v) {
            norvenaBefore_[r][v] = KeyExists(kRoots[r], kNorvena, kViews[v]);
            keysBefore_[r][v] = SubKeyNames(kRoots[r], kNorvena, kViews[v]);
        }
    errorKeyBefore_ = KeyExists(HKEY_CURRENT_USER, kMachineWriteErrorKey);
}

std::wstring RegistrySandbox::KeyPath(std::wstring_view section) const {
    std::wstring path = kSettingsRoot + appKey_ + std::wstring(section);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

RegistrySandbox::~RegistrySandbox() {
    if (!active_) return;
    const std::wstring own = KeyPath();
    for (int r = 0; r < 2; ++r)
        for (int v = 0; v < 2; ++v) {
            if (!DeleteTree(kRoots[r], own, kViews[v]))
                ADD_FAILURE() << "could not remove " << RootName(kRoots[r]) << "\\" << Utf8(own);
            const auto& before = keysBefore_[r][v];
            for (const auto& name : SubKeyNames(kRoots[r], kNorvena, kViews[v])) {
                const std::wstring form = KeyForm(name);
                const bool sameFolder =
                    form.size() >= folderName_.size() &&
                    form.compare(form.size() - folderName_.size(), folderName_.size(), folderName_) == 0;
                if (sameFolder && std::find(before.begin(), before.end(), name) == before.end())
                    DeleteTree(kRoots[r], kNorvena + L"\\" + name, kViews[v]);
            }
        }
    if (!errorKeyBefore_ && KeyExists(HKEY_CURRENT_USER, kMachineWriteErrorKey))
        DeleteTree(HKEY_CURRENT_USER, kMachineWriteErrorKey);
    // The parent only when this run created it and nothing else lives there.
    for (int r = 0; r < 2; ++r)
        for (int v = 0; v < 2; ++v)
            if (!norvenaBefore_[r][v] && SubKeyNames(kRoots[r], kNorvena, kViews[v]).empty())
                RegDeleteKeyExW(kRoots[r], kNorvena.c_str(), kViews[v], 0);
}

namespace {
std::wstring UniqueAppKeyName() {
    static std::atomic<int> counter{0};
    return L"tolmar_unit_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}
}  // namespace

TestAppKey::TestAppKey()
    : sandbox_([] {
          const std::wstring name = UniqueAppKeyName();
          return RegistrySandbox(name + L"\\", name);
      }()) {}

}  // namespace tolmar::test
