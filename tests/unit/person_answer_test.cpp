#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "register/person_answer.h"
#include "tools/text.h"

using namespace tolmar;

namespace {

// The number every answer of these tests was asked for.
constexpr std::wstring_view kAsked = L"194501011234";

std::wstring Tag(std::wstring_view name, std::wstring_view text) {
    return L"<" + std::wstring(name) + L">" + std::wstring(text) + L"</" + std::wstring(name) + L">";
}

// An answer document shaped like the register's: the person part, then the
// relations outside it.
std::wstring Answer(std::wstring_view person, std::wstring_view relation = L"R1") {
    return L"<?xml version=\"1.0\" encoding=\"utf-16\"?><PopManAnswer><PersonInfo>" + std::wstring(person) +
           L"</PersonInfo>" + Tag(L"Relation", relation) + L"</PopManAnswer>";
}

// A cn-family person without status and secrecy marks.
const std::wstring kCn = Tag(L"cn_fname", L" Anna Maria ") + Tag(L"cn_lname", L"Svensson ") +
                         Tag(L"cn_fo_addr2", L"Storgatan") + Tag(L"cn_fo_addr1", L"12") +
                         Tag(L"cn_ut_addr2", L"c/o Berg") + Tag(L"cn_cdate", L"2024-01-01") +
                         Tag(L"cn_fo_zcode", L"123 45") + Tag(L"cn_fo_city", L"Storstad");

// A PO-family person without names and secrecy mark.
const std::wstring kPoAddress = Tag(L"PO_LNAME", L"Svensson") + Tag(L"PO_FO_ADDR2", L"Storgatan") +
                                Tag(L"PO_FO_ADDR1", L"12") + Tag(L"PO_FO_CO", L"c/o Berg") +
                                Tag(L"PO_FO_ZCODE", L"123 45") + Tag(L"PO_FO_CITY", L"Storstad") +
                                Tag(L"PO_SEX", L"K ");

std::wstring PoNames(std::wstring_view fname, std::wstring_view dname, std::wstring_view name) {
    return Tag(L"PO_FNAME", fname) + Tag(L"PO_DNAME", dname) + Tag(L"PO_NAME", name);
}

struct Expected {
    std::wstring FirstName, MiddleName, Surname, Address1, Address2, PostNumber, PostTown, Status, Sex,
        Relation, AllaNamn;
};

// The expected record of kCn, with the relation of Answer().
Expected CnRecord() {
    return {.FirstName = L"Anna Maria", .Surname = L"Svensson", .Address1 = L"c/o Berg 2024-01-01",
            .Address2 = L"Storgatan 12", .PostNumber = L"123 45", .PostTown = L"Storstad",
            .Relation = L"R1", .AllaNamn = L" Anna Maria "};
}

// The expected record of kPoAddress with the given first name and all names.
Expected PoRecord(std::wstring firstName, std::wstring allaNamn) {
    return {.FirstName = std::move(firstName), .Surname = L"Svensson", .Address1 = L"c/o Berg",
            .Address2 = L"Storgatan 12", .PostNumber = L"123 45", .PostTown = L"Storstad", .Sex = L"K ",
            .Relation = L"R1", .AllaNamn = std::move(allaNamn)};
}

Expected Deceased(Expected e, std::wstring status) {
    e.PostTown = L"AVLIDEN";
    e.Address1.clear();
    e.Address2.clear();
    e.PostNumber.clear();
    e.Status = std::move(status);
    return e;
}

Expected Secret(Expected e) {
    e.PostTown = L"SEKRETESS MÄRKT";
    e.Address1.clear();
    e.Address2.clear();
    e.PostNumber.clear();
    return e;
}

struct AnswerCase {
    std::string name;
    std::wstring answer;
    std::int32_t returnCode;
    Expected want;
};

void ExpectRecord(const PersonRecord& r, const Expected& e) {
    EXPECT_EQ(r.PersonalNumber.str(), L"");
    EXPECT_EQ(ToUtf8(r.FirstName), ToUtf8(e.FirstName));
    EXPECT_EQ(ToUtf8(r.MiddleName), ToUtf8(e.MiddleName));
    EXPECT_EQ(ToUtf8(r.Surname), ToUtf8(e.Surname));
    EXPECT_EQ(ToUtf8(r.Address1), ToUtf8(e.Address1));
    EXPECT_EQ(ToUtf8(r.Address2), ToUtf8(e.Address2));
    EXPECT_EQ(ToUtf8(r.PostNumber), ToUtf8(e.PostNumber));
    EXPECT_EQ(ToUtf8(r.PostTown), ToUtf8(e.PostTown));
    EXPECT_EQ(ToUtf8(r.Status), ToUtf8(e.Status));
    EXPECT_EQ(ToUtf8(r.Sex), ToUtf8(e.Sex));
    EXPECT_EQ(ToUtf8(r.Relation), ToUtf8(e.Relation));
    EXPECT_EQ(ToUtf8(r.AllaNamn), ToUtf8(e.AllaNamn));
}

}  // namespace

TEST(PersonAnswer, AnswerToRecordTable) {
    const std::wstring fourteen = L"Ada Bo Cy Di Ed Fa Gu Hj Ia Jo Ke Li-Mo,Ny";
    std::vector<AnswerCase> cases = {
        {"empty answer", L"", ReturnCode::NotFound, {}},
        {"no PersonInfo", L"<PopManAnswer>" + Tag(L"PO_NAME", L"Anna") + Tag(L"Relation", L"R1") + L"</PopManAnswer>",
         ReturnCode::NotFound, {}},
        {"PersonInfo is looked for in its exact case", L"<personinfo>" + Tag(L"PO_NAME", L"Anna") + L"</personinfo>",
         ReturnCode::NotFound, {}},
        // A person element that names no one is a failed lookup, never a
        // person whose fields are all empty.
        {"PersonInfo only inside a longer element name",
         L"<PersonInfoList>" + kPoAddress + PoNames(L"Anna", L"", L"Anna") + L"</PersonInfoList>" +
             Tag(L"Relation", L"R1"),
         ReturnCode::Failure, {}},
        {"empty element <PersonInfo/>", L"<PopManAnswer><PersonInfo/></PopManAnswer>", ReturnCode::Failure, {}},
        {"element with no content", Answer(L""), ReturnCode::Failure, {}},
        {"element of another name", L"<PopManAnswer><PersonInfoX>" + kCn + L"</PersonInfoX></PopManAnswer>",
         ReturnCode::Failure, {}},
        {"a message that mentions the word", L"<Message>PersonInfo saknas</Message>", ReturnCode::Failure, {}},
        {"address but no name", Answer(Tag(L"PO_FO_CITY", L"Ort") + Tag(L"PO_SEX", L"K")), ReturnCode::Failure, {}},
        {"blank names", Answer(Tag(L"cn_fname", L" ") + Tag(L"cn_lname", L"\t") + Tag(L"cn_fo_city", L"Ort")),
         ReturnCode::Failure, {}},
        {"a surname alone names a person", Answer(Tag(L"PO_LNAME", L"Berg")), ReturnCode::Found,
         {.Surname = L"Berg", .Relation = L"R1"}},

        // cn family
        {"cn person", Answer(kCn), ReturnCode::Found, CnRecord()},
        {"cn family found by CN_FNAME in upper case, tags in any case",
         Answer(Tag(L"CN_FNAME", L"Bo") + Tag(L"Cn_LName", L"Ek")), ReturnCode::Found,
         {.FirstName = L"Bo", .Surname = L"Ek", .Relation = L"R1", .AllaNamn = L"Bo"}},
        {"cn status av in lower case", Answer(kCn + Tag(L"cn_su_code", L" av ")), ReturnCode::Found,
         Deceased(CnRecord(), L"av")},
        {"cn unknown status keeps the town", Answer(kCn + Tag(L"cn_su_code", L"XX")), ReturnCode::Found,
         [] { auto e = CnRecord(); e.Status = L"XX"; return e; }()},
        {"cn status AV with secrecy J", Answer(kCn + Tag(L"cn_su_code", L"AV") + Tag(L"cn_secret", L"J")),
         ReturnCode::Found, Secret(Deceased(CnRecord(), L"AV"))},
        {"cn secrecy j with blanks replaces a status text",
         Answer(kCn + Tag(L"cn_su_code", L"UV") + Tag(L"cn_secret", L" j ")), ReturnCode::Found,
         [] { auto e = Secret(CnRecord()); e.Status = L"UV"; return e; }()},
        {"cn secrecy other than J changes nothing", Answer(kCn + Tag(L"cn_secret", L"N")), ReturnCode::Found,
         CnRecord()},
        {"cn empty address parts leave no blanks",
         Answer(Tag(L"cn_fname", L"Bo") + Tag(L"cn_fo_addr2", L"Storgatan")), ReturnCode::Found,
         {.FirstName = L"Bo", .Address2 = L"Storgatan", .Relation = L"R1", .AllaNamn = L"Bo"}},

        // PO family
        {"PO person, marking 20 takes the second name",
         Answer(kPoAddress + PoNames(L"Anna Maria", L"20", L"Maria Svensson") + Tag(L"PO_MNAME", L"Lind")),
         ReturnCode::Found,
         [] { auto e = PoRecord(L"Maria", L"Anna Maria"); e.MiddleName = L"Lind"; e.Surname = L"Svensson Lind"; return e; }()},
        {"PO marking 12 takes both", Answer(kPoAddress + PoNames(L"Anna Maria", L"12", L"x")), ReturnCode::Found,
         PoRecord(L"Anna Maria", L"Anna Maria")},
        {"PO hyphenated name comes out with a blank", Answer(kPoAddress + PoNames(L"Anna-Karin Lena", L"12", L"x")),
         ReturnCode::Found, PoRecord(L"Anna Karin", L"Anna-Karin Lena")},
        {"PO comma separates names", Answer(kPoAddress + PoNames(L"Anna,Maria", L"2", L"x")), ReturnCode::Found,
         PoRecord(L"Maria", L"Anna,Maria")},
        {"PO two blanks make an empty word", Answer(kPoAddress + PoNames(L"Anna  Maria", L"3", L"x")),
         ReturnCode::Found, PoRecord(L"Maria", L"Anna  Maria")},
        {"PO twelfth word keeps the rest, separators as blanks",
         Answer(kPoAddress + PoNames(fourteen, L"12", L"x")), ReturnCode::Found,
         PoRecord(L"Ada Bo Li Mo Ny", fourteen)},
        {"PO marking matches no word: PO_NAME", Answer(kPoAddress + PoNames(L"Anna Maria", L"3", L" Nisse ")),
         ReturnCode::Found, PoRecord(L"Nisse", L"Anna Maria")},
        {"PO marking matches no word, PO_NAME empty: PO_FNAME",
         Answer(kPoAddress + PoNames(L"Anna Maria", L"3", L"")), ReturnCode::Found,
         PoRecord(L"Anna Maria", L"Anna Maria")},
        {"PO marking matches no word, PO_NAME blank but not empty: it stays",
         Answer(kPoAddress + PoNames(L"Anna Maria", L"3", L"  ")), ReturnCode::Found,
         PoRecord(L"", L"Anna Maria")},
        {"PO without marking: PO_NAME", Answer(kPoAddress + PoNames(L"Anna Maria", L" ", L"Nisse")),
         ReturnCode::Found, PoRecord(L"Nisse", L"Anna Maria")},
        {"PO with a blank marking, PO_NAME blank: PO_FNAME", Answer(kPoAddress + PoNames(L"Anna Maria", L" ", L" ")),
         ReturnCode::Found, PoRecord(L"Anna Maria", L"Anna Maria")},
        {"PO blank PO_FNAME: all names from PO_NAME", Answer(kPoAddress + PoNames(L"  ", L"", L"Nisse")),
         ReturnCode::Found, PoRecord(L"Nisse", L"Nisse")},
        {"PO ignores a status code", Answer(kPoAddress + PoNames(L"Anna", L"1", L"x") + Tag(L"cn_su_code", L"AV")),
         ReturnCode::Found, PoRecord(L"Anna", L"Anna")},
        {"PO secrecy J", Answer(kPoAddress + PoNames(L"Anna", L"1", L"x") + Tag(L"PO_SECRET", L"J")),
         ReturnCode::Found, Secret(PoRecord(L"Anna", L"Anna"))},
        {"PO tags in lower case, character references kept",
         Answer(Tag(L"po_lname", L"Sm&amp;ith") + Tag(L"po_mname", L"") + Tag(L"po_name", L"&#197;sa")),
         ReturnCode::Found, {.FirstName = L"&#197;sa", .Surname = L"Sm&amp;ith", .Relation = L"R1",
                             .AllaNamn = L"&#197;sa"}},
        {"PO tag without its end tag gives nothing",
         Answer(L"<PO_LNAME>Berg" + Tag(L"PO_NAME", L"Bo") + Tag(L"PO_FO_CITY", L"Ort")), ReturnCode::Found,
         {.FirstName = L"Bo", .PostTown = L"Ort", .Relation = L"R1", .AllaNamn = L"Bo"}},
        {"relation is raw, untrimmed and taken outside the person part",
         Answer(Tag(L"PO_NAME", L"Bo"), L" <Rel><Pnr>1</Pnr></Rel> "), ReturnCode::Found,
         {.FirstName = L"Bo", .Relation = L" <Rel><Pnr>1</Pnr></Rel> ", .AllaNamn = L"Bo"}},
    };

    const struct {
        const wchar_t* code;
        const wchar_t* town;
    } statusTowns[] = {
        {L"UV", L"UTVANDRAD"},  {L"GN", L"GAMMALT PERSSONUMMER"}, {L"AN", L"ANNAN ANLEDNING"},
        {L"AS", L"TEKNISKT AVREGISTRERAD"}, {L"OB", L"OBEFINTLIG"},
        {L"ta", L"TEKNISKT AVREGISTRERAD"}, {L"UF", L"UTFLYTTAD UR REGIONEN"},
    };
    for (const auto& s : statusTowns) {
        Expected e = CnRecord();
        e.PostTown = s.town;
        e.Status = s.code;
        cases.push_back({"cn status " + ToUtf8(s.code), Answer(kCn + Tag(L"cn_su_code", s.code)), ReturnCode::Found, e});
    }

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PersonAnswer got = ReadPersonAnswer(c.answer, kAsked);
        EXPECT_EQ(got.ReturnCode, c.returnCode);
        if (c.returnCode == ReturnCode::Failure)
            EXPECT_EQ(ToUtf8(got.failure), "Registrets svar innehöll ingen person: elementet PersonInfo saknar "
                                           "både efternamn och förnamn.");
        else
            EXPECT_EQ(ToUtf8(got.failure), "");
        ExpectRecord(got.Record, c.want);
    }
}

// A register that answers about someone else (misrouted, or a mix-up of
// its own) must never put that person into the asked patient's row.
TEST(PersonAnswer, IsTakenOnlyWhenItIsAboutThePersonAskedFor) {
    const std::wstring other = L"195505055555";
    const std::wstring anotherPerson =
        L"Registrets svar gäller en annan person (personnummer 195505055555) än den som efterfrågades.";
    struct Case {
        const char* name;
        std::wstring answer;
        std::wstring failure;  // empty: the person is taken
    } cases[] = {
        {"cn, the number asked for", Answer(Tag(L"cn_pnr", kAsked) + kCn), {}},
        {"cn, the same number with a hyphen", Answer(Tag(L"cn_pnr", L" 19450101-1234 ") + kCn), {}},
        {"PO, the number asked for", Answer(Tag(L"PO_PNR", kAsked) + kPoAddress), {}},
        {"no number at all", Answer(kCn), {}},
        {"an empty number", Answer(Tag(L"cn_pnr", L" ") + kCn), {}},
        {"cn, another person", Answer(Tag(L"cn_pnr", other) + kCn), anotherPerson},
        {"PO, another person, tag in lower case", Answer(Tag(L"po_pnr", other) + kPoAddress), anotherPerson},
        {"cn, the other family's tag names another person", Answer(kCn + Tag(L"PO_PNR", other)), anotherPerson},
        {"the second of two numbers is another person",
         Answer(Tag(L"cn_pnr", kAsked) + kCn + Tag(L"cn_pnr", other)), anotherPerson},
        {"ten digits of the asked number are not the number",
         Answer(Tag(L"cn_pnr", L"4501011234") + kCn),
         L"Registrets svar gäller en annan person (personnummer 4501011234) än den som efterfrågades."},
        {"an old number asked for, answered with the new one (GN)",
         Answer(Tag(L"cn_pnr", other) + kCn + Tag(L"cn_su_code", L" gn ")), {}},
        {"another status does not allow another number",
         Answer(Tag(L"cn_pnr", other) + kCn + Tag(L"cn_su_code", L"UV")), anotherPerson},
        {"two person elements", Answer(kCn) + L"<PersonInfo>" + kCn + L"</PersonInfo>",
         L"Registrets svar gäller mer än en person (2 element PersonInfo) och tas inte emot."},
        {"a second person element in other letters, with an attribute",
         Answer(Tag(L"cn_pnr", kAsked) + kCn) + L"<personinfo id=\"2\">" + kCn + L"</personinfo>",
         L"Registrets svar gäller mer än en person (2 element PersonInfo) och tas inte emot."},
        {"a longer element name is no second person", Answer(kCn) + Tag(L"PersonInfoList", L""), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PersonAnswer got = ReadPersonAnswer(c.answer, kAsked);
        if (c.failure.empty()) {
            EXPECT_EQ(got.ReturnCode, ReturnCode::Found);
            EXPECT_EQ(got.failure, L"");
        } else {
            EXPECT_EQ(got.ReturnCode, ReturnCode::Failure);
            EXPECT_EQ(ToUtf8(got.failure), ToUtf8(c.failure));
            EXPECT_EQ(got.Record, PersonRecord{}) << "a refused answer filled the record";
        }
    }
    // The GN answer is taken as it stands: its town says the number is old.
    const PersonAnswer gn = ReadPersonAnswer(Answer(Tag(L"cn_pnr", other) + kCn + Tag(L"cn_su_code", L"GN")), kAsked);
    EXPECT_EQ(gn.Record.PostTown, std::wstring_view(L"GAMMALT PERSSONUMMER"));
    // A number too long to show is cut in the text.
    const PersonAnswer longNumber = ReadPersonAnswer(Answer(Tag(L"cn_pnr", std::wstring(500, L'9')) + kCn), kAsked);
    EXPECT_EQ(longNumber.failure, L"Registrets svar gäller en annan person (personnummer " + std::wstring(40, L'9') +
                                      L"...) än den som efterfrågades.");
}

TEST(PersonAnswer, WorkingTextIsTheAnswerThenThePersonPart) {
    std::wstring working = L"stale";
    const std::wstring none = L"<PopManAnswer/>";
    EXPECT_EQ(ReadPersonAnswer(none, kAsked, working).ReturnCode, ReturnCode::NotFound);
    EXPECT_EQ(working, none);

    const std::wstring person = Tag(L"PO_NAME", L"Bo");
    ReadPersonAnswer(Answer(person), kAsked, working);
    EXPECT_EQ(working, person);

    // The caller may keep the answer in the working text itself.
    working = Answer(person, L"R9");
    const PersonAnswer got = ReadPersonAnswer(working, kAsked, working);
    EXPECT_EQ(working, person);
    EXPECT_EQ(got.Record.FirstName, L"Bo");
    EXPECT_EQ(got.Record.Relation, L"R9");
}

TEST(PersonAnswer, ValuesAreCutToCapacityAfterTrimming) {
    const std::wstring blanks(60, L' ');
    const std::wstring hundred(kFirstNameCapacity, L'a');
    const std::wstring longTown(150, L't');
    const std::wstring longSex(25, L's');
    std::wstring longRelation(kRelationCapacity, L'r');
    longRelation += L"TAIL";
    const PersonAnswer got = ReadPersonAnswer(
        Answer(Tag(L"PO_NAME", blanks + hundred + blanks) + Tag(L"PO_FNAME", blanks + hundred) +
                   Tag(L"PO_FO_CITY", longTown) + Tag(L"PO_SEX", longSex),
               longRelation),
        kAsked);
    ASSERT_EQ(got.ReturnCode, ReturnCode::Found);
    const PersonRecord& r = got.Record;
    EXPECT_EQ(r.FirstName.str(), hundred);  // trimmed first, so it fits whole
    EXPECT_EQ(r.AllaNamn.str(), (blanks + hundred).substr(0, kAllaNamnCapacity));
    EXPECT_EQ(r.PostTown.str(), longTown.substr(0, kPostTownCapacity));
    EXPECT_EQ(r.Sex.str(), longSex.substr(0, kSexCapacity));
    EXPECT_EQ(r.Relation.str(), longRelation.substr(0, kRelationCapacity));
}

TEST(PersonRecord, CutNeverSplitsASurrogatePair) {
    std::wstring text(kFirstNameCapacity - 1, L'a');
    text += static_cast<wchar_t>(0xD83D);  // U+1F600 as UTF-16
    text += static_cast<wchar_t>(0xDE00);
    PersonRecord r;
    r.FirstName = text;
    EXPECT_EQ(r.FirstName.str(), std::wstring(kFirstNameCapacity - 1, L'a'));
    r.FirstName = text.substr(1);  // fits whole
    EXPECT_EQ(r.FirstName.str(), text.substr(1));
    EXPECT_EQ(CutToCapacity(L"ab", 0), L"");
}

TEST(PersonRecord, CopiesIntoCallerBuffersOfTheCapacities) {
    PersonRecord r;
    r.FirstName = std::wstring(kFirstNameCapacity, L'f');
    r.Sex = L"K";
    r.Relation = L"rel";

    wchar_t first[kFirstNameCapacity + 1 + 1];  // one spare to see that nothing lands past the zero
    std::fill(std::begin(first), std::end(first), L'#');
    EXPECT_EQ(r.FirstName.CopyTo(first), kFirstNameCapacity);
    EXPECT_EQ(first[kFirstNameCapacity], L'\0');
    EXPECT_EQ(first[kFirstNameCapacity + 1], L'#');

    wchar_t small[4];
    EXPECT_EQ(r.FirstName.CopyTo(std::span<wchar_t>(small)), 3u);
    EXPECT_EQ(std::wstring(small), L"fff");

    // Reading the personal number never goes past the capacity, even from a
    // buffer without its terminating zero.
    std::vector<wchar_t> unterminated(kPersonalNumberCapacity, L'1');
    r.PersonalNumber.AssignFromBuffer(unterminated.data());
    EXPECT_EQ(r.PersonalNumber.str(), std::wstring(kPersonalNumberCapacity, L'1'));
    r.PersonalNumber.AssignFromBuffer(L"19121212-1212");
    EXPECT_EQ(r.PersonalNumber, L"19121212-1212");
}

TEST(PersonRecord, LookupClearsAllOutputsButSexAndCopiesAll) {
    wchar_t pnr[kPersonalNumberCapacity + 1] = L"191212121212";
    wchar_t town[kPostTownCapacity + 1] = L"old town";
    wchar_t sex[kSexCapacity + 1] = L"M";
    wchar_t relation[kRelationCapacity + 1] = L"old";
    PersonBuffers b;
    b.PersonalNumber = pnr;
    b.PostTown = town;
    b.Sex = sex;
    b.Relation = relation;  // the other buffers are null and skipped

    ClearLookupOutputs(b);
    EXPECT_EQ(std::wstring(town), L"");
    EXPECT_EQ(std::wstring(relation), L"");
    EXPECT_EQ(std::wstring(sex), L"M");
    EXPECT_EQ(std::wstring(pnr), L"191212121212");

    PersonRecord r;
    r.PersonalNumber = L"other";
    r.PostTown = L"Storstad";
    r.Sex = L"";
    r.Relation = L"R1";
    CopyLookupOutputs(r, b);
    EXPECT_EQ(std::wstring(town), L"Storstad");
    EXPECT_EQ(std::wstring(sex), L"");
    EXPECT_EQ(std::wstring(relation), L"R1");
    EXPECT_EQ(std::wstring(pnr), L"191212121212");
}

TEST(PersonAnswer, ErrorTexts) {
    struct Case {
        std::wstring working, message, module, function, description, errms;
    };
    const Case cases[] = {
        // no error header has arrived yet
        {L"", L"Timeout", L"", L"", L"", L"Timeout\r\nFel i .: "},
        {L"<PersonInfo/>", L"Bad XML", L"PopMan", L"GetPerson", L"Login failed",
         L"Bad XML\r\nFel i PopMan.GetPerson: Login failed"},
    };
    for (const auto& c : cases) {
        const LastErrorTexts last{c.module, c.function, c.description};
        EXPECT_EQ(ComposeErrms(c.message, last), c.errms);
        EXPECT_EQ(ComposeStoreErrorText(c.working, c.message, last), c.working + L"\r\n" + c.errms);
    }
}

TEST(PersonAnswer, FirstNameFromMarkingNeverMakesMoreThanTwelveWords) {
    // Thirteen one-letter names: only positions up to 12 exist, the twelfth
    // holds the rest.
    EXPECT_EQ(FirstNameFromMarking(L"13", L"a b c d e f g h i j k l m", L"N"), L"a c");
    EXPECT_EQ(FirstNameFromMarking(L"12", L"a b c d e f g h i j k l m", L"N"), L"a b l m");
    EXPECT_EQ(FirstNameFromMarking(L"9", L"", L"N"), L"N");  // one empty word
}
