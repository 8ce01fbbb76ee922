// What an administrator sees under the program file's Properties, Details:
// the version resource carries the project's one version number.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"
#include "tolmar_version.h"

namespace {

using namespace e2e;

struct VersionInfo {
    VS_FIXEDFILEINFO fixed{};
    std::vector<std::uint8_t> block;

    std::wstring String(const wchar_t* name) const {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\041D04B0\\") + name;
        if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || value == nullptr || length == 0) return {};
        return std::wstring(static_cast<const wchar_t*>(value), length - 1);
    }
};

std::optional<VersionInfo> ReadVersionInfo(const std::wstring& file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    VersionInfo info;
    info.block.resize(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, info.block.data())) return std::nullopt;
    void* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.block.data(), L"\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
    info.fixed = *static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return info;
}

TEST(Version, TheProgramFileCarriesTheProjectVersion) {
    const std::wstring exe = TolmarExePath();
    const auto info = ReadVersionInfo(exe);
    ASSERT_TRUE(info) << "no version resource in " << Utf8(exe);

    const DWORD ms = (DWORD(TOLMAR_VERSION_MAJOR) << 16) | DWORD(TOLMAR_VERSION_MINOR);
    const DWORD ls = DWORD(TOLMAR_VERSION_PATCH) << 16;
    EXPECT_EQ(info->fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info->fixed.dwFileVersionMS, ms);
    EXPECT_EQ(info->fixed.dwFileVersionLS, ls);
    EXPECT_EQ(info->fixed.dwProductVersionMS, ms);
    EXPECT_EQ(info->fixed.dwProductVersionLS, ls);
    EXPECT_EQ(info->fixed.dwFileType, DWORD(VFT_APP));

    EXPECT_EQ(info->String(L"FileVersion"), TOLMAR_VERSION_WTEXT);
    EXPECT_EQ(info->String(L"ProductVersion"), TOLMAR_VERSION_WTEXT);
    EXPECT_EQ(info->String(L"ProductName"), L"Tolmar");
    EXPECT_EQ(info->String(L"CompanyName"), L"Norvena AB");
    EXPECT_EQ(info->String(L"OriginalFilename"), L"tolmar07.exe");
    EXPECT_FALSE(info->String(L"FileDescription").empty());
}

}  // namespace
