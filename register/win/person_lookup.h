// The person lookup: one personal number asked of the register with
// GetPerson and read into caller-owned buffers.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "register/lookup_attempt.h"
#include "register/person_record.h"
#include "register/win/ws_pop_man.h"
#include "register/win/xml_dom.h"

namespace tolmar::win {

class RegisterSession;

// The last answer document of a thread's lookups, or its error text; the
// main thread's is shown by the test mode's XML viewer. Its text is written
// out of the document only when it is asked for: most answers are never
// shown.
struct ReturnedXmlStore {
    ComPtr<IXMLDOMDocument2> document;
    std::optional<std::wstring> errorText;  // set: the last lookup failed
    std::wstring Text() const;
};

// The XML documents of one thread's lookups: the answer store and the
// document that parses the register's replies, each made at its first use
// and reused for the rest of the run. COM objects of the thread that uses
// them: the main thread's belong to the RegisterSession, a worker thread's
// to the worker, made inside the thread's COM initialisation and ended
// before it.
struct LookupDocuments {
    ReturnedXmlStore store;
    ComPtr<IXMLDOMDocument2> parser;
};

// The register settings of "tolmar.ini" (section PopulationManager) in the
// working folder, as every lookup finds it.
struct RegisterSettings {
    std::wstring logId, logPwd, logAddr;
    bool flagOtherArchive = false;  // the FlagOtherArchve value is not "0"
};
RegisterSettings ReadRegisterSettings(const std::wstring& iniFile);

// The settings as last read, for any thread.
class RegisterSettingsCache {
public:
    // The settings of `iniFile`, read again only when the file's size or
    // last-write time (or its existence) changed since the last read, or
    // when that read came so soon after a write that the file system's
    // coarse time stamp could hide a further edit: an edit takes effect at
    // the next lookup. Reading the four values costs far more than a
    // lookup's other work on a fast register.
    RegisterSettings Current(const std::wstring& iniFile);

private:
    struct Stamp {
        bool exists = false;
        unsigned long long size = 0, written = 0;  // bytes; FILETIME ticks
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        std::wstring file;
        Stamp stamp;
        unsigned long long readAt = 0;  // FILETIME ticks
        RegisterSettings settings;
    };
    static Stamp StampOf(const std::wstring& file);

    std::mutex mutex_;
    std::optional<Entry> entry_;
};

// Looks PersonalNumber up on the main thread of `session`. Every buffer is
// caller-owned and holds its field's capacity + 1 characters (see
// person_record.h); values are cut to fit. ReturnCode: 0 found, -359 not
// found, -400 failure with errms set.
void wpm_GetPerson(RegisterSession& session, const wchar_t* PersonalNumber, wchar_t* FirstName,
                   wchar_t* MiddleName, wchar_t* Surname, wchar_t* Address1, wchar_t* Address2, wchar_t* PostNumber,
                   wchar_t* PostTown, wchar_t* Status, wchar_t* Sex, wchar_t* Relation, wchar_t* AllaNamn,
                   std::int32_t& ReturnCode, std::wstring& errms);

// The same with a record: fills every output field of `record` from its
// PersonalNumber. It is AttemptLookup with the session's own documents and
// FinishLookup in one.
void LookUpPerson(RegisterSession& session, PersonRecord& record, std::int32_t& returnCode, std::wstring& errms);

// The lookup itself, on any thread with COM initialised, with that thread's
// documents: the answer, or why it failed, with the error headers of the
// replies recorded in the attempt, not yet taken into the session's strings.
LookupAttempt AttemptLookup(RegisterSession& session, LookupDocuments& documents, const std::wstring& personalNumber);
// Takes an attempt into the session on its main thread as LookUpPerson
// leaves a lookup: the last-error strings, return code, errms, record and
// the main thread's store's error text. Attempts taken in patient order
// read as if made one after another.
void FinishLookup(RegisterSession& session, LookupAttempt& attempt, PersonRecord& record, std::int32_t& returnCode,
                  std::wstring& errms);

}  // namespace tolmar::win
