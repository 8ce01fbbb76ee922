// The jobs the dispatcher runs on the main window.
#pragma once

#include <string>

#include "app/options.h"
#include "app/update_run.h"

namespace tolmar::win {

class TolmarForm;
struct Session;

// "PERSONNR:": looks the 12-character number up in the register and hands
// the person to the suite's running host program. The exit code: 0 handed
// over, 1 not found, 2 a failure.
int LookUpPersonForHost(Session& session, TolmarForm& form, const std::wstring& number);

// "TEST_MODE": the operator's lookup window, shown modally.
void RunTestMode(Session& session);

// "UPDATE_ALL": refreshes every patient row from the register, leaving one
// progress-list line per event and the change journal beside the errors
// file; with /preview it writes nothing to the database and the preview's
// file instead; with /undo it puts a change journal back.
RunOutcome UpdateAllPatients(Session& session, TolmarForm& form, const StartOptions& options);

}  // namespace tolmar::win
