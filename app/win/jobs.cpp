#include "app/win/jobs.h"

#include "app/notification.h"
#include "app/win/host_notification.h"
#include "app/win/main_form.h"
#include "app/win/test_form.h"
#include "register/person_record.h"
#include "register/win/person_lookup.h"
#include "tools/error.h"
#include "tools/win/messages_win.h"

namespace tolmar::win {

void LookUpPersonForHost(TolmarForm& form, const std::wstring& number) {
    PersonRecord person;
    person.PersonalNumber = number;
    std::int32_t returnCode = ReturnCode::Failure;
    std::wstring errms;
    LookUpPerson(person, returnCode, errms);
    if (returnCode == ReturnCode::NotFound) {
        ShowInfo(NotFoundText(number));
    } else if (returnCode != ReturnCode::Found) {
        ShowInfo(LookupFailedText(returnCode, errms));
    } else {
        form.SetCaption(L"Uppdaterar...");
        const UINT message = RegisterWindowMessageW(std::wstring(kUpdateActivePatientMessage).c_str());
        if (message == 0)
            ShowInfo(kNoRegisteredMessageText);
        else
            NotifyHostApplication(3, static_cast<WORD>(message), 0, NotificationRecord(number, person));
    }
}

void RunTestMode(TolmarForm&) { ShowTestForm(ApplicationWindow()); }

// The update run is not part of this build yet; it says so plainly instead
// of pretending to work.

void UpdateAllPatients(TolmarForm&) {
    throw Error(L"Uppdatering av patientregistret finns inte i den h\u00e4r versionen av programmet.");
}

}  // namespace tolmar::win
