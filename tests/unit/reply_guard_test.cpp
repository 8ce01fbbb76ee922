// The guards on what the register sends: strict UTF-8, no DTD, the size
// limit, cleaned values and error texts of a sane length.
#include <gtest/gtest.h>

#include <string>

#include "app/notification.h"
#include "register/person_answer.h"
#include "register/reply_guard.h"
#include "tools/text.h"

using namespace tolmar;

namespace {

std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

}  // namespace

TEST(ReplyGuard, StrictUtf8AcceptsEveryWellFormedSequence) {
    struct Case {
        std::string bytes;
        std::wstring text;
    };
    const Case cases[] = {
        {"", L""},
        {"plain <a>&amp;</a>", L"plain <a>&amp;</a>"},
        {"\xC3\x85", L"Å"},                  // Å
        {"\xC2\xA4", L"¤"},                  // ¤, decoded (cleaned later, where values are made)
        {"\xE2\x82\xAC", L"\u20ac"},              // €
        {"\xED\x9F\xBF", L"\ud7ff"},              // last code point before the surrogates
        {"\xEE\x80\x80", L"\ue000"},              // first after them
        {"\xEF\xBB\xBF<a/>", L"\ufeff<a/>"},      // a byte-order mark stays a character
        {"\xF0\x9F\x98\x80", L"\U0001F600"},      // four bytes
        {"\xF4\x8F\xBF\xBF", L"\U0010FFFF"},      // the last code point
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const Case& c : cases) {
        const auto got = DecodeUtf8Strict(c.bytes);
        ASSERT_TRUE(got) << Hex(c.bytes);
        EXPECT_EQ(*got, c.text) << Hex(c.bytes);
    }
}

TEST(ReplyGuard, StrictUtf8RefusesEveryMalformedSequenceAndNamesItsOffset) {
    struct Case {
        std::string bytes;
        std::size_t offset;
    };
    const Case cases[] = {
        {"ab\xFF\xFE", 2},             // not UTF-8 at all (a UTF-16 byte-order mark)
        {"\xC3\x28", 0},               // a lead byte without its continuation
        {"x\xED\xA0\x80", 1},          // an encoded surrogate (U+D800)
        {"\xED\xBF\xBF", 0},           // U+DFFF
        {"UME\xC5", 3},                // Latin-1 "Å", cut short at the end
        {"UME\xC5 x", 3},              // Latin-1 "Å" before a blank
        {"\x80", 0},                   // a stray continuation byte
        {"\xC0\xAF", 0},               // overlong "/"
        {"\xC1\xBF", 0},               // overlong
        {"\xE0\x80\xAF", 0},           // overlong in three bytes
        {"\xF0\x80\x80\xAF", 0},       // overlong in four bytes
        {"\xF4\x90\x80\x80", 0},       // above U+10FFFF
        {"\xF5\x80\x80\x80", 0},       // a lead byte that never occurs
        {"ok\xE2\x82", 2},             // truncated at the end
        {"\xE2\x28\xA1", 0},           // a bad second byte
        {"\xF0\x9F\x98", 0},           // four-byte sequence missing its last byte
    };
    for (const Case& c : cases) {
        std::size_t offset = 999;
        EXPECT_FALSE(DecodeUtf8Strict(c.bytes, &offset)) << Hex(c.bytes);
        EXPECT_EQ(offset, c.offset) << Hex(c.bytes);
    }
    // The failure text names the offset.
    EXPECT_NE(ReplyNotUtf8Text(17).find(L"17"), std::wstring::npos);
}

TEST(ReplyGuard, DoctypeIsFoundInAnyCaseAndAnywhere) {
    const std::wstring lol =
        L"<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">]><lolz>&lol;&lol;</lolz>";
    const std::wstring external =
        L"<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e SYSTEM \"http://127.0.0.1:9/secret\">]><r>&e;</r>";
    struct Case {
        std::wstring xml;
        bool refused;
    };
    const Case cases[] = {
        {lol, true},
        {external, true},
        {L"<!DOCTYPE html><html/>", true},
        {L"<!doctype x><x/>", true},
        {L"<!DocType x><x/>", true},
        {L"<a><![CDATA[<!DOCTYPE hidden>]]></a>", true},  // refused too: no parser sees it
        {L"<a>x</a><!DOCTYPE", true},
        {L"", false},
        {L"<a/>", false},
        {L"<!-- a comment --><a/>", false},
        {L"<a><![CDATA[x]]></a>", false},
        {L"<a>&lt;!DOCTYPE x&gt;</a>", false},  // escaped: text, not a declaration
        {L"<!DOCTYP", false},
        {L"<!", false},
        {L"DOCTYPE <a/>", false},
    };
    for (const Case& c : cases) EXPECT_EQ(HasDoctype(c.xml), c.refused) << ToUtf8(c.xml);
}

TEST(ReplyGuard, ValuesLoseEverySeparatorAndControlCharacter) {
    EXPECT_EQ(CleanRegisterValue(L"Anna¤Evil"), L"Anna Evil");
    EXPECT_EQ(CleanRegisterValue(L"UMEÅ¤AV¤K"), L"UMEÅ AV K");
    EXPECT_EQ(CleanRegisterValue(L"Lind\nqvist\r\t"), L"Lind qvist  ");
    EXPECT_EQ(CleanRegisterValue(std::wstring(L"a\0b\x1f" L"c", 5)), L"a b c");
    // Everything else stays: blanks, the first printable character, letters
    // beyond Latin-1, DEL.
    const std::wstring kept = L" !~\u007f\u00c5\u00e4\u20ac\U0001F600";
    EXPECT_EQ(CleanRegisterValue(kept), kept);

    EXPECT_TRUE(IsCleanNumber(L"194501011234"));
    EXPECT_TRUE(IsCleanNumber(L"abcdefghijkl"));
    EXPECT_FALSE(IsCleanNumber(L"19450101¤234"));
    EXPECT_FALSE(IsCleanNumber(L"1945010\n1234"));
    EXPECT_FALSE(IsCleanNumber(std::wstring(L"19450101\0" L"234", 12)));
}

// The person record read from a hostile answer: every value clean, so the
// host record keeps its nine fields.
TEST(ReplyGuard, AnswerValuesReachTheRecordClean) {
    const std::wstring R =
        L"<PopulationManager><PersonInfo><cn_fname>Anna¤Evil</cn_fname><cn_lname>Lind\nqvist¤</cn_lname>"
        L"<cn_fo_addr2>Storgatan\t</cn_fo_addr2><cn_fo_addr1>1¤B</cn_fo_addr1>"
        L"<cn_fo_zcode>903\r25</cn_fo_zcode><cn_fo_city>UMEÅ¤AV¤K</cn_fo_city>"
        L"<cn_su_code>¤</cn_su_code></PersonInfo><Relation>R¤1\n</Relation></PopulationManager>";
    const PersonAnswer got = ReadPersonAnswer(R, L"194501011234");
    ASSERT_EQ(got.ReturnCode, ReturnCode::Found);
    const PersonRecord& r = got.Record;
    EXPECT_EQ(r.FirstName, std::wstring_view(L"Anna Evil"));
    EXPECT_EQ(r.Surname, std::wstring_view(L"Lind qvist"));  // trimmed after cleaning
    EXPECT_EQ(r.Address2, std::wstring_view(L"Storgatan  1 B"));
    EXPECT_EQ(r.PostNumber, std::wstring_view(L"903 25"));
    EXPECT_EQ(r.PostTown, std::wstring_view(L"UMEÅ AV K"));
    EXPECT_EQ(r.Status, std::wstring_view(L""));
    EXPECT_EQ(r.Relation, std::wstring_view(L"R 1 "));  // not trimmed, but clean
    EXPECT_EQ(r.AllaNamn, std::wstring_view(L"Anna Evil"));

    const std::wstring record = NotificationRecord(L"194501011234", r);
    EXPECT_EQ(record,
              L"194501011234¤Anna Evil¤Lind qvist¤Storgatan  1 B¤¤903 25¤"
              L"UMEÅ AV K¤¤¤");
}

TEST(ReplyGuard, RegisterTextsAreCutAtASaneLengthAndMarked) {
    const std::wstring exact(kMaxRegisterTextLength, L'x');
    EXPECT_EQ(CutRegisterText(exact), exact);
    EXPECT_EQ(CutRegisterText(L"kort"), L"kort");

    const std::wstring huge(1024 * 1024, L'r');
    const std::wstring cut = CutRegisterText(huge);
    EXPECT_EQ(cut, std::wstring(kMaxRegisterTextLength, L'r') + std::wstring(kCutMark));

    // A surrogate pair across the cut goes whole.
    std::wstring pair(kMaxRegisterTextLength - 1, L'a');
    pair += L"\U0001F600tail";
    const std::wstring cutPair = CutRegisterText(pair);
    if constexpr (sizeof(wchar_t) == 2) {
        EXPECT_EQ(cutPair, std::wstring(kMaxRegisterTextLength - 1, L'a') + std::wstring(kCutMark));
    } else {
        EXPECT_EQ(cutPair.size(), kMaxRegisterTextLength + kCutMark.size());
    }
}

TEST(ReplyGuard, DeadlineOverrideCanOnlyShortenTheBound) {
    EXPECT_EQ(kLookupDeadlineMs, 60000u);
    EXPECT_EQ(kMaxReplyBytes, 4u * 1024 * 1024);
    struct Case {
        std::optional<std::string_view> text;
        unsigned long ms;
    };
    const Case cases[] = {
        {std::nullopt, 60000}, {"", 60000},      {"2000", 2000},     {"1", 1},          {"60000", 60000},
        {"60001", 60000},      {"0", 60000},     {"-5", 60000},      {"2s", 60000},     {" 2000", 60000},
        {"99999999999", 60000}, {"0002000", 2000},
    };
    for (const Case& c : cases) EXPECT_EQ(LookupDeadlineMs(c.text), c.ms) << (c.text ? *c.text : "(none)");
    EXPECT_EQ(DeadlinePassedText(60000), L"Registret svarade inte färdigt inom 60 s");
    EXPECT_EQ(DeadlinePassedText(2500), L"Registret svarade inte färdigt inom 3 s");
}

TEST(ReplyGuard, ContentLengthIsANumberWithinTheLimitOrTheReplyIsRefused) {
    const std::wstring limit = std::to_wstring(kMaxReplyBytes), over = std::to_wstring(kMaxReplyBytes + 1);
    struct Case {
        std::wstring value;
        std::optional<std::wstring> refusal;
    };
    const std::wstring notANumber = L"Svaret från registret har en ogiltig längd (Content-Length: \"";
    const Case cases[] = {
        {L"", std::nullopt},
        {L" 512 ", std::nullopt},
        {limit, std::nullopt},
        {L"000000000000000000000" + limit, std::nullopt},  // leading zeros are no size
        {over, ReplyTooLargeText()},
        {L"99999999999999999999999", ReplyTooLargeText()},  // beyond any integer type
        {L"abc", notANumber + L"abc\") och tas inte emot."},
        {L"-1", notANumber + L"-1\") och tas inte emot."},
        {L"12 34", notANumber + L"12 34\") och tas inte emot."},
        {L"0x10", notANumber + L"0x10\") och tas inte emot."},
    };
    for (const Case& c : cases) EXPECT_EQ(ContentLengthRefusal(c.value), c.refusal) << ToUtf8(c.value);
}

// The raw response headers as WinINet gives them back: the status line, one
// header to a line (a repeated header on a line of its own).
TEST(ReplyGuard, AReplyFramedOnlyOnceMayBeRead) {
    const std::wstring status = L"HTTP/1.1 200 OK\r\n";
    const std::wstring badLength = L"Svaret från registret har en ogiltig längd (Content-Length: \"";
    struct Case {
        const char* name;
        std::wstring headers;
        std::optional<std::wstring> refusal;
    };
    const Case cases[] = {
        {"one length", L"Content-Type: text/xml\r\nContent-Length: 512\r\n\r\n", std::nullopt},
        {"chunked alone", L"Transfer-Encoding: chunked\r\n\r\n", std::nullopt},
        {"no framing (read to the close)", L"Content-Type: text/xml\r\n\r\n", std::nullopt},
        {"bare LF between lines", L"Content-Length: 5\nContent-Type: text/xml\n\n", std::nullopt},
        {"two equal lengths", L"Content-Length: 4\r\nContent-Length: 4\r\n\r\n", ReplyLengthRepeatedText()},
        {"conflicting lengths", L"Content-Length: 4\r\nContent-Length: 40\r\n\r\n", ReplyLengthRepeatedText()},
        {"a list in one header", L"Content-Length: 4, 4\r\n\r\n", ReplyLengthRepeatedText()},
        {"the name in other letter cases", L"content-length: 4\r\nCONTENT-LENGTH: 4\r\n\r\n", ReplyLengthRepeatedText()},
        {"a blank before the colon", L"Content-Length: 4\r\nContent-Length : 9\r\n\r\n", ReplyLengthRepeatedText()},
        {"length and chunked", L"Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n", ReplyFramedTwoWaysText()},
        {"chunked first, then length", L"Transfer-Encoding: gzip, chunked\r\nContent-Length: 4\r\n\r\n",
         ReplyFramedTwoWaysText()},
        {"one length over the limit", L"Content-Length: 209715200\r\n\r\n", ReplyTooLargeText()},
        {"one length that is no number", L"Content-Length: 4x\r\n\r\n", badLength + L"4x\") och tas inte emot."},
        {"a name that only begins like it", L"Content-Length-Extra: 4\r\nContent-Length: 4\r\n\r\n", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ReplyFramingRefusal(status + c.headers), c.refusal) << c.name;
    // A status line that looks like a header is not counted as one.
    EXPECT_EQ(ReplyFramingRefusal(L"Content-Length: 1\r\nContent-Length: 1\r\n\r\n"), std::nullopt);
}

TEST(ReplyGuard, OverlongResponseHeadersAreRefused) {
    std::wstring headers = L"HTTP/1.1 200 OK\r\nX-Fill: ";
    headers += std::wstring(kMaxReplyHeaderChars - headers.size() - 4, L'x') + L"\r\n\r\n";
    ASSERT_EQ(headers.size(), kMaxReplyHeaderChars);
    EXPECT_EQ(ReplyFramingRefusal(headers), std::nullopt);
    EXPECT_EQ(ReplyFramingRefusal(headers + L"X"), ReplyHeadersTooLongText());
    EXPECT_EQ(ReplyHeadersTooLongText(), L"Svaret från registret har längre rubriker än 64 kB och tas inte emot.");
}
