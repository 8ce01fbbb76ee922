#include "app/run_event.h"

namespace tolmar {
namespace {

// A text as the event log may carry it: bounded, control characters other
// than the line breaks shown as blanks.
std::wstring EventString(std::wstring_view text) {
    const bool cut = text.size() > kMaxEventStringLength;
    std::wstring out(text.substr(0, cut ? kMaxEventStringLength - 3 : text.size()));
    for (wchar_t& c : out)
        if ((c < L' ' && c != L'\r' && c != L'\n') || c == 0x7F) c = L' ';
    if (cut) out += L"...";
    return out;
}

}  // namespace

unsigned EndedEventId(int exitCode, bool filesFailed) {
    if (filesFailed) return kEventRunFilesNotWritten;
    switch (exitCode) {
        case 0: return kEventRunEnded;
        case 1: return kEventRunEndedWithProblems;
        case 3: return kEventRegisterUnreachable;
        default: return kEventRunStopped;
    }
}

std::wstring RunCountsText(const RunCounts& c, bool undo) {
    std::wstring text = L"Antal patienter " + std::to_wstring(c.patients) + L", uppslagna " +
                        std::to_wstring(c.lookedUp) + L", sparade " + std::to_wstring(c.saved) + L", oförändrade " +
                        std::to_wstring(c.unchanged) + L", ej funna " + std::to_wstring(c.notFound) +
                        L", misslyckade uppslagningar " + std::to_wstring(c.failedLookups) +
                        L", misslyckade sparanden " + std::to_wstring(c.failedSaves) + L", felaktiga personnummer " +
                        std::to_wstring(c.malformedNumbers) + L", delade PATIENTNR " + std::to_wstring(c.sharedKeys) +
                        L", ej uppslagna " + std::to_wstring(c.notLookedUp);
    if (undo) text += L", återställda " + std::to_wstring(c.restored) + L", lämnade " + std::to_wstring(c.notRestored);
    return text;
}

RunEvent RunStartedEvent(std::wstring_view job, std::wstring_view runFolder) {
    return {kEventRunStarted, EventType::Information,
            {EventString(job), EventString(runFolder.empty() ? std::wstring_view(L"(ingen)") : runFolder)}};
}

RunEvent RunEndedEvent(const RunEnd& end) {
    RunEvent event;
    event.id = EndedEventId(end.exitCode, !end.filesFailure.empty());
    event.type = event.id == kEventRunEnded               ? EventType::Information
                 : event.id == kEventRunEndedWithProblems ? EventType::Warning
                                                          : EventType::Error;
    std::wstring why = end.reason;
    if (!end.filesFailure.empty()) why += (why.empty() ? L"" : L"\r\n") + end.filesFailure;
    event.strings = {std::to_wstring(end.exitCode), EventString(RunCountsText(end.counts, end.undo)),
                     EventString(end.runFolder.empty() ? std::wstring_view(L"(ingen)") : end.runFolder),
                     EventString(why)};
    return event;
}

}  // namespace tolmar
