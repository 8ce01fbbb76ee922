// The events an update run leaves in the Windows event log (source "Tolmar"
// in the Application log): which event, of which type, with which insertion
// strings. The texts around the strings are the message table's
// (app/win/run_events.mc); app/win/event_log.* hands the events to the system.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/run_counts.h"

namespace tolmar {

inline constexpr unsigned kEventRunStarted = 100;
inline constexpr unsigned kEventRunEnded = 200;              // exit code 0
inline constexpr unsigned kEventRunEndedWithProblems = 201;  // exit code 1
inline constexpr unsigned kEventRunStopped = 202;            // exit code 2, or one this program does not know
inline constexpr unsigned kEventRegisterUnreachable = 203;   // exit code 3
inline constexpr unsigned kEventRunFilesNotWritten = 204;    // whatever the exit code

enum class EventType { Information, Warning, Error };

struct RunEvent {
    unsigned id = 0;
    EventType type = EventType::Information;
    std::vector<std::wstring> strings;  // %1, %2, ... of the event's message
};

// An insertion string holds at most this many characters; a longer text is
// cut and ends in "...".
inline constexpr std::size_t kMaxEventStringLength = 2000;

// The event of a run's end for its exit code; 204 whenever the run's log,
// summary or errors file could not be written.
unsigned EndedEventId(int exitCode, bool filesFailed);

// The counts as the log's closing line gives them; an undo adds its own two.
std::wstring RunCountsText(const RunCounts& counts, bool undo);

// 100: %1 the job as started ("UPDATE_ALL /preview"), %2 the run folder.
RunEvent RunStartedEvent(std::wstring_view job, std::wstring_view runFolder);

// How a run ended, as its end event tells it.
struct RunEnd {
    int exitCode = 0;
    RunCounts counts;
    bool undo = false;
    std::wstring runFolder;     // "" when the run has none
    std::wstring reason;        // the line that stopped it ("" when none did)
    std::wstring filesFailure;  // why the log, summary or errors file could not be written ("" when they were)
};

// 200..204: %1 the exit code, %2 the counts, %3 the run folder ("(ingen)"
// when none was made), %4 the reason and the files' failure ("" when none).
RunEvent RunEndedEvent(const RunEnd& end);

}  // namespace tolmar
