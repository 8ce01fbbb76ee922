// The update run's events in the Windows event log: the Application log,
// source "Tolmar" (the installer registers it, with this program as its
// message file). Reporting never holds up or fails the run: the source is
// registered once, each event is reported once, and a failure is ignored.
#pragma once

#include "app/run_event.h"
#include "tools/win/unique.h"

namespace tolmar::win {

inline constexpr wchar_t kEventSourceName[] = L"Tolmar";

class RunEventLog {
public:
    void Report(const RunEvent& event) noexcept;

private:
    bool tried_ = false;  // the source was asked for (once, whatever came of it)
    UniqueEventSource source_;
};

}  // namespace tolmar::win
