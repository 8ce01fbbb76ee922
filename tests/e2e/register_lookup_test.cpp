// Register lookups through the real program: the operator's test form shows
// the lookup's code in the return-code field and, behind "XML...", the answer document or
// the error text the lookup composed. The register is the simulator, with
// its example persons and injected faults.
#include "harness.h"
#include "host_windows.h"
#include "program_texts.h"

namespace {

using namespace e2e;

constexpr const wchar_t* kGetPersonAction = L"http://popman.mirell.example/HCW/PopulationManager/GetPerson";
constexpr const wchar_t* kDefaultEndpoint = L"http://popman-test.mirell.example/PopmWs/WSPopMan.asmx";
// A local port where nothing listens.
constexpr const char* kClosedEndpoint = "http://127.0.0.1:9/PopmWs/WSPopMan.asmx";

// "{endpoint}" in an expected text stands for the simulator's endpoint.
std::wstring Expand(std::wstring text) {
    const std::wstring marker = L"{endpoint}";
    size_t at = 0;
    while ((at = text.find(marker, at)) != std::wstring::npos) text.replace(at, marker.size(), RegisterSim::Endpoint());
    return text;
}

// What the viewer must show: the whole text, or how it starts and ends and
// a part of it (compared without the parser's layout).
struct ViewerText {
    std::optional<std::wstring> exact;
    std::wstring starts, holds, ends;
};

::testing::AssertionResult ShowsAsExpected(const std::wstring& shown, const ViewerText& want) {
    auto fail = [&](const char* what, const std::wstring& part) {
        return ::testing::AssertionFailure() << "the viewer's text " << Printable(shown) << " " << what << " "
                                             << Printable(part);
    };
    if (want.exact) {
        const std::wstring exact = Expand(*want.exact);
        return shown == exact ? ::testing::AssertionSuccess() : fail("is not", exact);
    }
    const std::wstring starts = Expand(want.starts), holds = Expand(want.holds), ends = Expand(want.ends);
    if (shown.compare(0, starts.size(), starts) != 0) return fail("does not start with", starts);
    if (WithoutLayout(shown).find(holds) == std::wstring::npos) return fail("does not hold", holds);
    if (shown.size() < ends.size() || shown.compare(shown.size() - ends.size(), ends.size(), ends) != 0)
        return fail("does not end with", ends);
    if (shown.size() < starts.size() + ends.size()) return fail("is too short for", starts + L"..." + ends);
    return ::testing::AssertionSuccess();
}

struct LookupCase {
    const char* name;
    std::wstring number;
    std::string injection;              // for this number only; "" for none
    std::optional<std::string> logAddr;  // nullopt: the simulator
    std::wstring code;
    std::vector<std::pair<int, std::wstring>> fields;  // person fields afterwards
    ViewerText viewer;
    bool reachesRegister = true;
};
void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

std::wstring ErrorTail(const std::wstring& endpoint) {
    return L" - URL:" + endpoint + L" - SOAPAction:" + kGetPersonAction + L"\r\nFel i .: ";
}

const LookupCase kLookupCases[] = {
    {"CnFamily", L"194501011234", "", std::nullopt, L"0",
     {{form::kFirstName, L"Anna Maria"}, {form::kSurname, L"Lindqvist"}, {form::kAddress, L"Storgatan 12 B"},
      {form::kCoAddress, L"c/o Berg 2019-04-01"}, {form::kTown, L"UMEÅ"}, {form::kSex, L""}},
     {.holds = L"<PersonInfo><cn_pnr>194501011234</cn_pnr><cn_fname>Anna Maria</cn_fname><cn_lname>Lindqvist"}},
    {"PoFamily", L"197503034567", "", std::nullopt, L"0",
     {{form::kFirstName, L"Maria"}, {form::kSurname, L"Johansson Persson"}, {form::kSex, L"K"},
      {form::kStatus, L""}},
     {.holds = L"<PersonInfo><PO_PNR>197503034567</PO_PNR><PO_FNAME>Anna Maria</PO_FNAME>"}},
    {"NotFound", L"190001010000", "", std::nullopt, L"-359", {{form::kFirstName, L""}},
     {.holds = L"<PopulationManager><Message>Ingen person hittades</Message></PopulationManager>"}},
    // A failed call leaves no working text: the error text starts with a line break.
    {"Http404", L"190003030000", "", std::nullopt, L"-400", {{form::kFirstName, L""}},
     {.exact = L"\r\nNot Found (404) - '{endpoint}'\r\nFel i .: "}},
    {"FaultWithReasonAndErrorHeader", L"190002020000", "", std::nullopt, L"-400", {},
     {.exact = L"\r\nRegistret är inte tillgängligt\r\nFel i PopmWs.GetPerson: Databasen svarar inte"}},
    // Without a Reason the fault's Detail element, as XML, is the message.
    {"FaultWithoutReason", L"194501011234", "soap-fault | detail=<Fel>utan orsak</Fel>", std::nullopt, L"-400", {},
     {.starts = L"\r\n<", .holds = L"<Fel>utan orsak</Fel>", .ends = L"Detail>\r\nFel i .: "}},
    // An answer about someone else fills nothing; the viewer shows its person part and why.
    {"AnswerAboutAnotherPerson", L"194501011234",
     "result | text=<PopulationManager><PersonInfo><cn_pnr>195505055555</cn_pnr><cn_fname>Eva</cn_fname>"
     "<cn_lname>Annan</cn_lname></PersonInfo></PopulationManager>",
     std::nullopt, L"-400", {{form::kFirstName, L""}, {form::kSurname, L""}},
     {.exact = L"<cn_pnr>195505055555</cn_pnr><cn_fname>Eva</cn_fname><cn_lname>Annan</cn_lname>\r\nRegistrets "
               L"svar gäller en annan person (personnummer 195505055555) än den som efterfrågades.\r\nFel i .: "}},
    {"UnreachableEndpoint", L"194501011234", "", kClosedEndpoint, L"-400", {},
     {.starts = L"\r\n", .ends = ErrorTail(L"http://127.0.0.1:9/PopmWs/WSPopMan.asmx")}, false},
    {"EmptyAddressMeansTheDefaultEndpoint", L"194501011234", "", "", L"-400", {},
     {.starts = L"\r\n", .ends = ErrorTail(kDefaultEndpoint)}, false},
};

class ThroughTheTestForm : public ::testing::TestWithParam<LookupCase> {};

TEST_P(ThroughTheTestForm, ShowsTheCodeAndTheViewerTheAnswerOrTheError) {
    const LookupCase& c = GetParam();
    SimulatorSession sim;
    ASSERT_TRUE(sim.Ready());
    if (!c.injection.empty()) {
        ASSERT_TRUE(RegisterSim::Inject(c.injection + " | pnr=" + Utf8(c.number)));
    }
    ProgramRun run({.args = {L"TEST_MODE"}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIni{.logAddr = c.logAddr}.Text()));
    auto testForm = StartTestForm(run);
    ASSERT_TRUE(testForm);

    ASSERT_TRUE(testForm->SetNumber(c.number));
    std::wstring code;
    ASSERT_TRUE(testForm->Search(SearchBy::Enter, code));
    EXPECT_EQ(code, c.code);
    for (const auto& [id, text] : c.fields) EXPECT_EQ(testForm->Text(id), text) << "control " << id;
    std::wstring xml;
    ASSERT_TRUE(testForm->ViewXml(xml));
    EXPECT_TRUE(ShowsAsExpected(xml, c.viewer));

    const auto requests = RegisterSim::Requests();
    ASSERT_TRUE(requests);
    if (c.reachesRegister) {
        ASSERT_EQ(requests->size(), 1u) << ::testing::PrintToString(*requests);
        const SimRequest& r = requests->front();
        EXPECT_EQ(r.Value("sPnr"), Utf8(c.number)) << ::testing::PrintToString(r);
        EXPECT_EQ(r.Value("user"), "clinic");
        EXPECT_EQ(r.Value("password"), "secret");
        EXPECT_NE(r.Value("outcome"), "bad-request") << r.Value("error");
    } else {
        EXPECT_TRUE(requests->empty()) << ::testing::PrintToString(*requests);
    }

    ASSERT_TRUE(testForm->PressEsc());
    EXPECT_EQ(run.WaitForExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(RegisterLookup, ThroughTheTestForm, ::testing::ValuesIn(kLookupCases),
                         [](const ::testing::TestParamInfo<LookupCase>& test) { return std::string(test.param.name); });

// The error header's members live as long as the program: a reply that sets
// only Description leaves the module and function of an earlier one, and a
// later failure without any header shows all three.
TEST(RegisterLookupErrorHeader, MembersNotSentAgainKeepTheirEarlierValues) {
    SimulatorSession sim;
    ASSERT_TRUE(sim.Ready());
    ProgramRun run({.args = {L"TEST_MODE"}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIni{}.Text()));
    auto testForm = StartTestForm(run);
    ASSERT_TRUE(testForm);
    struct Step {
        const wchar_t* number;
        const wchar_t* code;
        std::optional<std::wstring> viewer;  // nullopt: not looked at
    };
    const Step steps[] = {
        // A fault whose header sets module, function and description.
        {L"190002020000", L"-400",
         L"\r\nRegistret är inte tillgängligt\r\nFel i PopmWs.GetPerson: Databasen svarar inte"},
        // A good answer whose header sets Description only.
        {L"190006060000", L"0", std::nullopt},
        // HTTP 404: no header at all.
        {L"190003030000", L"-400",
         L"\r\nNot Found (404) - '{endpoint}'\r\nFel i PopmWs.GetPerson: Adressen är under utredning"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(Utf8(step.number));
        ASSERT_TRUE(testForm->SetNumber(step.number));
        std::wstring code;
        ASSERT_TRUE(testForm->Search(SearchBy::Enter, code));
        EXPECT_EQ(code, step.code);
        if (!step.viewer) continue;
        std::wstring xml;
        ASSERT_TRUE(testForm->ViewXml(xml));
        EXPECT_PRED_FORMAT2(SameText, xml, Expand(*step.viewer));
    }
    ASSERT_TRUE(testForm->PressEsc());
    EXPECT_EQ(run.WaitForExit(), 0u);
}

// "PERSONNR:" with an answer about another person, or about two persons:
// nothing reaches the journal program, and the box says why.
TEST(RegisterLookupAnswer, AboutAnotherPersonOrTwoPersonsReachesNoHost) {
    const std::string cn = "<cn_fname>Eva</cn_fname><cn_lname>Annan</cn_lname>";
    const struct {
        const char* name;
        std::string document;
        std::wstring reason;
    } cases[] = {
        {"another person",
         "<PopulationManager><PersonInfo><cn_pnr>195505055555</cn_pnr>" + cn + "</PersonInfo></PopulationManager>",
         L"Registrets svar gäller en annan person (personnummer 195505055555) än den som efterfrågades."},
        {"two persons",
         "<PopulationManager><PersonInfo><cn_pnr>194501011234</cn_pnr>" + cn +
             "</PersonInfo><PersonInfo><cn_pnr>194501011234</cn_pnr>" + cn + "</PersonInfo></PopulationManager>",
         L"Registrets svar gäller mer än en person (2 element PersonInfo) och tas inte emot."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatorSession sim;
        ASSERT_TRUE(sim.Ready());
        ASSERT_TRUE(RegisterSim::Inject("result | pnr=194501011234 | text=" + c.document));
        HostLog hosts;
        FakeHost vimla(hosts, kPagesDlg);
        ASSERT_TRUE(vimla.ok());
        ProgramRun run({.args = {L"PERSONNR:19450101-1234"}});
        ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIni{}.Text()));
        ASSERT_TRUE(run.Start());
        run.Finish(IDOK);
        EXPECT_TRUE(MatchesSequence(run.log(), {expect::BoxStartingWith(L"Information", texts::kLookupFailedPrefix + c.reason),
                                                expect::Closed(IDOK), expect::Exit(2)}));
        EXPECT_TRUE(hosts.Deliveries().empty()) << hosts.Dump();
    }
}

// Notepad saves tolmar.ini as UTF-8 without a byte-order mark; a file in
// the ANSI code page still means what it did. Either way the register gets
// the password as the administrator typed it.
TEST(RegisterLookupSettings, ThePasswordReachesTheRegisterAsWritten) {
    SimulatorSession sim;
    ASSERT_TRUE(sim.Ready());
    ProgramRun run({.args = {L"TEST_MODE"}});
    auto testForm = StartTestForm(run);
    ASSERT_TRUE(testForm);
    const std::string cp1252 = "hemligt\xC5\xC4\xD6\x80";
    wchar_t asAnsi[32] = {};
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, cp1252.c_str(), -1, asAnsi, 32), 0);
    const struct {
        const char* name;
        std::string password;  // the file's bytes
        std::string sent;      // UTF-8, as the simulator records it
    } steps[] = {
        {"UTF-8 without a mark", "hemligt\xC3\x85\xC3\x84\xC3\x96\xE2\x82\xAC", "hemligt\xC3\x85\xC3\x84\xC3\x96\xE2\x82\xAC"},
        {"the ANSI code page", cp1252, Utf8(asAnsi)},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIni{.logPwd = step.password}.Text()));
        ASSERT_TRUE(testForm->SetNumber(L"194501011234"));
        std::wstring code;
        ASSERT_TRUE(testForm->Search(SearchBy::Enter, code));
        EXPECT_EQ(code, L"0");
        EXPECT_EQ(RegisterSim::LastRequestValue("password"), step.sent);
    }
    if (GetACP() == 1252) {
        EXPECT_EQ(Utf8(asAnsi), steps[0].sent) << "cp1252 means the same password";
    }
    ASSERT_TRUE(testForm->PressEsc());
    EXPECT_EQ(run.WaitForExit(), 0u);
}

// "tolmar.ini" is read again at every lookup; flagOtherArchive is false
// exactly when FlagOtherArchve is "0" or not there.
TEST(RegisterLookupSettings, FlagOtherArchveIsReadAtEveryLookup) {
    SimulatorSession sim;
    ASSERT_TRUE(sim.Ready());
    ProgramRun run({.args = {L"TEST_MODE"}});
    auto testForm = StartTestForm(run);
    ASSERT_TRUE(testForm);
    struct Step {
        const char* name;
        std::optional<std::string> value;  // nullopt: no such key
        const char* sent;
    };
    const Step steps[] = {{"absent", std::nullopt, "false"}, {"empty", "", "true"}, {"zero", "0", "false"},
                          {"one", "1", "true"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIni{.flagOtherArchve = step.value}.Text()));
        ASSERT_TRUE(testForm->SetNumber(L"194501011234"));
        std::wstring code;
        ASSERT_TRUE(testForm->Search(SearchBy::Enter, code));
        EXPECT_EQ(code, L"0");
        const auto requests = RegisterSim::Requests();
        ASSERT_TRUE(requests);
        ASSERT_FALSE(requests->empty());
        EXPECT_EQ(requests->back().Value("flagOtherArchive"), step.sent) << ::testing::PrintToString(requests->back());
    }
    const auto requests = RegisterSim::Requests();
    ASSERT_TRUE(requests);
    EXPECT_EQ(requests->size(), std::size(steps)) << "one request per search";
    ASSERT_TRUE(testForm->PressEsc());
    EXPECT_EQ(run.WaitForExit(), 0u);
}

}  // namespace
