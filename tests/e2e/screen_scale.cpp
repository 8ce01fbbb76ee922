#include "screen_scale.h"

#include "tools/win/unique.h"

namespace e2e {
namespace {

constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";
constexpr const wchar_t* kLogPixels = L"LogPixels";

bool Write(const std::optional<DWORD>& value) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const tolmar::win::UniqueHkey key(raw);
    if (!value) {
        const LSTATUS status = RegDeleteValueW(key.get(), kLogPixels);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExW(key.get(), kLogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*value), sizeof(DWORD)) ==
           ERROR_SUCCESS;
}

}  // namespace

std::optional<DWORD> ScreenScale::Stored() {
    DWORD value = 0, size = sizeof(value), type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, kLogPixels, RRF_RT_REG_DWORD, &type, &value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

ScreenScale::ScreenScale(DWORD dpi) : before_(Stored()) { ok_ = Write(dpi); }

ScreenScale::~ScreenScale() { Write(before_); }

}  // namespace e2e
