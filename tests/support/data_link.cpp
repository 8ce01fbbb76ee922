#include "data_link.h"

#include <windows.h>

#include "tools/win/unique.h"

namespace tolmar::test {

std::wstring DataLinkText(const std::wstring& afterProvider) {
    return L"\ufeff[oledb]\r\n; Everything after this line is an OLE DB initstring\r\nProvider=" + afterProvider +
           L"\r\n";
}

bool WriteDataLink(const std::wstring& path, const std::wstring& afterProvider, DataLinkFile how) {
    const std::wstring text = DataLinkText(afterProvider);
    const win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                           how == DataLinkFile::New ? CREATE_NEW : CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    return ::WriteFile(file.get(), text.data(), bytes, &written, nullptr) && written == bytes;
}

}  // namespace tolmar::test
