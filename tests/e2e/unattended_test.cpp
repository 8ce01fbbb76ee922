// Unattended starts: nothing is shown, wherever /unattended stands and
// whatever stands in the way; every update run, and every refused unattended
// start, leaves its record and its events in the event log.
#include <string>
#include <vector>

#include "event_trace.h"
#include "harness.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;

constexpr Ms kSmallRun{30000};
constexpr unsigned kInformation = EVENTLOG_INFORMATION_TYPE, kWarning = EVENTLOG_WARNING_TYPE,
                   kError = EVENTLOG_ERROR_TYPE;

// The program ends on its own with `exitCode` and never shows a box or a form.
::testing::AssertionResult EndsWithNoWindow(ProgramRun& run, DWORD exitCode) {
    const Outcome out = run.DismissUntilExit(kSmallRun);
    if (out.boxes.empty() && out.forms.empty() && out.exitCode == exitCode) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    for (const Box& box : out.boxes) failure << "a box: " << ::testing::PrintToString(box) << "\n";
    for (const Form& form : out.forms) failure << "a form: " << Utf8(form.caption) << "\n";
    if (!out.exitCode)
        failure << "the program did not end\n";
    else
        failure << "exit code " << *out.exitCode << ", expected " << exitCode << "\n";
    return failure << run.log().Dump();
}

bool Holds(const std::optional<std::string>& text, std::string_view part) {
    return text && text->find(part) != std::string::npos;
}

std::string Describe(const std::vector<ReportedEvent>& events) {
    std::string text;
    for (const ReportedEvent& e : events) {
        text += "event " + std::to_string(e.id) + " type " + std::to_string(e.type) + ":";
        for (const std::wstring& s : e.strings) text += " [" + Utf8(s) + "]";
        text += "\n";
    }
    return text;
}

// The events of the ended run's process, in order.
std::vector<ReportedEvent> EventsOf(const EventTrace& trace, ProgramRun& run) {
    const auto events = trace.EventsOf(run.process().pid());
    if (!events) ADD_FAILURE() << "the trace holds nothing of the program's process " << run.process().pid();
    return events.value_or(std::vector<ReportedEvent>{});
}

std::vector<unsigned> Ids(const std::vector<ReportedEvent>& events) {
    std::vector<unsigned> ids;
    for (const ReportedEvent& e : events) ids.push_back(e.id);
    return ids;
}

// The run folder of a start, as the program names it.
std::wstring RunFolderPath(ProgramRun& run) {
    const std::vector<std::wstring> folders = RunFolders(run.folder());
    return folders.size() == 1 ? run.AppPath() + L"runs\\" + folders[0] + L"\\" : L"(" + std::to_wstring(folders.size()) + L" run folders)";
}

// What blocked an unattended start with a box: a folder that the clean-up
// at the end cannot remove, /unattended before the job word, a data link
// whose Provider line is too long to read. Each ends without a window, with
// its exit code, its line in the run's log and its events.
TEST(Unattended, NothingIsShownWhateverStandsInTheWay) {
    const struct {
        const char* name;
        std::function<RunOptions(const Clinic&)> options;
        std::function<void(ProgramRun&, const Clinic&)> prepare;
        DWORD exitCode;
        std::string logLine;
        std::vector<unsigned> events;
        std::wstring reason;  // how the end event's reason begins
    } cases[] = {
        {"a folder named logs.err", [](const Clinic& s) { return UpdateAll(s, {L"/unattended"}); },
         [](ProgramRun& run, const Clinic&) { ASSERT_TRUE(run.folder().MakeFolder(L"logs.err")); }, 0,
         "An error occured while deleting: ", {100, 200}, L""},
        {"/unattended before the job word",
         [](const Clinic& s) { return RunOptions{.args = {L"/unattended", L"UPDATE_ALL", s.dataLink}}; },
         [](ProgramRun&, const Clinic&) {}, 2, "Obevakad start med ogiltiga startparametrar; inget har k\xC3\xB6rts.",
         {202}, L"Obevakad start med ogiltiga startparametrar; inget har körts. Startparametrarna: /unattended UPDATE_ALL "},
        {"/unattended with a person's number",
         [](const Clinic&) { return RunOptions{.args = {L"PERSONNR:194501011234", L"/UNATTENDED"}}; },
         [](ProgramRun&, const Clinic&) {}, 2, "Obevakad start med ogiltiga startparametrar", {202},
         L"Obevakad start med ogiltiga startparametrar; inget har körts. Startparametrarna: PERSONNR:194501011234 "
         L"/UNATTENDED"},
        {"a Provider line of 2,000,000 characters",
         [](const Clinic& s) {
             return RunOptions{.args = {L"UPDATE_ALL", s.data / L"lang.udl", L"/unattended"}};
         },
         [](ProgramRun&, const Clinic& s) { WriteDataLink(s.data, L"lang.udl", std::wstring(2'000'000, L'x')); }, 2,
         "lang.udl \xC3\xA4r f\xC3\xB6r l\xC3\xA5ngt f\xC3\xB6r att l\xC3\xA4sas.", {100, 202},
         L"Det gick inte att hämta användarnamn och lösenord till databasen!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Clinic s(Engine::Sqlite);
        s.table.Insert({Patient(1, L"194501011234")});
        EventTrace trace;
        ASSERT_EQ(trace.problem(), "");
        ProgramRun run(c.options(s));
        c.prepare(run, s);
        ASSERT_TRUE(Start(run, s.reg));
        ASSERT_TRUE(EndsWithNoWindow(run, c.exitCode));
        const auto log = RunLog(run.folder());
        EXPECT_TRUE(Holds(log, c.logLine)) << log.value_or("(no log)");
        EXPECT_TRUE(Holds(log, "Slut, slutkod " + std::to_string(c.exitCode))) << log.value_or("(no log)");
        const std::vector<ReportedEvent> events = EventsOf(trace, run);
        EXPECT_EQ(Ids(events), c.events) << Describe(events);
        if (!events.empty()) {
            EXPECT_EQ(events.back().strings.at(0), std::to_wstring(c.exitCode)) << Describe(events);
            EXPECT_EQ(events.back().strings.at(2), RunFolderPath(run)) << Describe(events);
            EXPECT_EQ(events.back().strings.at(3).rfind(c.reason, 0), 0u) << Describe(events);
            EXPECT_EQ(events.back().strings.at(3).empty(), c.reason.empty()) << Describe(events);
        }
    }
}

// A run's start and end in the event log: the job and its folder, then the
// exit code, the counts and the folder again.
TEST(UnattendedEvents, ARunWithAFailedPatientReportsItsStartAndEnd) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, L"194501011234"), Patient(2, L"1912121212")});  // the second is malformed
    EventTrace trace;
    ASSERT_EQ(trace.problem(), "");
    ProgramRun run(UpdateAll(s, {L"/unattended"}));
    ASSERT_TRUE(Start(run, s.reg));
    ASSERT_TRUE(EndsWithNoWindow(run, 1));
    const std::vector<ReportedEvent> events = EventsOf(trace, run);
    ASSERT_EQ(Ids(events), (std::vector<unsigned>{100, 201})) << Describe(events);
    const std::wstring folder = RunFolderPath(run);
    EXPECT_EQ(events[0].type, kInformation);
    EXPECT_EQ(events[0].strings, (std::vector<std::wstring>{L"UPDATE_ALL /unattended", folder}));
    EXPECT_EQ(events[1].type, kWarning);
    ASSERT_EQ(events[1].strings.size(), 4u) << Describe(events);
    EXPECT_EQ(events[1].strings[0], L"1");
    EXPECT_EQ(events[1].strings[1].rfind(L"Antal patienter 2, uppslagna 1, sparade 1, ", 0), 0u) << Describe(events);
    EXPECT_NE(events[1].strings[1].find(L"felaktiga personnummer 1"), std::wstring::npos) << Describe(events);
    EXPECT_EQ(events[1].strings[2], folder);
    EXPECT_EQ(events[1].strings[3], L"");
}

// A second run refused because another holds the database ends with 202,
// its reason the refusal.
TEST(UnattendedEvents, ARefusedSecondRunReportsThatItCouldNotStart) {
    Clinic s(Engine::Sqlite);
    s.table.Insert({Patient(1, L"194501011234")});
    s.reg.Inject(L"ok | delay=8000 | pnr=194501011234");
    ProgramRun first(UpdateAll(s));
    ASSERT_TRUE(Start(first, s.reg));
    ASSERT_TRUE(WaitUntil([&] { return s.reg.RequestCount() >= 1 || !first.process().Running(); }, kSmallRun));
    ASSERT_TRUE(first.process().Running()) << first.log().Dump();

    EventTrace trace;
    ASSERT_EQ(trace.problem(), "");
    ProgramRun second(UpdateAll(s, {L"/unattended"}));
    ASSERT_TRUE(Start(second, s.reg));
    ASSERT_TRUE(EndsWithNoWindow(second, 2));
    const std::vector<ReportedEvent> events = EventsOf(trace, second);
    ASSERT_EQ(Ids(events), (std::vector<unsigned>{100, 202})) << Describe(events);
    EXPECT_EQ(events[1].type, kError);
    EXPECT_EQ(events[1].strings.at(0), L"2");
    EXPECT_EQ(events[1].strings.at(3).rfind(L"En annan uppdatering av samma databas pågår redan.", 0), 0u)
        << Describe(events);
    ASSERT_TRUE(EndsWithoutBoxes(first, kSmallRun, 0));
}

// Only update runs report: a person's lookup and the test mode write no
// event (the trace shows it reached their processes all the same).
TEST(UnattendedEvents, APersonLookupAndTheTestModeReportNothing) {
    Register reg;
    for (const wchar_t* job : {L"PERSONNR:194501011234", L"TEST_MODE"}) {
        SCOPED_TRACE(Utf8(job));
        EventTrace trace;
        ASSERT_EQ(trace.problem(), "");
        ProgramRun run({.args = {job}});
        ASSERT_TRUE(Start(run, reg));
        const Outcome out = run.DismissUntilExit(kSmallRun);
        ASSERT_TRUE(out.exitCode) << run.log().Dump();
        const auto events = trace.EventsOf(run.process().pid());
        ASSERT_TRUE(events) << "the trace holds nothing of the program's process";
        EXPECT_TRUE(events->empty()) << Describe(*events);
    }
}

// The program carries the texts of its events: the installer names it as
// the source's message file, and the event viewer reads them from it.
TEST(UnattendedEvents, TheProgramCarriesTheTextOfEveryEvent) {
    const HMODULE program =
        LoadLibraryExW(TolmarExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_TRUE(program) << "cannot load " << Utf8(TolmarExePath()) << ": error " << GetLastError();
    const wchar_t* strings[] = {L"[1]", L"[2]", L"[3]", L"[4]"};
    DWORD_PTR arguments[4];
    for (int k = 0; k < 4; ++k) arguments[k] = reinterpret_cast<DWORD_PTR>(strings[k]);
    for (const DWORD id : {100u, 200u, 201u, 202u, 203u, 204u}) {
        SCOPED_TRACE(id);
        wchar_t text[2048] = {};
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program, id, 0,
                                       text, 2048, reinterpret_cast<va_list*>(arguments));
        ASSERT_GT(n, 0u) << "no text: error " << GetLastError();
        const std::wstring message(text, n);
        EXPECT_EQ(message.rfind(L"Tolmar: ", 0), 0u) << Utf8(message);
        for (int k = 0; k < (id == 100 ? 2 : 4); ++k)
            EXPECT_NE(message.find(strings[k]), std::wstring::npos) << Utf8(message);
    }
    FreeLibrary(program);
}

}  // namespace
