// A data-link file (.udl) as the Data Link Properties dialog saves it:
// UTF-16 with a byte-order mark, the [oledb] section, the comment line and
// "Provider=" followed by the rest of the init string.
#pragma once

#include <string>

namespace tolmar::test {

std::wstring DataLinkText(const std::wstring& afterProvider);

enum class DataLinkFile { Replace, New };
// Writes the file; false when it cannot (or, New, when it is there already).
[[nodiscard]] bool WriteDataLink(const std::wstring& path, const std::wstring& afterProvider,
                                 DataLinkFile how = DataLinkFile::Replace);

}  // namespace tolmar::test
