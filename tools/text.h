// Small text routines shared by every part of the program. Texts are wide
// strings; positions in comments count from 1 as the users of these routines
// think of them, the code itself uses the standard 0-based offsets.
#pragma once

#include <optional>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolmar {

// True for characters the program treats as blank: codes up to U+0020.
constexpr bool IsBlankChar(wchar_t c) { return static_cast<unsigned long>(c) <= 0x20; }

// Empty or made only of blank characters.
bool IsBlank(std::wstring_view text);

// The text without leading and trailing blank characters.
std::wstring Trim(std::wstring_view text);

// Upper-cases with the user's locale rules; the length never changes.
// Implemented per platform (tools/win, tools/posix).
std::wstring UpperLocale(std::wstring_view text);

// Lower-cases with the user's locale rules; the length never changes.
std::wstring LowerLocale(std::wstring_view text);

// The text between the first startMarker and the first endMarker after it
// (case-sensitive). No start marker: "". No end marker: the whole rest.
std::wstring ExtractBetween(std::wstring_view text, std::wstring_view startMarker,
                            std::wstring_view endMarker);

// Like ExtractBetween, but the markers are found without regard to case and a
// missing end marker gives "". Texts of fewer than two characters give "".
// Note the argument order: markers first, text last.
std::wstring ExtractBetweenNoCase(std::wstring_view startMarker, std::wstring_view endMarker,
                                  std::wstring_view text);

// " " + trimmed line, for every line in order; an empty list gives "".
std::wstring JoinTrimmedLines(const std::vector<std::wstring>& lines);

// Sets name=value in an OLE DB style connection string. `name` carries its
// "=" ("User ID="). An existing pair is replaced up to its ";" (or the end);
// a missing pair is appended with ";" unless value is empty.
void SetConnectionStringValue(std::wstring& connectionString, std::wstring_view name,
                              std::wstring_view value);

// The characters a path is split at, for the three kinds of path the
// program takes apart: a data-link setting or file ("\" and a drive's ":"),
// the program's own module path (also "/"), a journal path ("\" and "/").
inline constexpr std::wstring_view kBackslashOrColon = L"\\:";
inline constexpr std::wstring_view kSlashOrColon = L"\\/:";
inline constexpr std::wstring_view kSlash = L"\\/";

// The file-name part of a path: what follows the last of `separators` (the
// whole path when it holds none).
std::wstring FileNamePart(std::wstring_view path, std::wstring_view separators);

// The folder part of a path: up to and with the last of `separators` (""
// when it holds none).
std::wstring FolderPart(std::wstring_view path, std::wstring_view separators);

// Replaces every occurrence of `from` by `to` (from must not be empty).
std::wstring ReplaceAll(std::wstring_view text, std::wstring_view from, std::wstring_view to);

// Conversions between UTF-8 and wide text (invalid sequences become U+FFFD).
std::string ToUtf8(std::wstring_view text);
// One code point's UTF-8 bytes added to `out` (a surrogate or a value past
// U+10FFFF as U+FFFD).
void AppendUtf8(std::string& out, char32_t codePoint);
std::wstring FromUtf8(std::string_view text);

// Strict UTF-8: the decoded text, or nullopt for any byte sequence that is
// not UTF-8 (a stray continuation byte, a truncated or overlong sequence, an
// encoded surrogate, a code point above U+10FFFF, the bytes C0, C1, F5-FF).
// On failure `badOffset` (when given) gets the offset of the first bad byte.
std::optional<std::wstring> DecodeUtf8Strict(std::string_view bytes, std::size_t* badOffset = nullptr);

}  // namespace tolmar
