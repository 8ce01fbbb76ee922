#include "app/win/errors_file.h"

#include <windows.h>

#include "app/dispatch.h"
#include "tools/error.h"
#include "tools/win/system_text.h"
#include "tools/win/unique.h"

namespace tolmar::win {

std::wstring ShortDateToday() {
    wchar_t buffer[128] = {};
    int n = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, buffer, 128, nullptr);
    ThrowLastErrorIf(n <= 0, L"Dagens datum kunde inte formateras: ");
    return buffer;
}

std::wstring WriteErrorsFile(const std::wstring& appPath, const std::vector<std::wstring>& lines) {
    const std::wstring path = ErrorsFileName(appPath, ShortDateToday());
    const std::wstring text = ErrorsFileText(lines);
    std::string bytes;
    if (!text.empty()) {
        int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
        bytes.resize(static_cast<size_t>(size));
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                            nullptr, nullptr);
    }
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    const bool wrote = file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    ThrowLastErrorIf(!wrote, [&] { return L"Felfilen " + path + L" kunde inte skrivas: "; });
    return path;
}

}  // namespace tolmar::win
