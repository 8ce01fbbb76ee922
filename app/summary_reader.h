// What an undo needs from a run folder's "summary.json": the identity of the
// database the run changed. The file is read as anything from outside is:
// bounded, and refused whole unless it is one JSON object (RFC 8259) in
// UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolmar {

inline constexpr std::size_t kMaxSummaryBytes = 1u << 20;

// The top-level member "database": its text, nullopt when it is null or
// missing. Throws Error when the file is larger than kMaxSummaryBytes, is
// not one JSON object, nests deeper than 32, names "database" twice, or
// gives it a value that is neither a string nor null.
std::optional<std::wstring> SummaryDatabase(std::string_view json);

}  // namespace tolmar
