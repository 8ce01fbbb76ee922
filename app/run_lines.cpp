#include "app/run_lines.h"

#include "tools/text.h"

namespace tolmar {

std::wstring RunLines::BoxLine(std::wstring_view text) { return ReplaceAll(text, L"\r", L" "); }

}  // namespace tolmar
