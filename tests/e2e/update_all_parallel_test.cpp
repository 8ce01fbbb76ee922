// "UPDATE_ALL" with lookups ahead on worker threads (/parallel:N) and a cap
// on the lookups started a second (/rate:R), against the register simulator
// answering with a delay: the same rows, errors file and journal as one
// lookup at a time, the same stop, the cap kept, a failing register spared,
// and an edit of the settings file taking effect at the next lookup.
#include <chrono>
#include <thread>

#include "harness.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;
using namespace std::chrono_literals;

constexpr Ms kRun{180000};
const std::wstring kRefusal = L"Patienten är låst för ändringar";

// What a run left.
struct Left {
    std::map<int, Row> rows;
    std::optional<std::string> errors;
    std::vector<std::string> journal;  // without the time column
    std::optional<DWORD> exitCode;
    std::chrono::milliseconds took{};
};

// Runs "UPDATE_ALL" with `options` on a fresh clinic holding `patients`
// (updates of rows whose EPOST is "låst" refused by a trigger), with the
// register's injections made first.
Left RunClinic(Engine engine, const std::vector<Row>& patients, const std::vector<std::wstring>& injections,
               std::vector<std::wstring> options) {
    Clinic s(engine);
    s.table.RefuseUpdatesWhereEpost(L"låst", kRefusal);
    s.table.Insert(patients);
    for (const std::wstring& injection : injections) s.reg.Inject(injection);
    ProgramRun run(UpdateAll(s, std::move(options)));
    Left left;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Start(run, s.reg));
    EXPECT_TRUE(EndsWithoutBoxes(run, kRun));
    left.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    left.exitCode = run.process().ExitCode();
    left.rows = s.table.Rows();
    left.errors = ErrorsFile(run);
    if (const auto journal = run.folder().ReadFile(InNewestRun(run.folder(), kChanges))) left.journal = RowsWithoutTime(*journal);
    return left;
}

const Row kOld = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}, {L"ADRESS", L"Gammal väg 1"}};

// Every kind of patient a run meets, 267 in all: 250 rows the register
// changes (three batches), rows it does not know, lookups that fail with and
// without an error header (so that the header texts of one failure show in
// the next, as they did when they came in turn), bad numbers, rows already
// up to date, and saves refused by a trigger.
std::vector<Row> EveryKindOfPatient(const std::vector<Row>& upToDate) {
    const wchar_t* known[] = {L"194501011234", L"193212129876", L"197503034567", L"199002023333", L"198811115555"};
    std::vector<Row> patients;
    int nr = 0;
    for (int i = 0; i < 250; ++i) {
        patients.push_back(Patient(++nr, known[i % 5], kOld));
        if (i % 60 == 10) patients.push_back(Patient(++nr, L"190001010000", kOld));  // not found
        if (i % 60 == 20) patients.push_back(Patient(++nr, L"196003038888", kOld));  // fault with a full header
        if (i % 60 == 30) patients.push_back(Patient(++nr, L"196507076666", kOld));  // fault, description only
        if (i % 80 == 40) patients.push_back(Patient(++nr, L"19450101", kOld));      // bad number
        if (i % 80 == 50) patients.push_back(Patient(++nr, L"197112121212", With(kOld, {{L"EPOST", L"låst"}})));
    }
    for (Row row : upToDate) {
        row[L"PATIENTNR"] = std::to_wstring(++nr);
        patients.push_back(std::move(row));
    }
    return patients;
}

const std::vector<std::wstring> kFaults = {
    L"soap-fault | reason=Posten är spärrad | FunctionName=Read | ModuleName=PopDb | Description=Spärr | "
    L"pnr=196003038888",
    L"soap-fault | reason=Tillfälligt fel | Description=Bara beskrivning | pnr=196507076666",
};

class UpdateAllParallel : public ::testing::TestWithParam<Engine> {};

TEST_P(UpdateAllParallel, EightAtATimeLeaveWhatOneAtATimeLeaves) {
    // Rows as the register has them: a first run brings three rows up to date.
    std::vector<Row> upToDate;
    {
        const std::vector<Row> few = {Patient(1, L"194501011234", kOld), Patient(2, L"197503034567", kOld),
                                      Patient(3, L"193212129876", kOld)};
        const Left first = RunClinic(GetParam(), few, {}, {});
        for (const auto& [nr, row] : first.rows) upToDate.push_back(row);
        ASSERT_EQ(upToDate.size(), 3u);
    }
    const std::vector<Row> patients = EveryKindOfPatient(upToDate);
    std::vector<std::wstring> injections = kFaults;
    injections.push_back(L"ok | delay=20");

    const Left one = RunClinic(GetParam(), patients, injections, {L"/parallel:1"});
    const Left eight = RunClinic(GetParam(), patients, injections, {L"/parallel:8"});

    ASSERT_TRUE(one.errors);
    EXPECT_NE(one.errors->find("Antal poster redigerade: 250\r\n"), std::string::npos) << *one.errors;
    // The fault with only a description shows the module and function of
    // the one before it. (The file is in the ANSI code page: ASCII parts are
    // looked for.)
    EXPECT_NE(one.errors->find("\r\nFel i PopDb.Read: Bara beskrivning\r\n"), std::string::npos) << *one.errors;
    EXPECT_NE(one.errors->find("Det gick inte att uppdatera 197112121212! Fel: "), std::string::npos) << *one.errors;
    EXPECT_EQ(eight.errors, one.errors);
    EXPECT_TRUE(eight.rows == one.rows) << "the rows differ after /parallel:8";
    EXPECT_GE(one.journal.size(), 250u) << "journal rows";
    EXPECT_EQ(eight.journal, one.journal);
    EXPECT_EQ(eight.exitCode, one.exitCode);
    EXPECT_EQ(one.exitCode, 1u);
    // The lookups really overlapped: 264 of them at 20 ms each take over 5 s one at a time.
    EXPECT_LT(eight.took * 10, one.took * 6) << "one at a time " << one.took.count() << " ms, eight at a time "
                                             << eight.took.count() << " ms";
}

INSTANTIATE_TEST_SUITE_P(UpdateAll, UpdateAllParallel, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& test) { return EngineName(test.param); });

// The eleventh refused save stops the run at the same patient, and nothing
// after it is saved, whatever lookups were already made ahead.
TEST(UpdateAllParallelStop, TheEleventhFailedSaveStopsAtTheSamePatient) {
    std::vector<Row> patients = {Patient(1, L"194501011234", kOld)};
    for (int i = 0; i < 11; ++i) patients.push_back(Patient(2 + i, L"197503034567", With(kOld, {{L"EPOST", L"låst"}})));
    for (int i = 0; i < 20; ++i) patients.push_back(Patient(13 + i, L"199002023333", kOld));
    const Left one = RunClinic(Engine::Sqlite, patients, {L"ok | delay=20"}, {L"/parallel:1"});
    const Left eight = RunClinic(Engine::Sqlite, patients, {L"ok | delay=20"}, {L"/parallel:8"});
    ASSERT_TRUE(one.errors);
    EXPECT_NE(one.errors->find(" 10. Avbryter uppdatering!\r\nAntal poster redigerade: 1\r\n"),
              std::string::npos)
        << *one.errors;
    EXPECT_EQ(eight.errors, one.errors);
    EXPECT_TRUE(eight.rows == one.rows);
    for (int nr = 13; nr <= 32; ++nr) EXPECT_EQ(eight.rows.at(nr).at(L"EFTERNAMN"), L"Gammal") << nr;
    EXPECT_EQ(eight.exitCode, 2u);
}

// `count` patients, all the same person of the register, out of date.
void InsertOneOutdatedPerson(const Clinic& s, int count) {
    std::vector<Row> patients;
    for (int i = 1; i <= count; ++i) patients.push_back(Patient(i, L"194501011234", kOld));
    s.table.Insert(patients);
}

// Polls the simulator's request count while the run goes on: (time since
// the first request, count) pairs until the program ends or `bound` passes.
std::vector<std::pair<std::chrono::milliseconds, long long>> CountWhileRunning(ProgramRun& run, const Register& reg,
                                                                               Ms bound) {
    std::vector<std::pair<std::chrono::milliseconds, long long>> samples;
    std::optional<std::chrono::steady_clock::time_point> first;
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end && run.process().Running()) {
        const long long count = reg.RequestCount();
        const auto now = std::chrono::steady_clock::now();
        if (count > 0 && !first) first = now;
        if (first) samples.emplace_back(std::chrono::duration_cast<std::chrono::milliseconds>(now - *first), count);
        std::this_thread::sleep_for(50ms);
    }
    return samples;
}

TEST(UpdateAllRate, TheCapHoldsAcrossTheWorkers) {
    Clinic s(Engine::Sqlite);
    InsertOneOutdatedPerson(s, 30);
    ProgramRun run(UpdateAll(s, {L"/parallel:8", L"/rate:10"}));
    ASSERT_TRUE(Start(run, s.reg));
    const auto samples = CountWhileRunning(run, s.reg, kRun);
    ASSERT_TRUE(EndsWithoutBoxes(run, kRun, 0));
    EXPECT_EQ(s.reg.RequestCount(), 30);
    // 10 a second: by t seconds after the first, at most 1 + 10 t (and a
    // generous 3 for the sampling).
    for (const auto& [t, count] : samples)
        EXPECT_LE(count * 1000, 1000 + 10 * (t.count() + 100) + 3000) << "at " << t.count() << " ms";
    ASSERT_FALSE(samples.empty());
    EXPECT_GE(samples.back().first, 2500ms) << "30 lookups at 10 a second take about 3 s";
}

// A register that fails every call gets a pause after a few failures in a
// row and then one call at a time, in pauses that grow: far fewer calls than
// patients, where eight workers would otherwise call it for every one.
TEST(UpdateAllBackOff, AFailingRegisterIsNotHammered) {
    Clinic s(Engine::Sqlite);
    InsertOneOutdatedPerson(s, 80);
    s.reg.Inject(L"http | status=503");
    ProgramRun run(UpdateAll(s, {L"/parallel:8", L"/unattended"}));
    ASSERT_TRUE(Start(run, s.reg));
    const auto samples = CountWhileRunning(run, s.reg, Ms{6000});
    ASSERT_FALSE(samples.empty()) << "the register was never called";
    // Within 6 s: the first failures of eight workers, then a call after
    // each pause (1, 2 and 4 s).
    EXPECT_LE(samples.back().second, 8 + 8 + 4) << "after " << samples.back().first.count() << " ms";
    EXPECT_TRUE(run.process().Running()) << "the run ended instead of waiting for the register";
    EXPECT_TRUE(run.process().Kill());
}

// The settings file is read again for the lookup that starts after an edit,
// also with lookups ahead.
TEST(UpdateAllParallelSettings, AnEditOfTheSettingsTakesEffectAtTheNextLookup) {
    Clinic s(Engine::Sqlite);
    InsertOneOutdatedPerson(s, 60);
    s.reg.Inject(L"ok | delay=50");
    ProgramRun run(UpdateAll(s, {L"/parallel:4"}));
    const std::string ini = RegisterIniFor(s.reg.Endpoint());
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", ini + "LOG_ID=before\r\n"));
    ASSERT_TRUE(run.Start());
    // Once a few lookups are made, the login changes.
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (s.reg.RequestCount() < 8 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", ini + "LOG_ID=after the edit\r\n"));
    ASSERT_TRUE(EndsWithoutBoxes(run, kRun, 0));
    const auto requests = tolmar::test::RegisterSim::Requests();
    ASSERT_TRUE(requests);
    ASSERT_EQ(requests->size(), 60u);
    EXPECT_EQ(requests->front().Value("user"), "before");
    // The lookups in flight at the edit carry the old login; every later one the new.
    for (size_t i = 20; i < requests->size(); ++i) EXPECT_EQ((*requests)[i].Value("user"), "after the edit") << "request " << i;
}

}  // namespace
