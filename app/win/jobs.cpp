#include "app/win/jobs.h"

#include <windows.h>
#include <commctrl.h>

#include <optional>

#include "app/notification.h"
#include "app/update_run.h"
#include "app/win/db/odbc_patient_database.h"
#include "app/win/host_notification.h"
#include "app/win/main_form.h"
#include "app/win/test_form.h"
#include "register/person_record.h"
#include "register/win/person_lookup.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/settings.h"
#include "tools/win/db/connect_database_win.h"
#include "tools/win/registry.h"
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

namespace {

// The main window as the update run uses it.
class WindowRunView final : public UpdateRunView {
public:
    explicit WindowRunView(TolmarForm& form) : form_(form) {}
    void ClearLines() override { form_.ClearProgressList(); }
    void AddLine(std::wstring_view line) override { form_.addText(line); }
    void SetCaption(std::wstring_view caption) override { form_.SetCaption(caption); }
    void StartProgress(size_t maximum) override {
        SendMessageW(form_.ProgressBar(), PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
        SendMessageW(form_.ProgressBar(), PBM_SETPOS, 0, 0);
    }
    void StepProgress() override { SendMessageW(form_.ProgressBar(), PBM_DELTAPOS, 1, 0); }
    void SetCounts(std::wstring_view text) override { form_.SetStatusText(text); }
    void ProcessPendingMessages() override { win::ProcessPendingMessages(); }
    void SetHourglass(bool on) override { SetCursor(LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW)); }

private:
    TolmarForm& form_;
};

class RegisterLookup final : public PersonLookup {
public:
    void LookUp(PersonRecord& person, std::int32_t& returnCode, std::wstring& errms) override {
        LookUpPerson(person, returnCode, errms);
    }
};

}  // namespace

void UpdateAllPatients(TolmarForm& form) {
    WindowRunView view(form);
    OdbcPatientDatabase database;
    RegisterLookup lookup;
    WindowsRegistry registry;
    Settings settings(registry, Env().appKey);
    UpdateRunContext context{view, database, lookup, settings,
                             []() -> std::optional<PreparedConnection> {
                                 if (!ConnectDatabase(L"", L"")) return std::nullopt;
                                 const auto& login = DBConnection();
                                 return PreparedConnection{Env().providerPart, login.ServerName, login.Databasename,
                                                           login.Username};
                             },
                             [](const std::wstring& oleDb) { return OdbcConnectionString(oleDb); }};
    RunUpdateAll(context);
}

}  // namespace tolmar::win
