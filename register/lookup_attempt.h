// One lookup in the register as made, before the run takes it in: what the
// register answered, or why it failed, with the error headers its replies
// carried. A lookup made on a worker thread comes back as one of these, and
// the run's own thread turns it into the return code, errms and the
// last-error strings in patient order.
#pragma once

#include <cstdint>
#include <string>

#include "register/person_record.h"
#include "register/soap_headers.h"

namespace tolmar {

struct LookupAttempt {
    std::int32_t returnCode = ReturnCode::Failure;  // Found, NotFound or Failure
    PersonRecord record;                            // Found: the person (without PersonalNumber)
    std::wstring failure;                           // Failure: the error's message
    std::wstring workingText;                       // Failure: the answer as far as it was read
    LastErrorChanges lastErrors;                    // what the replies' error headers set
    // Failure before the register answered at all: no connection, the
    // deadline passed, an HTTP error status (400 and up, but 500). A SOAP
    // fault, a redirect and a reply refused for its size or framing are answers.
    bool registerUnreachable = false;
};

}  // namespace tolmar
