// A broken or hostile register, against both jobs that look people up:
// "PERSONNR:" with a journal host waiting, and "UPDATE_ALL" over a patient
// table of one row. In every case the program ends within its bound, the
// box or the errors-file line says why, the row stays as it was, the host
// never receives a forged record, and a second host that a redirect or an
// external entity names hears nothing.
//
// The register's stalls are cut at 2 s here (TOLMAR_REGISTER_DEADLINE_MS,
// which can only shorten the shipped 60 s); the unit tests measure the 60 s
// bound itself.
#include <chrono>
#include <cstdio>
#include <functional>

#include "harness.h"
#include "hostile_register.h"
#include "host_windows.h"
#include "program_texts.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;

const std::wstring kNumber = L"194501011234";
constexpr Ms kBound{15000};  // from the start to the end of the program
const std::wstring kDeadlineMs = L"2000";

// The test's shortened deadline, for the programs it starts.
class ShortDeadline {
public:
    ShortDeadline() { SetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", kDeadlineMs.c_str()); }
    ~ShortDeadline() { SetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", nullptr); }
    ShortDeadline(const ShortDeadline&) = delete;
    ShortDeadline& operator=(const ShortDeadline&) = delete;
};

// A cn-family answer whose values carry the record's separator and control
// characters (raw bytes of the result document).
const std::string kForgingDocument = hostile::CnDocument({{"cn_fname", "Anna\xC2\xA4" "Evil"},
                                                          {"cn_lname", "Lind\nqvist"},
                                                          {"cn_fo_addr2", "Stor\tgatan"},
                                                          {"cn_fo_addr1", "1"},
                                                          {"cn_fo_zcode", "903 25"},
                                                          {"cn_fo_city", "UME\xC3\x85\xC2\xA4" "AV\xC2\xA4K"}});
const std::wstring kCleanRecord =
    L"194501011234¤Anna Evil¤Lind qvist¤Stor gatan 1¤¤903 25¤UMEÅ AV K¤¤¤";

std::string LolEnvelope() {
    std::string lol = "<?xml version=\"1.0\"?><!DOCTYPE soap:Envelope [<!ENTITY lol \"lollollollollollollollol\">]>"
                      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
                      "<GetPersonResponse xmlns=\"http://popman.mirell.example/HCW/PopulationManager\"><GetPersonResult>";
    for (int i = 0; i < 20000; ++i) lol += "&lol;";
    return lol + "</GetPersonResult></GetPersonResponse></soap:Body></soap:Envelope>";
}

std::string ExternalEntityEnvelope(const std::wstring& secretUrl) {
    return "<?xml version=\"1.0\"?><!DOCTYPE soap:Envelope [<!ENTITY x SYSTEM \"" + Utf8(secretUrl) + "\">]>"
           "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
           "<GetPersonResponse xmlns=\"http://popman.mirell.example/HCW/PopulationManager\"><GetPersonResult>&x;"
           "</GetPersonResult></GetPersonResponse></soap:Body></soap:Envelope>";
}

const std::wstring kStalled = L"Registret svarade inte färdigt inom 2 s - URL:{endpoint} - SOAPAction:"
                              L"http://popman.mirell.example/HCW/PopulationManager/GetPerson";
const std::wstring kDoctype =
    L"Svaret från registret innehåller en dokumenttypsdeklaration (DOCTYPE) och tas inte emot.";
const std::wstring kTooLarge = L"Svaret från registret är större än 4 MB och tas inte emot. - URL:{endpoint}";
const std::wstring kSoapActionEnd = L" - SOAPAction:http://popman.mirell.example/HCW/PopulationManager/GetPerson";
const std::wstring kLengthRepeated =
    L"Svaret från registret anger sin längd mer än en gång (Content-Length) och tas inte emot. - URL:{endpoint}";
const std::wstring kFramedTwoWays = L"Svaret från registret anger sin längd på två sätt (Content-Length och "
                                    L"Transfer-Encoding) och tas inte emot. - URL:{endpoint}";
const std::string kSoapHead = "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n";

// A reply whose length is given twice: first short, then the whole body's.
// The body is larger than what comes in with the headers, so that a client
// that reads it by the short length leaves the rest on the connection.
std::string TwoLengthsReply(std::string_view document) {
    const std::string body = hostile::PaddedPersonReplyBody(document, 100000);
    return kSoapHead + "Content-Length: 10\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::wstring kCutFault = std::wstring(1000, L'x') + L" [...texten avkortad]";

struct HostileCase {
    const char* name;
    // The register's script; `elsewhere` is the second host.
    std::function<hostile::Script(const hostile::Register& elsewhere)> script;
    // What errms starts with and ends with ({endpoint}: the register's); the
    // whole errms is these two when `between` is false.
    std::wstring starts, ends;
    bool between = false;
    bool stalls = false;  // ends at the deadline, not before
    bool found = false;   // a person comes back, with clean values
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

const HostileCase kCases[] = {
    {"SilentAfterAccept", [](auto&) { return hostile::Silent(); }, kStalled, L"", false, true},
    {"HeadersOnly", [](auto&) { return hostile::HeadersOnly(); }, kStalled, L"", false, true},
    {"ShortBody", [](auto&) { return hostile::ShortBody(); }, kStalled, L"", false, true},
    {"UnterminatedChunkedBody", [](auto&) { return hostile::UnterminatedChunks(); }, kStalled, L"", false, true},
    {"Trickle", [](auto&) { return hostile::Trickle(100); }, kStalled, L"", false, true},
    {"Redirect302",
     [](const hostile::Register& e) { return hostile::Redirect(302, "Found", Utf8(e.Endpoint())); },
     L"Found (302) - '{endpoint}'"},
    {"Redirect307",
     [](const hostile::Register& e) { return hostile::Redirect(307, "Temporary Redirect", Utf8(e.Endpoint())); },
     L"Temporary Redirect (307) - '{endpoint}'"},
    {"DtdWithInternalEntities",
     [](auto&) { return hostile::Reply(hostile::Response(200, "OK", "application/soap+xml", LolEnvelope())); },
     kDoctype},
    {"DtdWithAnExternalEntity",
     [](const hostile::Register& e) {
         return hostile::Reply(
             hostile::Response(200, "OK", "application/soap+xml", ExternalEntityEnvelope(e.BaseUrl() + L"/hemligt")));
     },
     kDoctype},
    {"DtdInTheAnswerDocument",
     [](auto&) {
         return hostile::Reply(hostile::PersonReply(
             "<?xml version=\"1.0\"?><!DOCTYPE PopulationManager [<!ENTITY n \"Anna\">]>"
             "<PopulationManager><PersonInfo><cn_fname>&n;</cn_fname><cn_lname>X</cn_lname></PersonInfo>"
             "</PopulationManager>"));
     },
     kDoctype},
    {"InvalidUtf8",
     [](auto&) {
         return hostile::Reply(hostile::PersonReply(hostile::CnDocument(
             {{"cn_fname", "Anna"}, {"cn_lname", "\xFF\xFE\xC3\x28\xED\xA0\x80"}, {"cn_fo_city", "UME\xC5"}})));
     },
     L"Svaret från registret är inte giltig UTF-8 (byte ", L") och tas inte emot.", true},
    {"OversizedReply",
     [](auto&) {
         return hostile::Chunked("application/soap+xml; charset=utf-8",
                                 hostile::PaddedPersonReplyBody(kForgingDocument, 5 * 1024 * 1024));
     },
     kTooLarge, L" - SOAPAction:http://popman.mirell.example/HCW/PopulationManager/GetPerson"},
    // 200 MB announced and sent as fast as it is taken: refused by the
    // announcement, not cut by the deadline.
    {"TwoHundredMegabytesAnnounced",
     [](auto&) {
         return hostile::Script{{{kSoapHead + "Content-Length: 209715200\r\n\r\n"}, {std::string(65536, ' '), 0, 0, 3200}}};
     },
     kTooLarge, kSoapActionEnd},
    {"ContentLengthTwice", [](auto&) { return hostile::Reply(TwoLengthsReply(kForgingDocument)); }, kLengthRepeated,
     kSoapActionEnd},
    {"ContentLengthAndChunked",
     [](auto&) {
         return hostile::Reply(kSoapHead + "Content-Length: 10\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n0\r\n\r\n");
     },
     kFramedTwoWays, kSoapActionEnd},
    {"HugeFaultText", [](auto&) { return hostile::Reply(hostile::FaultReply(std::string(1024 * 1024, 'x'))); },
     kCutFault},
    {"SeparatorAndControlCharactersInValues",
     [](auto&) { return hostile::Reply(hostile::PersonReply(kForgingDocument)); }, L"", L"", false, false, true},
};

std::wstring Expand(std::wstring text, const hostile::Register& reg) {
    const std::wstring marker = L"{endpoint}";
    for (size_t at = 0; (at = text.find(marker, at)) != std::wstring::npos;) text.replace(at, marker.size(), reg.Endpoint());
    return text;
}

::testing::AssertionResult ErrmsAsExpected(const std::wstring& errms, const HostileCase& c,
                                           const hostile::Register& reg) {
    const std::wstring starts = Expand(c.starts, reg), ends = Expand(c.ends, reg) + L"\r\nFel i .: ";
    const bool ok = c.between ? errms.size() >= starts.size() + ends.size() && errms.rfind(starts, 0) == 0 &&
                                    errms.compare(errms.size() - ends.size(), ends.size(), ends) == 0
                              : errms == starts + ends;
    if (ok) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "errms " << Printable(errms.substr(0, 400)) << " is not "
                                         << Printable(starts) << (c.between ? " ... " : "") << Printable(ends);
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class HostileRegisterPersonnr : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileRegisterPersonnr, EndsInTimeSaysWhyAndHandsOnNothingForged) {
    const HostileCase& c = GetParam();
    ShortDeadline deadline;
    hostile::Register elsewhere(hostile::Reply(hostile::PersonReply(hostile::CnDocument({{"cn_fname", "Fel"}}))));
    hostile::Register reg(c.script(elsewhere));
    ASSERT_TRUE(elsewhere.ok() && reg.ok());
    HostLog hosts;
    FakeHost host(hosts, kPagesDlg);
    ASSERT_TRUE(host.ok());

    ProgramRun run({.args = {L"PERSONNR:19450101-1234"}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", e2e::RegisterIni{.logAddr = Utf8(reg.Endpoint())}.Text()));
    ASSERT_TRUE(run.Start());
    const Outcome out = run.Finish(IDOK, kBound);
    const double took = SecondsSince(run.started());
    ASSERT_TRUE(out.exitCode) << "the program did not end within " << kBound.count() << " ms\n" << run.log().Dump();
    EXPECT_EQ(out.exitCode, c.found ? 0u : 2u);

    if (c.found) {
        EXPECT_TRUE(out.boxes.empty()) << run.log().Dump();
        const auto got = hosts.Deliveries();
        ASSERT_EQ(got.size(), 1u) << hosts.Dump();
        ASSERT_TRUE(got[0].atomText);
        EXPECT_PRED_FORMAT2(SameText, *got[0].atomText, kCleanRecord);
    } else {
        ASSERT_EQ(out.boxes.size(), 1u) << run.log().Dump();
        const std::wstring& text = out.boxes[0].text;
        ASSERT_EQ(text.rfind(texts::kLookupFailedPrefix, 0), 0u) << Printable(text.substr(0, 200));
        EXPECT_TRUE(ErrmsAsExpected(text.substr(texts::kLookupFailedPrefix.size()), c, reg));
        EXPECT_LT(text.size(), 2500u) << "a box of a sane length";
        EXPECT_TRUE(hosts.Deliveries().empty()) << hosts.Dump();
    }
    if (c.stalls) {
        EXPECT_GE(took, 2.0) << "ended before the deadline: something else stopped it";
    }
    EXPECT_EQ(reg.Connections(), 1);
    EXPECT_EQ(elsewhere.Connections(), 0) << "a host that the settings do not name was reached";
}

INSTANTIATE_TEST_SUITE_P(HostileRegister, HostileRegisterPersonnr, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase>& test) { return std::string(test.param.name); });

class HostileRegisterUpdateAll : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileRegisterUpdateAll, EndsInTimeSaysWhyAndLeavesTheRowAlone) {
    const HostileCase& c = GetParam();
    ShortDeadline deadline;
    hostile::Register elsewhere(hostile::Reply(hostile::PersonReply(hostile::CnDocument({{"cn_fname", "Fel"}}))));
    // A stall is the register out of reach, not an answer: the lookup is
    // made again, and the register's next reply (the person) is the
    // patient's. (Why a stalled lookup fails: HostileRegisterPersonnr.)
    std::vector<hostile::Script> scripts = {c.script(elsewhere)};
    if (c.stalls) scripts.push_back(hostile::Reply(hostile::PersonReply(kForgingDocument)));
    hostile::Register reg(scripts);
    ASSERT_TRUE(elsewhere.ok() && reg.ok());

    TempFolder data(L"tolmar-hostile");
    PatientTable table(Engine::Sqlite, data);
    const std::wstring dataLink = WriteDataLink(data, L"klinik.udl", OdbcDataLink(table.odbcString()));
    Row before = {{L"PATIENTNR", L"1"},          {L"PERSONNR", kNumber}, {L"F_RNAMN", L"Gammal"},
                  {L"EFTERNAMN", L"Gammalsson"}, {L"ADRESS", L"Väg 1"},  {L"POSTNR", L"111 11"},
                  {L"ORT", L"STAD"}};
    table.Insert({before});

    ProgramRun run({.args = {L"UPDATE_ALL", dataLink}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", upd::RegisterIniFor(reg.Endpoint())));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithoutBoxes(run, kBound))
        << "connections " << reg.Connections() << ", requests " << reg.Requests() << "\n"
        << upd::RunLog(run.folder()).value_or("(no log)");
    const double took = SecondsSince(run.started());
    const auto errors = run.folder().ReadFile(ErrorsFileName());

    if (c.found || c.stalls) {
        EXPECT_TRUE(ErrorsFileHolds(errors, {Text(L"Antal poster redigerade: 1")}));
        const Row row = table.Rows().at(1);
        EXPECT_EQ(row.at(L"F_RNAMN"), L"Anna Evil");
        EXPECT_EQ(row.at(L"EFTERNAMN"), L"Lind qvist");
        EXPECT_EQ(row.at(L"ADRESS"), L"Stor gatan 1");
        EXPECT_EQ(row.at(L"ORT"), L"UMEÅ AV K");
    } else {
        const std::wstring line = L"Ett fel uppstod vid sökning av personnummer " + kNumber + L"; Fel: -400, ";
        const std::wstring starts = Expand(c.starts, reg), ends = Expand(c.ends, reg) + L"\r\nFel i .: ";
        const Line expected = c.between ? Line{Lit(line + starts), Any(), Lit(ends)} : Line{Lit(line + starts + ends)};
        EXPECT_TRUE(ErrorsFileHolds(errors, {expected, Text(L"Antal poster redigerade: 0")}));
        EXPECT_TRUE(SameRows(table.Rows(), {before}));
    }
    if (c.stalls) {
        EXPECT_GE(took, 2.0) << "ended before the deadline: something else stopped it";
    }
    EXPECT_EQ(reg.Connections(), c.stalls ? 2 : 1);
    EXPECT_EQ(elsewhere.Connections(), 0) << "a host that the settings do not name was reached";
}

INSTANTIATE_TEST_SUITE_P(HostileRegister, HostileRegisterUpdateAll, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase>& test) { return std::string(test.param.name); });

// A register that keeps its connections open for the next request, and
// whose first reply gives its length twice: that patient's lookup fails at
// once with the reason, and the next patient's, in the same run, is
// answered and saved.
TEST(HostileRegisterKeptConnection, ABadlyFramedReplyFailsOnlyItsOwnPatient) {
    ShortDeadline deadline;
    const std::string next = hostile::CnDocument({{"cn_fname", "Nästa"}, {"cn_lname", "Patient"}});
    hostile::Register reg({hostile::Kept(hostile::Reply(TwoLengthsReply(kForgingDocument))),
                           hostile::Kept(hostile::Reply(hostile::WithoutClose(hostile::PersonReply(next))))});
    ASSERT_TRUE(reg.ok());

    TempFolder data(L"tolmar-hostile");
    PatientTable table(Engine::Sqlite, data);
    const std::wstring dataLink = WriteDataLink(data, L"klinik.udl", OdbcDataLink(table.odbcString()));
    const std::wstring second = L"194502021234";
    Row first = {{L"PATIENTNR", L"1"},          {L"PERSONNR", kNumber}, {L"F_RNAMN", L"Gammal"},
                 {L"EFTERNAMN", L"Gammalsson"}, {L"ADRESS", L"Väg 1"},  {L"POSTNR", L"111 11"},
                 {L"ORT", L"STAD"}};
    Row other = first;
    other[L"PATIENTNR"] = L"2";
    other[L"PERSONNR"] = second;
    table.Insert({first, other});

    ProgramRun run({.args = {L"UPDATE_ALL", dataLink}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", upd::RegisterIniFor(reg.Endpoint())));
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithoutBoxes(run, kBound));
    const double took = SecondsSince(run.started());
    const auto errors = run.folder().ReadFile(ErrorsFileName());

    const std::wstring line = L"Ett fel uppstod vid sökning av personnummer " + kNumber + L"; Fel: -400, ";
    EXPECT_TRUE(ErrorsFileHolds(errors, {Line{Lit(line + Expand(kLengthRepeated, reg) + kSoapActionEnd + L"\r\nFel i .: ")},
                                         Text(L"Antal poster redigerade: 1")}));
    const auto rows = table.Rows();
    EXPECT_EQ(rows.at(1).at(L"F_RNAMN"), L"Gammal");
    EXPECT_EQ(rows.at(2).at(L"F_RNAMN"), L"Nästa");
    EXPECT_EQ(rows.at(2).at(L"EFTERNAMN"), L"Patient");
    EXPECT_LT(took, 10.0) << "a lookup waited for its deadline";
    EXPECT_EQ(reg.Requests(), 2);
    EXPECT_EQ(reg.Connections(), 2) << "the refused reply's connection was used again";
    std::printf("two patients: %.2f s, %d connection(s) for %d requests, %d closed by the program\n", took,
                reg.Connections(), reg.Requests(), reg.ClosedByClient());
}

// A personal number with the record's separator in it is no number: nothing
// is looked up and nothing is sent.
TEST(HostileStartParameter, ASeparatorInTheNumberIsAnInvalidNumber) {
    hostile::Register reg(hostile::Reply(hostile::PersonReply(kForgingDocument)));
    ASSERT_TRUE(reg.ok());
    HostLog hosts;
    FakeHost host(hosts, kPagesDlg);
    ASSERT_TRUE(host.ok());
    ProgramRun run({.args = {L"PERSONNR:19450101-12¤4"}});
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", e2e::RegisterIni{.logAddr = Utf8(reg.Endpoint())}.Text()));
    ASSERT_TRUE(run.Start());
    run.Finish(IDOK, kBound);
    EXPECT_TRUE(MatchesSequence(run.log(), {expect::Box(L"Information", texts::kInvalidNumber), expect::Closed(IDOK),
                                            expect::Exit(2)}));
    EXPECT_TRUE(hosts.Deliveries().empty()) << hosts.Dump();
    EXPECT_EQ(reg.Connections(), 0);
}

}  // namespace
