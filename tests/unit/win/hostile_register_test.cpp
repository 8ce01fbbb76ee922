// The register client against a register that misbehaves on purpose
// (tests/support/hostile_register.*): every call ends within its bound,
// redirects are not followed, and replies that are too large, not UTF-8 or
// carry a DTD are refused before the XML parser sees them.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <vector>

#include "hostile_register.h"
#include "register/reply_guard.h"
#include "register/soap_headers.h"
#include "register/soap_request.h"
#include "register/win/http_transport.h"
#include "register/win/person_lookup.h"
#include "register/win/ws_pop_man.h"
#include "tools/environment.h"
#include "tools/error.h"
#include "tools/text.h"
#include "tools/win/unique.h"
#include "win_test_support.h"

using namespace tolmar;
using namespace tolmar::win;
using tolmar::test::TempFolder;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

const std::wstring kAction = L"http://popman.mirell.example/HCW/PopulationManager/GetPerson";

std::string Envelope(std::string_view bodyContent) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>" +
           std::string(bodyContent) + "</soap:Body></soap:Envelope>";
}

std::string ResultEnvelope(std::string_view escapedResult) {
    return Envelope("<GetPersonResponse xmlns=\"http://popman.mirell.example/HCW/PopulationManager\">"
                    "<GetPersonResult>" +
                    std::string(escapedResult) + "</GetPersonResult></GetPersonResponse>");
}

// The message of the Error a reply raises, or "(no error)"; what its error
// headers set goes to `headers`.
std::wstring ReplyError(const std::string& body, LastErrorChanges& headers) {
    ComPtr<IXMLDOMDocument2> parser;
    try {
        ReadSoapReply(body, *FindOperation(L"GetPerson"), parser, headers);
    } catch (const std::exception& e) {
        return MessageOf(e);
    }
    return L"(no error)";
}

std::wstring ReplyError(const std::string& body) {
    LastErrorChanges headers;
    return ReplyError(body, headers);
}

std::wstring PostError(const HttpTransport& transport) {
    try {
        transport.Post(L"application/soap+xml; charset=utf-8", "<x/>", kAction);
    } catch (const std::exception& e) {
        return MessageOf(e);
    }
    return L"(no error)";
}

// The ids of this process's threads.
std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> ids;
    const UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{sizeof(entry)};
    if (!snapshot) return ids;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    return ids;
}

// The lookup against an endpoint, with "tolmar.ini" in a folder of its own.
class HostileLookup : public tolmar::test::LookupTest {
protected:
    Outcome LookupAt(const std::wstring& endpoint) {
        UseRegisterAt(endpoint);
        return Lookup(L"194501011234");
    }
};

}  // namespace

// A register that accepts and then stalls, in each way it can: the call
// ends at its deadline, with a text that says so.
TEST(HostileRegisterBounds, EveryStalledReplyEndsAtTheDeadline) {
    struct Case {
        const char* name;
        hostile::Script script;
    };
    const Case cases[] = {
        {"silent after accept", hostile::Silent()},
        {"headers only", hostile::HeadersOnly()},
        {"short body", hostile::ShortBody()},
        {"unterminated chunked body", hostile::UnterminatedChunks()},
        {"a trickle, a byte every 100 ms", hostile::Trickle(100)},
    };
    constexpr unsigned long kDeadline = 1500;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hostile::Register reg(c.script);
        ASSERT_TRUE(reg.ok());
        HttpSession http;
        const HttpTransport transport(http, reg.Endpoint(), kDeadline);
        const auto start = Clock::now();
        const std::wstring error = PostError(transport);
        const double took = SecondsSince(start);
        EXPECT_EQ(error, DeadlinePassedText(kDeadline) + L" - URL:" + reg.Endpoint() + L" - SOAPAction:" + kAction);
        EXPECT_GE(took, 1.4);
        EXPECT_LT(took, 4.0);
        EXPECT_EQ(reg.Connections(), 1);
    }
}

// The session hands its exchanges to threads that it keeps for the next
// one. When it ends it waits for none of them, and they end after it: at
// once when idle, after its exchange when one is still in WinINet after its
// caller gave up at the deadline.
TEST(HostileRegisterBounds, TheKeptThreadsEndAfterTheirSession) {
    struct Case {
        const char* name;
        hostile::Script script;
    };
    const Case cases[] = {
        {"an exchange that ended", hostile::Reply(hostile::Response(200, "OK", "text/plain", "svar"))},
        {"an exchange abandoned at its deadline", hostile::Silent()},
        // Closing a refused reply's request reads on while the register
        // sends (Wine's WinINet does, 200 MB here): never on the thread that
        // ends the session.
        {"a reply refused while the register keeps sending",
         {{{"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 209715200\r\n\r\n"},
           {std::string(65536, ' '), 0, 0, 3200}}}},
    };
    constexpr unsigned long kDeadline = 500;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto reg = std::make_unique<hostile::Register>(c.script);
        ASSERT_TRUE(reg->ok());
        const std::set<DWORD> before = ThreadsOfThisProcess();
        auto http = std::make_unique<HttpSession>();
        PostError(HttpTransport(*http, reg->Endpoint(), kDeadline));
        std::vector<UniqueKernelHandle> started;
        std::vector<HANDLE> waits;
        for (DWORD id : ThreadsOfThisProcess()) {
            if (before.count(id)) continue;
            started.emplace_back(OpenThread(SYNCHRONIZE, FALSE, id));
            if (started.back()) waits.push_back(started.back().get());
        }
        ASSERT_FALSE(waits.empty());  // the exchange's own thread at least

        const auto start = Clock::now();
        http.reset();
        EXPECT_LT(SecondsSince(start), 0.2);
        reg.reset();  // a register that keeps sending stops
        const DWORD ended = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), TRUE, 5000);
        EXPECT_EQ(ended, WAIT_OBJECT_0) << waits.size() << " threads started, not all ended";
    }
}

// The shipped bound itself, with the case no time-out of WinINet's ends: a
// reply that keeps arriving, a byte every 200 ms.
TEST(HostileRegisterBounds, ATrickleEndsAtSixtySeconds) {
    ASSERT_EQ(GetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", nullptr, 0), 0u)
        << "the shipped bound is measured here: TOLMAR_REGISTER_DEADLINE_MS must not be set";
    hostile::Register reg(hostile::Trickle(200));
    ASSERT_TRUE(reg.ok());
    HttpSession http;
    const HttpTransport transport(http, reg.Endpoint());
    EXPECT_EQ(transport.deadlineMs(), 60000u);
    const auto start = Clock::now();
    const std::wstring error = PostError(transport);
    const double took = SecondsSince(start);
    EXPECT_EQ(error.rfind(L"Registret svarade inte färdigt inom 60 s - URL:", 0), 0u) << ToUtf8(error);
    EXPECT_GE(took, 59.5);
    EXPECT_LT(took, 63.0);
}

TEST(HostileRegisterBounds, TheTestOverrideOnlyShortensTheBound) {
    struct Case {
        const wchar_t* value;
        unsigned long ms;
    };
    HttpSession http;
    for (const Case c : {Case{L"2500", 2500}, Case{L"600000", 60000}, Case{L"abc", 60000}}) {
        SetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", c.value);
        EXPECT_EQ(LookupDeadlineMsFromEnvironment(), c.ms) << ToUtf8(c.value);
        EXPECT_EQ(HttpTransport(http, L"http://127.0.0.1:9/").deadlineMs(), c.ms);
    }
    SetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", nullptr);
    EXPECT_EQ(LookupDeadlineMsFromEnvironment(), 60000u);
}

// Any 3xx is a failed call with the status text, and the host it names
// hears nothing, the login least of all.
TEST_F(HostileLookup, RedirectsAreNotFollowed) {
    hostile::Register elsewhere(hostile::Reply(hostile::PersonReply(
        hostile::CnDocument({{"cn_fname", "Fel"}, {"cn_lname", "V\xC3\xA4rd"}}))));
    ASSERT_TRUE(elsewhere.ok());
    struct Case {
        int status;
        const char* reason;
    };
    for (const Case c : {Case{301, "Moved Permanently"}, Case{302, "Found"}, Case{303, "See Other"},
                         Case{307, "Temporary Redirect"}, Case{308, "Permanent Redirect"}}) {
        SCOPED_TRACE(c.status);
        hostile::Register reg(hostile::Redirect(c.status, c.reason, ToUtf8(elsewhere.Endpoint())));
        ASSERT_TRUE(reg.ok());
        const Outcome out = LookupAt(reg.Endpoint());
        EXPECT_EQ(out.code, -400);
        EXPECT_EQ(out.errms, FromUtf8(c.reason) + L" (" + std::to_wstring(c.status) + L") - '" + reg.Endpoint() +
                                 L"'\r\nFel i .: ");
        EXPECT_TRUE(out.person.FirstName.empty());
        EXPECT_EQ(reg.Connections(), 1);
    }
    EXPECT_EQ(elsewhere.Connections(), 0);
    EXPECT_EQ(elsewhere.BytesReceived(), 0);
}

TEST_F(HostileLookup, RepliesOverTheLimitAreRefused) {
    const std::string document = hostile::CnDocument({{"cn_fname", "Stor"}, {"cn_lname", "Svar"}});
    const std::string big = hostile::PaddedPersonReplyBody(document, 5 * 1024 * 1024);
    struct Case {
        const char* name;
        hostile::Script script;
    };
    const Case cases[] = {
        {"announced length", hostile::Reply(hostile::Response(200, "OK", "application/soap+xml; charset=utf-8", big))},
        {"chunked, no length", hostile::Chunked("application/soap+xml; charset=utf-8", big)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hostile::Register reg(c.script);
        ASSERT_TRUE(reg.ok());
        const auto start = Clock::now();
        const Outcome out = LookupAt(reg.Endpoint());
        EXPECT_EQ(out.code, -400);
        EXPECT_EQ(out.errms.rfind(ReplyTooLargeText() + L" - URL:" + reg.Endpoint(), 0), 0u) << ToUtf8(out.errms);
        EXPECT_LT(SecondsSince(start), 10.0);
    }
    // Just under the limit is an ordinary answer.
    hostile::Register fits(hostile::Reply(hostile::Response(
        200, "OK", "application/soap+xml; charset=utf-8", hostile::PaddedPersonReplyBody(document, kMaxReplyBytes))));
    const Outcome out = LookupAt(fits.Endpoint());
    EXPECT_EQ(out.code, 0) << ToUtf8(out.errms);
    EXPECT_EQ(out.person.FirstName, std::wstring_view(L"Stor"));
}

// A reply whose framing is refused (its announced length over the limit,
// its length given twice, or given two ways) ends its exchange at once,
// however much the register goes on sending, and the next exchange of the
// same session, to the same register, gets its answer on a connection of
// its own: not on the refused reply's, where the rest of that reply would
// be read as the answer. The register keeps each connection open for
// another request, as a register does.
TEST(HostileRegisterFraming, ARefusedReplyEndsAtOnceAndTheNextExchangeIsAnswered) {
    const std::string good =
        hostile::WithoutClose(hostile::PersonReply(hostile::CnDocument({{"cn_fname", "Nästa"}, {"cn_lname", "Patient"}})));
    // Larger than what WinINet takes in with the headers, so that what it
    // leaves of the body stays on the connection.
    const std::string body = hostile::PaddedPersonReplyBody(hostile::CnDocument({{"cn_fname", "Fel"}}), 100000);
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n";
    struct Case {
        const char* name;
        hostile::Script bad;
        std::wstring refusal;
    };
    const Case cases[] = {
        // 200 MB announced, and sent as fast as the client takes it.
        {"200 MB announced", {{{head + "Content-Length: 209715200\r\n\r\n"}, {std::string(65536, ' '), 0, 0, 3200}}},
         ReplyTooLargeText()},
        {"two lengths, the first short",
         {{{head + "Content-Length: 10\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body}}},
         ReplyLengthRepeatedText()},
        {"two lengths, the second short",
         {{{head + "Content-Length: " + std::to_string(body.size()) + "\r\nContent-Length: 10\r\n\r\n" + body}}},
         ReplyLengthRepeatedText()},
        {"length and chunked",
         {{{head + "Content-Length: 10\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcde\r\n0\r\n\r\n"}}},
         ReplyFramedTwoWaysText()},
    };
    constexpr unsigned long kDeadline = 5000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hostile::Register reg({hostile::Kept(c.bad), hostile::Kept(hostile::Reply(good))});
        ASSERT_TRUE(reg.ok());
        HttpSession http;
        const HttpTransport transport(http, reg.Endpoint(), kDeadline);
        const auto start = Clock::now();
        EXPECT_EQ(PostError(transport), c.refusal + L" - URL:" + reg.Endpoint() + L" - SOAPAction:" + kAction);
        const double took = SecondsSince(start);
        EXPECT_LT(took, 1.0) << "the refused reply was read on instead of given up at once";

        HttpReply next;
        ASSERT_NO_THROW(next = transport.Post(L"application/soap+xml; charset=utf-8", "<x/>", kAction));
        EXPECT_EQ(next.status, 200u);
        EXPECT_EQ(next.body, good.substr(good.find("\r\n\r\n") + 4));
        EXPECT_EQ(reg.Requests(), 2);
        EXPECT_EQ(reg.Connections(), 2) << "the refused reply's connection was used again";
        std::printf("%s: refused in %.3f s; %d connection(s), %d closed by the client\n", c.name, took,
                    reg.Connections(), reg.ClosedByClient());
    }
}

// A length that is no number is refused like any malformed reply: before,
// it ended the program.
TEST_F(HostileLookup, ALengthThatIsNoNumberIsRefused) {
    hostile::Register reg(hostile::Reply(
        "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: abc\r\n"
        "Connection: close\r\n\r\n" +
        hostile::PaddedPersonReplyBody(hostile::CnDocument({{"cn_fname", "Ingen"}, {"cn_lname", "L\xC3\xA4ngd"}}),
                                       0)));
    ASSERT_TRUE(reg.ok());
    const Outcome out = LookupAt(reg.Endpoint());
    EXPECT_EQ(out.code, -400);
    EXPECT_EQ(out.errms.rfind(L"Svaret från registret har en ogiltig längd (Content-Length: \"abc\") och tas inte "
                              L"emot. - URL:" + reg.Endpoint(),
                              0),
              0u)
        << ToUtf8(out.errms);
}

TEST(HostileRegisterReplies, BytesThatAreNotUtf8AreRefused) {
    struct Case {
        const char* name;
        std::string value;
        std::size_t offsetInValue;
    };
    const Case cases[] = {
        {"FF FE", "\xFF\xFE", 0},
        {"C3 28", "a\xC3\x28", 1},
        {"an encoded surrogate", "\xED\xA0\x80", 0},
        {"Latin-1", "UME\xC5", 3},
    };
    const std::string whole = ResultEnvelope("&lt;PersonInfo&gt;&lt;cn_fname&gt;|&lt;/cn_fname&gt;&lt;/PersonInfo&gt;");
    const std::string before = whole.substr(0, whole.find('|')), after = whole.substr(whole.find('|') + 1);
    EXPECT_EQ(ReplyError(before + "Anna" + after), L"(no error)");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReplyError(before + c.value + after), ReplyNotUtf8Text(before.size() + c.offsetInValue));
    }
}

TEST(HostileRegisterReplies, ADtdIsRefusedBeforeTheParserSeesIt) {
    std::string lol = "<?xml version=\"1.0\"?><!DOCTYPE soap:Envelope [<!ENTITY lol \"lollollollollollollollol\">]>"
                      "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
                      "<GetPersonResponse xmlns=\"http://popman.mirell.example/HCW/PopulationManager\"><GetPersonResult>";
    for (int i = 0; i < 20000; ++i) lol += "&lol;";
    lol += "</GetPersonResult></GetPersonResponse></soap:Body></soap:Envelope>";
    const auto start = Clock::now();
    EXPECT_EQ(ReplyError(lol), ReplyHasDoctypeText());
    EXPECT_LT(SecondsSince(start), 2.0);

    hostile::Register secret(hostile::Reply(hostile::Response(200, "OK", "text/plain", "hemligt")));
    ASSERT_TRUE(secret.ok());
    std::string envelope = ResultEnvelope("&x;");
    envelope.erase(0, envelope.find("?>") + 2);
    const std::string external = "<?xml version=\"1.0\"?><!DOCTYPE e [<!ENTITY x SYSTEM \"" +
                                 ToUtf8(secret.BaseUrl()) + "/hemligt\">]>" + envelope;
    EXPECT_EQ(ReplyError(external), ReplyHasDoctypeText());
    EXPECT_EQ(ReplyError("<!DOCTYPE x>" + ResultEnvelope("x")), ReplyHasDoctypeText());
    EXPECT_EQ(secret.Connections(), 0);
}

TEST_F(HostileLookup, AnAnswerDocumentWithADtdIsRefused) {
    hostile::Register reg(hostile::Reply(hostile::PersonReply(
        "<?xml version=\"1.0\"?><!DOCTYPE PopulationManager [<!ENTITY n \"Anna\">]>"
        "<PopulationManager><PersonInfo><cn_fname>&n;</cn_fname></PersonInfo></PopulationManager>")));
    ASSERT_TRUE(reg.ok());
    const Outcome out = LookupAt(reg.Endpoint());
    EXPECT_EQ(out.code, -400);
    EXPECT_EQ(out.errms, ReplyHasDoctypeText() + L"\r\nFel i .: ");
    EXPECT_TRUE(out.person.FirstName.empty());
}

TEST(HostileRegisterReplies, HugeTextsAreCutInErrorTexts) {
    const std::string huge(1024 * 1024, 'r');
    const std::wstring cut = std::wstring(kMaxRegisterTextLength, L'r') + std::wstring(kCutMark);
    const std::string fault =
        "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\">"
        "<soap:Header><HeaderErrorInfo xmlns=\"http://popman.mirell.example/HCW/PopulationManager\">"
        "<FunctionName>" + huge + "</FunctionName><Severity>Critical</Severity><ModuleName>Pop</ModuleName>"
        "<Description>" + huge + "</Description><Code>1</Code></HeaderErrorInfo></soap:Header><soap:Body>"
        "<soap:Fault><soap:Code><soap:Value>soap:Receiver</soap:Value></soap:Code><soap:Reason>"
        "<soap:Text xml:lang=\"sv\">" + huge + "</soap:Text></soap:Reason></soap:Fault></soap:Body></soap:Envelope>";
    LastErrorChanges headers;
    EXPECT_EQ(ReplyError(fault, headers), cut);
    LastErrorStrings lastErrors;
    headers.ApplyTo(lastErrors);
    EXPECT_EQ(lastErrors.LastErrorFunction, cut);
    EXPECT_EQ(lastErrors.LastErrorDescription, cut);
    EXPECT_EQ(lastErrors.LastErrorModule, L"Pop");

    // Without a Reason, the Detail's XML is the message: cut as well.
    const std::string detail = Envelope("<soap:Fault><soap:Code><soap:Value>soap:Receiver</soap:Value></soap:Code>"
                                        "<soap:Detail><Fel>" + huge + "</Fel></soap:Detail></soap:Fault>");
    const std::wstring message = ReplyError(detail);
    EXPECT_EQ(message.size(), kMaxRegisterTextLength + kCutMark.size());
    EXPECT_EQ(message.rfind(L"<soap:Detail", 0), 0u) << ToUtf8(message.substr(0, 40));
}

// The WSDL document is fetched under the same bounds and refusals.
TEST(HostileRegisterWsdl, AStalledOrRedirectedWsdlGivesNoProxy) {
    SetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", L"1500");
    hostile::Register elsewhere(hostile::Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    hostile::Register silent(hostile::Silent());
    hostile::Register redirect(hostile::Redirect(302, "Found", ToUtf8(elsewhere.Endpoint())));
    hostile::Register doctype(hostile::Reply(hostile::Response(
        200, "OK", "text/xml", "<!DOCTYPE d [<!ENTITY e \"x\">]><definitions>&e;</definitions>")));
    HttpSession http;
    ComPtr<IXMLDOMDocument2> parser;
    LastErrorChanges headers;
    for (hostile::Register* reg : {&silent, &redirect, &doctype}) {
        const auto start = Clock::now();
        EXPECT_FALSE(GetWsPopManSoap(http, parser, headers, true, reg->Endpoint() + L"?wsdl"));
        EXPECT_LT(SecondsSince(start), 4.0);
        EXPECT_EQ(reg->Connections(), 1);
    }
    EXPECT_EQ(elsewhere.Connections(), 0);
    SetEnvironmentVariableW(L"TOLMAR_REGISTER_DEADLINE_MS", nullptr);
}

