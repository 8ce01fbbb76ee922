#include "app/win/event_log.h"

#include <windows.h>

#include <vector>

namespace tolmar::win {

void RunEventLog::Report(const RunEvent& event) noexcept {
    if (!tried_) {
        tried_ = true;
        source_.reset(RegisterEventSourceW(nullptr, kEventSourceName));
    }
    if (!source_) return;
    WORD type = EVENTLOG_INFORMATION_TYPE;
    if (event.type == EventType::Warning) type = EVENTLOG_WARNING_TYPE;
    if (event.type == EventType::Error) type = EVENTLOG_ERROR_TYPE;
    try {
        std::vector<LPCWSTR> strings;
        for (const std::wstring& s : event.strings) strings.push_back(s.c_str());
        ReportEventW(source_.get(), type, 0, event.id, nullptr, static_cast<WORD>(strings.size()), 0,
                     strings.empty() ? nullptr : strings.data(), nullptr);
    } catch (...) {
        // Out of memory for the list: the event is lost, the run goes on.
    }
}

}  // namespace tolmar::win
