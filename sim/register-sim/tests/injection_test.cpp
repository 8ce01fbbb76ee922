#include <gtest/gtest.h>

#include "injection.h"

namespace regsim {
namespace {

TEST(Injection, ParsesEveryKindAndWritesItBack) {
    struct Case {
        const char* form;
        const char* described;  // the canonical text form
    };
    const Case cases[] = {
        {"ok", "ok"},
        {" ok | Description=Bara text ", "ok | Description=Bara text"},
        {"soap-fault", "soap-fault | code=Receiver"},
        {"soap-fault|reason=Nere|detail=<E>x &amp; y</E>|code=Sender",
         "soap-fault | reason=Nere | detail=<E>x &amp; y</E> | code=Sender"},
        {"soap-fault | reason=", "soap-fault | reason= | code=Receiver"},
        {"soap-fault\nFunctionName=GetPerson\nSeverity=Warning\nCode=-5",
         "soap-fault | code=Receiver | FunctionName=GetPerson | Severity=Warning | Code=-5"},
        {"http | status=404", "http | status=404 | type=text/plain; charset=utf-8"},
        {"http | status=500 | body= | type=text/html", "http | status=500 | body= | type=text/html"},
        {"notxml", "notxml | text=Registret är inte tillgängligt just nu"},
        {"result | text=<a/>", "result | text=<a/>"},
        {"empty-result | ErrorType=E", "empty-result | ErrorType=E"},
        {"no-result | children=1", "no-result | children=1"},
        {"drop | delay=50", "drop | delay=50"},
    };
    for (const Case& c : cases) {
        const Injection inj = parse_injection(c.form, false);
        EXPECT_EQ(describe(inj), c.described) << c.form;
        EXPECT_EQ(describe(parse_injection(describe(inj), false)), c.described) << c.form;
    }
    const Injection rt = parse_injection("drop | pnr=19 | count=2", true);
    EXPECT_EQ(rt.pnr, "19");
    EXPECT_EQ(rt.count, 2);
}

TEST(Injection, RefusesWhatItCannotDo) {
    struct Case {
        const char* form;
        bool runtime;
        const char* error;
    };
    const Case cases[] = {
        {"", false, "no kind given"},
        {"boom", false, "unknown kind 'boom'"},
        {"http", false, "http needs status="},
        {"http | status=99", false, "status=99 is not a whole number from 100 to 599"},
        {"http | status=404 | Description=x", false, "key Description does not apply to http"},
        {"drop | FunctionName=x", false, "key FunctionName does not apply to drop"},
        {"ok | reason=x", false, "key reason does not apply to ok"},
        {"result", false, "result needs text="},
        {"soap-fault | detail=<a>", false, "detail is not well-formed XML content"},
        {"soap-fault | code=Client", false, "code=Client is not a SOAP 1.2 fault code"},
        {"ok | Severity=Fatal", false, "Severity=Fatal is not None, Critical, Warning or Information"},
        {"ok | Code=12x", false, "Code=12x is not a whole number"},
        {"ok | delay=-1", false, "delay=-1"},
        {"ok | delay=1 | delay=2", false, "key delay given twice"},
        {"ok | colour=red", false, "unknown key colour"},
        {"ok | pnr=1", false, "key pnr is accepted only by /control/fault"},
        {"ok | count=0", true, "count=0 is not a whole number from 1"},
        {"ok | nonsense", false, "'nonsense' is not key=value"},
    };
    for (const Case& c : cases) {
        try {
            parse_injection(c.form, c.runtime);
            ADD_FAILURE() << "accepted: " << c.form;
        } catch (const InjectionError& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << c.form << " -> " << e.what();
        }
    }
}

}  // namespace
}  // namespace regsim
