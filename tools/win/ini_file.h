// An ini-format file, read once, with the values the platform's profile
// functions give, except that a file without a byte-order mark whose bytes
// are UTF-8 is read as UTF-8 (as Notepad saves it; see tools/profile_text.h).
#pragma once

#include <optional>
#include <string>

namespace tolmar::win {

class IniFile {
public:
    // A bare file name is looked up in the Windows folder, as the profile
    // functions do. A file that cannot be read here (missing, locked, over
    // kMaxOwnReadBytes) is left to the platform as it is.
    explicit IniFile(std::wstring fileName);

    // The value of `key` in `section`; `fallback` when the file, section or
    // key is missing. A value too long to read whole (over a million
    // characters) is an Error naming the file, never a cut value.
    std::wstring Value(const std::wstring& section, const std::wstring& key, const std::wstring& fallback = {}) const;

    // The largest file read here; larger ones are the platform's to read.
    static constexpr unsigned long kMaxOwnReadBytes = 8ul * 1024ul * 1024ul;

private:
    std::wstring fileName_;
    std::optional<std::wstring> utf8Text_;  // set when the file is UTF-8 without a mark
};

}  // namespace tolmar::win
