// The events a started program reported to the Windows event log, read back
// from Wine's trace of ReportEventW. Wine keeps no event log: with
// WINEDEBUG's "fixme+advapi" and "+eventlog" it writes each report (its
// type and event ID, then each insertion string) to the Unix stderr of the
// reporting process, which a program started from the tests shares with
// them. The script that runs the tests sends that stderr to a file and
// names it in TOLMAR_WINE_STDERR (scripts/test does).
//
//   e2e::EventTrace trace;                    // before the program starts
//   ... start the program, wait until it has ended ...
//   const auto events = trace.EventsOf(run.process().pid());
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

struct ReportedEvent {
    unsigned id = 0;
    unsigned type = 0;  // EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_ERROR_TYPE
    std::vector<std::wstring> strings;
    bool cut = false;  // the trace cut a string short (it shows about 300 characters)
};

// The events of one process in trace lines of Wine's format
// ("pid:tid:class:channel:function text", pid and tid in hex). Nullopt when
// no line at all is the process's (the trace did not reach it).
std::optional<std::vector<ReportedEvent>> ParseEventTrace(std::string_view trace, DWORD pid);

class EventTrace {
public:
    // Sets WINEDEBUG for the programs started from here on and notes where
    // the trace file ends now.
    EventTrace();
    // Puts WINEDEBUG back.
    ~EventTrace();
    EventTrace(const EventTrace&) = delete;
    EventTrace& operator=(const EventTrace&) = delete;

    // "" when the trace can be read; otherwise why not.
    const std::string& problem() const { return problem_; }
    // The events of process `pid` (one that has ended) traced since this
    // object was made; nullopt when the trace holds no line of it.
    std::optional<std::vector<ReportedEvent>> EventsOf(DWORD pid) const;

private:
    std::wstring path_;
    LONGLONG start_ = 0;
    std::optional<std::wstring> previousDebug_;
    std::string problem_;
};

}  // namespace e2e
