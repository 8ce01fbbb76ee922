#include "register/person_record.h"

namespace tolmar {

std::wstring_view CutToCapacity(std::wstring_view value, std::size_t capacity) {
    if (value.size() <= capacity) return value;
    const auto isHigh = [](wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    const auto isLow = [](wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    // The character at the cut and the one before it, read through the tail
    // so that no index can pass the end.
    const std::wstring_view tail = value.substr(capacity > 0 ? capacity - 1 : 0, 2);
    if (capacity > 0 && tail.size() == 2 && isHigh(tail[0]) && isLow(tail[1])) return value.substr(0, capacity - 1);
    return value.substr(0, capacity);
}

}  // namespace tolmar
