// The person lookup: one personal number asked of the register with
// GetPerson and read into caller-owned buffers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "register/lookup_attempt.h"
#include "register/person_record.h"
#include "register/win/ws_pop_man.h"
#include "register/win/xml_dom.h"

namespace tolmar::win {

// The last answer document of any lookup on the calling thread, or its error
// text; the main thread's is shown by the test mode's XML viewer.
// Its text is written out of the document only when it is asked for: most
// answers are never shown.
struct ReturnedXmlStore {
    ComPtr<IXMLDOMDocument2> document;
    std::optional<std::wstring> errorText;  // set: the last lookup failed
    std::wstring Text() const;
};
ReturnedXmlStore& XmlStore();

// A worker thread's own store and reply parser while it lives (see
// ReplyParserScope); made inside the thread's COM initialisation, ended
// before it.
class LookupThreadScope {
public:
    LookupThreadScope();
    ~LookupThreadScope();
    LookupThreadScope(const LookupThreadScope&) = delete;
    LookupThreadScope& operator=(const LookupThreadScope&) = delete;

private:
    ReplyParserScope parser_;
    ReturnedXmlStore store_;
    ReturnedXmlStore* previous_;
};

// Releases the XML documents the calling thread's lookups keep (the store's
// and the reply parser's); called before COM is shut down on that thread.
void ReleaseLookupDocuments();

// The register settings of "tolmar.ini" (section PopulationManager) in the
// working folder, as every lookup finds it.
struct RegisterSettings {
    std::wstring logId, logPwd, logAddr;
    bool flagOtherArchive = false;  // the FlagOtherArchve value is not "0"
};
RegisterSettings ReadRegisterSettings(const std::wstring& iniFile);
// The same, read again only when the file's size or last-write time (or its
// existence) changed since the last read, or when that read came so soon
// after a write that the file system's coarse time stamp could hide a
// further edit: an edit takes effect at the next lookup. Reading the four
// values costs far more than a lookup's other work on a fast register.
RegisterSettings CurrentRegisterSettings(const std::wstring& iniFile);

// Looks PersonalNumber up. Every buffer is caller-owned and holds its
// field's capacity + 1 characters (see person_record.h); values are cut to
// fit. ReturnCode: 0 found, -359 not found, -400 failure with errms set.
void wpm_GetPerson(const wchar_t* PersonalNumber, wchar_t* FirstName, wchar_t* MiddleName, wchar_t* Surname,
                   wchar_t* Address1, wchar_t* Address2, wchar_t* PostNumber, wchar_t* PostTown, wchar_t* Status,
                   wchar_t* Sex, wchar_t* Relation, wchar_t* AllaNamn, std::int32_t& ReturnCode,
                   std::wstring& errms);

// The same with a record: fills every output field of `record` from its
// PersonalNumber. It is AttemptLookup and FinishLookup in one.
void LookUpPerson(PersonRecord& record, std::int32_t& returnCode, std::wstring& errms);

// The lookup itself, on any thread with COM initialised: the answer, or why
// it failed, with the error headers of the replies recorded, not stored.
LookupAttempt AttemptLookup(const std::wstring& personalNumber);
// Takes an attempt into the calling thread as LookUpPerson leaves a lookup:
// the last-error strings, return code, errms, record and the store's error
// text. Attempts taken in patient order read as if made one after another.
void FinishLookup(LookupAttempt& attempt, PersonRecord& record, std::int32_t& returnCode, std::wstring& errms);

}  // namespace tolmar::win
