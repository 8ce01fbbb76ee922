// Ini-format ("profile") files as administrators write them on Windows
// today. The platform's profile functions read a file without a byte-order
// mark as ANSI; Notepad saves UTF-8 without one, so a password such as
// "hemligtÅÄÖ€" would reach the register as "hemligtÃ…Ã„Ã–â‚¬". A file
// without a mark whose bytes are valid UTF-8 and hold at least one
// non-ASCII byte is therefore read as UTF-8 here, by the same rules as the
// platform's; every other file is left to the platform, as before (a cp1252
// file with "Å" is no valid UTF-8 and keeps its meaning).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolmar {

enum class ProfileEncoding {
    Ansi,     // no byte-order mark, and not UTF-8 with non-ASCII bytes: the platform's code page
    Utf8,     // no byte-order mark, valid UTF-8 with at least one non-ASCII byte
    Marked,   // a UTF-8 or UTF-16 byte-order mark: the platform reads it as it says
};

ProfileEncoding DetectProfileEncoding(std::string_view bytes);

// The value of `key` in `section` of an ini text, as GetPrivateProfileString
// gives it: lines end at CR or LF; blanks around a line are dropped; a line
// "[name]" starts a section (the name as it stands between "[" and the first
// "]", blanks included); in a "name=value" line the blanks before "=" and
// after it are dropped; section and key names are compared without regard
// to case, after dropping blanks around the names asked for; only the first
// section of that name is searched, and its first key of that name counts;
// a value enclosed in a matching pair of ' or " loses the pair. nullopt when
// the section or key is missing, or when that key's line has no "=" (the
// platform then gives the caller's default too).
std::optional<std::wstring> ProfileValue(std::wstring_view text, std::wstring_view section,
                                         std::wstring_view key);

}  // namespace tolmar
