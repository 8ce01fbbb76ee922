// The display scale the program finds when it starts: the per-user setting
// HKCU\Control Panel\Desktop\LogPixels (96 is 100 %, 144 is 150 %). Wine
// reads it when a process starts (the wineserver need not restart), so a
// program started while a ScreenScale lives runs at that DPI; Windows reads
// it at the next sign-in, so there the tests' own processes keep theirs.
#pragma once

#include <windows.h>

#include <optional>

namespace e2e {

// Sets LogPixels for its lifetime and puts back what was there before (the
// value, or no value) at its end, also when the test fails.
class ScreenScale {
public:
    explicit ScreenScale(DWORD dpi);
    ~ScreenScale();
    ScreenScale(const ScreenScale&) = delete;
    ScreenScale& operator=(const ScreenScale&) = delete;

    bool ok() const { return ok_; }

    // The value now stored; nullopt when there is none.
    static std::optional<DWORD> Stored();

private:
    std::optional<DWORD> before_;
    bool ok_ = false;
};

}  // namespace e2e
