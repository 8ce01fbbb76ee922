#include "app/win/jobs.h"

#include <windows.h>
#include <commctrl.h>

#include <chrono>
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

// The main window as the update run uses it. The caption, the counts and
// the progress bar follow the run, but are painted at most every
// kRepaintIntervalMs (and once more at the end): painting them for every
// patient would cost more than the patient's own work.
class WindowRunView final : public UpdateRunView {
public:
    explicit WindowRunView(TolmarForm& form) : form_(form) {}
    ~WindowRunView() override { Show(); }
    WindowRunView(const WindowRunView&) = delete;
    WindowRunView& operator=(const WindowRunView&) = delete;

    void ClearLines() override { form_.ClearProgressList(); }
    void AddLine(std::wstring_view line) override { form_.addText(line); }
    void SetCaption(std::wstring_view caption) override {
        caption_ = caption;
        ShowWhenDue();
    }
    void StartProgress(size_t maximum) override {
        position_ = 0;
        SendMessageW(form_.ProgressBar(), PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
        SendMessageW(form_.ProgressBar(), PBM_SETPOS, 0, 0);
    }
    void StepProgress() override {
        ++position_;
        ShowWhenDue();
    }
    void SetCounts(std::wstring_view text) override {
        counts_ = text;
        ShowWhenDue();
    }
    void ProcessPendingMessages() override { win::ProcessPendingMessages(); }
    void SetHourglass(bool on) override { SetCursor(LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW)); }

private:
    static constexpr auto kRepaintInterval = std::chrono::milliseconds(100);

    void ShowWhenDue() {
        const auto now = std::chrono::steady_clock::now();
        if (now - shown_ < kRepaintInterval) return;
        shown_ = now;
        Show();
    }
    void Show() {
        if (!caption_.empty()) form_.SetCaption(caption_);
        if (!counts_.empty()) form_.SetStatusText(counts_);
        SendMessageW(form_.ProgressBar(), PBM_SETPOS, static_cast<WPARAM>(position_), 0);
    }

    TolmarForm& form_;
    std::wstring caption_, counts_;
    size_t position_ = 0;
    std::chrono::steady_clock::time_point shown_{};
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
