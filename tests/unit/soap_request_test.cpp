#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "register/soap_request.h"
#include "tools/text.h"

using namespace tolmar;

namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>";
const std::string kTail = "</soap:Body></soap:Envelope>";

std::string GetPersonBody(const std::string& login, const std::string& pnr, const std::string& flag) {
    return kHead + "<GetPerson xmlns=\"http://popman.mirell.example/HCW/PopulationManager\">" + login +
           "<sPnr>" + pnr + "</sPnr><flagOtherArchive>" + flag + "</flagOtherArchive></GetPerson>" + kTail;
}

}  // namespace

TEST(SoapRequest, ActionAndContentType) {
    EXPECT_EQ(ActionOf(L"GetPerson"), L"http://popman.mirell.example/HCW/PopulationManager/GetPerson");
    EXPECT_EQ(ContentTypeOf(L"GetPopListByName"),
              L"application/soap+xml; charset=utf-8;action=\""
              L"http://popman.mirell.example/HCW/PopulationManager/GetPopListByName\"");
    EXPECT_EQ(kDefaultEndpoint, L"http://popman-test.mirell.example/PopmWs/WSPopMan.asmx");
    EXPECT_EQ(kDefaultWsdlLocation, L"S:\\befolkningsregistret\\SolmarkWSDL\\WSPopMan.wsdl");
}

TEST(SoapRequest, LoginFlagsAreSetByAssigningEvenEmpty) {
    Login login;
    EXPECT_FALSE(login.UserNameSpecified());
    EXPECT_FALSE(login.PasswordSpecified());
    login.SetUserName(L"");
    EXPECT_TRUE(login.UserNameSpecified());
    EXPECT_FALSE(login.PasswordSpecified());
    login.SetPassword(L"pw");
    EXPECT_TRUE(login.PasswordSpecified());
    EXPECT_EQ(login.Password(), L"pw");
}

TEST(SoapRequest, GetPersonEnvelopeTable) {
    Login both;
    both.SetUserName(L"user");
    both.SetPassword(L"secret");
    Login emptyUser;
    emptyUser.SetUserName(L"");
    Login escaped;
    escaped.SetUserName(L"a&b<c>d");
    escaped.SetPassword(L"åäö");

    struct Case {
        const char* name;
        const Login* login;
        std::wstring pnr;
        bool flag;
        std::string want;
    };
    const Case cases[] = {
        {"both login members", &both, L"191212121212", false,
         GetPersonBody("<login><UserName>user</UserName><Password>secret</Password></login>", "191212121212", "false")},
        {"user name assigned empty, password never", &emptyUser, L"191212121212", true,
         GetPersonBody("<login><UserName></UserName></login>", "191212121212", "true")},
        {"nothing assigned: empty login element", nullptr, L"19121212-1212", false,
         GetPersonBody("<login></login>", "19121212-1212", "false")},
        {"text is escaped and sent as UTF-8", &escaped, L"1<2>&3\r\n", false,
         GetPersonBody("<login><UserName>a&amp;b&lt;c&gt;d</UserName><Password>\xc3\xa5\xc3\xa4\xc3\xb6</Password></login>",
                       "1&lt;2&gt;&amp;3&#xD;\n", "false")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Login none;
        EXPECT_EQ(BuildGetPersonRequest(c.login ? *c.login : none, c.pnr, c.flag), c.want);
    }
}

TEST(SoapRequest, EscapeReplacesWhatXmlCannotCarry) {
    EXPECT_EQ(EscapeXmlText(std::wstring(L"a\tb\nc\x01\x1f") + L'\0' + L"\uFFFE\uFFFF\"'"),
              L"a\tb\nc\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\"'");
}

TEST(SoapRequest, TenOperationsInDeclarationOrder) {
    const auto& ops = Operations();
    const wchar_t* names[] = {L"GetPerson",         L"GetPerson_Konvert",        L"GetPopListByPnr_Konvert",
                              L"GetPopListByPnr",   L"GetPopListByName_Konvert", L"GetPopListByName",
                              L"GetCanListByPnr_Konvert", L"GetCanListByPnr",    L"GetCanListByName_Konvert",
                              L"GetCanListByName"};
    ASSERT_EQ(ops.size(), std::size(names));
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const OperationInfo& op = ops[i];
        SCOPED_TRACE(ToUtf8(op.Name));
        EXPECT_EQ(op.Name, names[i]);
        EXPECT_EQ(std::wstring(op.ResultElement), std::wstring(op.Name) + L"Result");
        EXPECT_EQ(op.Parameters[0].Name, L"login");
        EXPECT_EQ(op.Parameters[0].Type, ParameterType::Login);
        const bool byName = op.Name.find(L"ByName") != std::wstring_view::npos;
        EXPECT_EQ(op.Parameters[1].Name, byName ? L"sName" : L"sPnr");
        EXPECT_EQ(op.Parameters[1].Type, ParameterType::String);
        const bool getPerson = i < 2;
        EXPECT_EQ(op.Parameters[2].Name, getPerson ? L"flagOtherArchive" : L"sortBy");
        EXPECT_EQ(op.Parameters[2].Type, getPerson ? ParameterType::Boolean : ParameterType::String);
        EXPECT_EQ(FindOperation(op.Name), &op);
    }
    EXPECT_EQ(FindOperation(L"getperson"), nullptr);
}

TEST(SoapRequest, AnyOperationIsWrappedTheSameWay) {
    Login login;
    login.SetPassword(L"p");
    EXPECT_EQ(BuildRequestEnvelope(L"GetCanListByName_Konvert",
                                   {{L"login", login}, {L"sName", L"Berg & Son"}, {L"sortBy", L""}}),
              kHead +
                  "<GetCanListByName_Konvert xmlns=\"http://popman.mirell.example/HCW/PopulationManager\">"
                  "<login><Password>p</Password></login><sName>Berg &amp; Son</sName><sortBy></sortBy>"
                  "</GetCanListByName_Konvert>" +
                  kTail);
}

TEST(SoapRequest, ArgumentsMustMatchTheOperation) {
    const Login login;
    using Args = std::vector<Argument>;
    const struct {
        const wchar_t* op;
        Args args;
    } bad[] = {
        {L"GetNobody", {{L"login", login}, {L"sPnr", L"1"}, {L"flagOtherArchive", false}}},
        {L"GetPerson", {{L"login", login}, {L"sPnr", L"1"}}},
        {L"GetPerson", {{L"login", login}, {L"sName", L"1"}, {L"flagOtherArchive", false}}},
        {L"GetPerson", {{L"login", login}, {L"sPnr", L"1"}, {L"flagOtherArchive", L"false"}}},
        {L"GetPopListByPnr", {{L"sPnr", L"1"}, {L"login", login}, {L"sortBy", L""}}},
    };
    for (const auto& b : bad) EXPECT_THROW(BuildRequestEnvelope(b.op, b.args), std::invalid_argument);
}
