#include "register/win/person_lookup.h"

#include <windows.h>

#include <exception>
#include <mutex>
#include <optional>
#include <vector>

#include "register/endpoint_text.h"
#include "register/person_answer.h"
#include "register/reply_guard.h"
#include "register/soap_headers.h"
#include "register/soap_request.h"
#include "register/win/register_session.h"
#include "register/win/ws_pop_man.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/win/ini_file.h"

namespace tolmar::win {
namespace {

ULONGLONG Ticks(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

ULONGLONG Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

LastErrorTexts TextsOf(const LastErrorStrings& e) {
    return {e.LastErrorModule, e.LastErrorFunction, e.LastErrorDescription};
}

}  // namespace

std::wstring ReturnedXmlStore::Text() const {
    if (errorText) return *errorText;
    return document ? XmlOf(document.get()) : std::wstring();
}

RegisterSettings ReadRegisterSettings(const std::wstring& iniFile) {
    // Written with Notepad the file may be UTF-8 without a mark: IniFile reads
    // it as such, so that a password with "Å" reaches the register unchanged.
    const IniFile file(iniFile);
    const std::wstring section = L"PopulationManager";
    RegisterSettings s;
    s.logId = file.Value(section, L"LOG_ID");
    s.logPwd = file.Value(section, L"LOG_PWD");
    s.logAddr = file.Value(section, L"LOG_ADDR");
    s.flagOtherArchive = file.Value(section, L"FlagOtherArchve", L"0") != L"0";
    // LOG_UNIT, LOG_SP, LOG_WKS, LOG_SERV and LOG_CLI belong to the file but change nothing here.
    return s;
}

// What identifies one version of the settings file: its size and last-write
// time, or its absence.
RegisterSettingsCache::Stamp RegisterSettingsCache::StampOf(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return {};
    return {true, (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, Ticks(data.ftLastWriteTime)};
}

RegisterSettings RegisterSettingsCache::Current(const std::wstring& iniFile) {
    // A file system stamps a write with a coarse clock (a tick of several
    // ms, seconds on some shares): an edit of the same size in the same tick
    // as the read would look unchanged. The values are therefore taken from
    // the cache only once the file's last write lies safely before the read
    // that filled it.
    constexpr ULONGLONG kSettledTicks = 2ull * 10'000'000;  // 2 s in 100 ns units
    const Stamp stamp = StampOf(iniFile);
    std::lock_guard lock(mutex_);
    if (entry_ && entry_->file == iniFile && entry_->stamp == stamp &&
        (!stamp.exists || (entry_->readAt > stamp.written && entry_->readAt - stamp.written >= kSettledTicks)))
        return entry_->settings;
    const ULONGLONG readAt = Now();
    // The system keeps its own copy of a profile file, renewed only when the
    // last-write time changes (Wine's does): flushed, so that an edit of
    // another size in the same tick is read too.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, iniFile.c_str());
    RegisterSettings settings = ReadRegisterSettings(iniFile);
    // The file may have changed while it was read: keep the stamp seen before.
    entry_ = Entry{iniFile, stamp, readAt, settings};
    return settings;
}

LookupAttempt AttemptLookup(RegisterSession& session, LookupDocuments& documents, const std::wstring& personalNumber) {
    PersonRecord asked;
    asked.PersonalNumber = personalNumber;  // cut to its field as the caller's buffer would be

    LookupAttempt attempt;
    std::wstring workingText;
    try {
        const RegisterSettings settings = session.settings().Current(session.environment().appPath + L"tolmar.ini");
        Login login;
        login.SetUserName(settings.logId);
        login.SetPassword(settings.logPwd);
        std::unique_ptr<WsPopManSoap> proxy =
            GetWsPopManSoap(session.http(), documents.parser, attempt.lastErrors, false, settings.logAddr);
        if (!proxy) throw Error(L"Registrets tjänst kunde inte nås på " + MaskedEndpoint(settings.logAddr));
        std::wstring R = proxy->GetPerson(login, asked.PersonalNumber.str(), settings.flagOtherArchive);
        workingText = R;

        // The store's one document (this thread's) lives for the whole run;
        // each answer replaces its content.
        ReturnedXmlStore& store = documents.store;
        if (!store.document) store.document = NewXmlDocument();
        std::wstring reason;
        // The answer document is the register's too: no DTD reaches the parser.
        if (HasDoctype(R)) throw Error(ReplyHasDoctypeText());
        if (R.empty()) {
            store.document = NewXmlDocument();  // an empty answer leaves an empty document
        } else if (!LoadXmlText(store.document.get(), R, reason)) {
            throw Error(CutRegisterText(reason));
        }
        store.errorText.reset();

        PersonAnswer answer = ReadPersonAnswer(std::move(R), asked.PersonalNumber.str(), workingText);
        if (answer.ReturnCode == ReturnCode::Failure) throw Error(answer.failure);
        attempt.returnCode = answer.ReturnCode;
        if (attempt.returnCode == ReturnCode::Found) attempt.record = std::move(answer.Record);
    } catch (const std::exception& e) {
        attempt.returnCode = ReturnCode::Failure;
        attempt.failure = MessageOf(e);
        attempt.workingText = std::move(workingText);
        attempt.registerUnreachable = dynamic_cast<const RegisterUnreachable*>(&e) != nullptr;
    }
    return attempt;
}

void FinishLookup(RegisterSession& session, LookupAttempt& attempt, PersonRecord& record, std::int32_t& returnCode,
                  std::wstring& errms) {
    // The headers count from here on, as if the lookup had been made now.
    attempt.lastErrors.ApplyTo(session.lastErrors());
    const BoundedText<kSexCapacity> sex = record.Sex;  // written only by a successful read
    const auto number = record.PersonalNumber;
    record = PersonRecord{};
    record.PersonalNumber = number;
    record.Sex = sex;
    returnCode = attempt.returnCode;
    if (returnCode == ReturnCode::Found) {
        record = std::move(attempt.record);
        record.PersonalNumber = number;
    } else if (returnCode == ReturnCode::Failure) {
        const LastErrorTexts lastErrors = TextsOf(session.lastErrors());
        errms = ComposeErrms(attempt.failure, lastErrors);
        session.documents().store.errorText = ComposeStoreErrorText(attempt.workingText, attempt.failure, lastErrors);
    }
}

void LookUpPerson(RegisterSession& session, PersonRecord& record, std::int32_t& returnCode, std::wstring& errms) {
    LookupAttempt attempt = AttemptLookup(session, session.documents(), record.PersonalNumber.str());
    FinishLookup(session, attempt, record, returnCode, errms);
}

void wpm_GetPerson(RegisterSession& session, const wchar_t* PersonalNumber, wchar_t* FirstName,
                   wchar_t* MiddleName, wchar_t* Surname, wchar_t* Address1, wchar_t* Address2, wchar_t* PostNumber,
                   wchar_t* PostTown, wchar_t* Status, wchar_t* Sex, wchar_t* Relation, wchar_t* AllaNamn,
                   std::int32_t& ReturnCode, std::wstring& errms) {
    const PersonBuffers buffers{const_cast<wchar_t*>(PersonalNumber), FirstName, MiddleName, Surname, Address1,
                                Address2, PostNumber, PostTown, Status, Sex, Relation, AllaNamn};
    ClearLookupOutputs(buffers);
    PersonRecord record;
    record.PersonalNumber.AssignFromBuffer(PersonalNumber);
    record.Sex.AssignFromBuffer(Sex);
    LookUpPerson(session, record, ReturnCode, errms);
    if (ReturnCode == tolmar::ReturnCode::Found) CopyLookupOutputs(record, buffers);
}

}  // namespace tolmar::win
