// The jobs the dispatcher runs on the main window.
#pragma once

#include <string>

#include "app/options.h"
#include "app/run_lines.h"
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
// progress-list line per event and the change journal in its run folder;
// with /preview it writes nothing to the database and the preview's file
// instead; with /undo it puts a change journal back. Every start keeps its
// own record (app/win/run_folder.h): `lines` (the boxes' lines before the
// run, then the run's) go to its log as they come. A start without its run
// folder saves nothing, having nowhere to journal. A plain run writes
// the errors file from them; a preview, an undo and a run refused because
// another holds the database do not. Returns the process's exit code.
int UpdateAllPatients(Session& session, TolmarForm& form, const StartOptions& options, RunLines& lines);

// A start that names /unattended but is no valid unattended UPDATE_ALL run
// (app/options.h, StartPlan::RefusedUnattended): its record's log gets the
// lines so far (the box it would have shown) and the parameters as given,
// the event log a 202; nothing runs. Returns the exit code, 2.
int RefuseUnattendedStart(Session& session, const StartOptions& options, RunLines& lines);

inline constexpr std::wstring_view kRefusedUnattendedText =
    L"Obevakad start med ogiltiga startparametrar; inget har körts. Startparametrarna: ";

}  // namespace tolmar::win
