#include "app/notification.h"

namespace tolmar {

std::wstring NotificationRecord(std::wstring_view number, const PersonRecord& p) {
    std::wstring record;
    for (std::wstring_view field : {number, std::wstring_view(p.FirstName), std::wstring_view(p.Surname),
                                    std::wstring_view(p.Address2), std::wstring_view(p.Address1),
                                    std::wstring_view(p.PostNumber), std::wstring_view(p.PostTown),
                                    std::wstring_view(p.Status), std::wstring_view(p.Sex)}) {
        // A field is its buffer's text up to the first NUL.
        record += field.substr(0, field.find(L'\0'));
        record += kFieldSeparator;
    }
    return record;
}

std::wstring NotFoundText(std::wstring_view number) {
    return L"Kunde inte hitta någon person med personnummer " + std::wstring(number) + L"!";
}

std::wstring LookupFailedText(int returnCode, std::wstring_view errms) {
    return L"Ett fel uppstod vid sökning av person!\r\rFel: " + std::to_wstring(returnCode) + L"\r" +
           std::wstring(errms);
}

}  // namespace tolmar
