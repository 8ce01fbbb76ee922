#include "register/person_answer.h"

#include <utility>
#include <vector>

#include "register/personal_number.h"
#include "register/reply_guard.h"
#include "tools/text.h"

namespace tolmar {

namespace {

// The text of an element: what stands between <tag> and </tag>, tags matched
// without regard to case.
std::wstring TagText(std::wstring_view tag, std::wstring_view text) {
    const std::wstring open = L"<" + std::wstring(tag) + L">";
    const std::wstring close = L"</" + std::wstring(tag) + L">";
    return ExtractBetweenNoCase(open, close, text);
}

bool Contains(std::wstring_view text, std::wstring_view part) {
    return text.find(part) != std::wstring_view::npos;
}

// Tag names are ASCII: lowering only A-Z keeps every position where it was.
std::wstring AsciiLower(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return lower;
}

// How many elements named `tag` (lower case) R opens: "<tag" followed by
// ">", "/" or a blank, in any letter case.
std::size_t ElementCount(std::wstring_view lowerR, std::wstring_view tag) {
    const std::wstring open = L"<" + std::wstring(tag);
    std::size_t count = 0;
    for (std::size_t at = lowerR.find(open); at != std::wstring_view::npos; at = lowerR.find(open, at + 1)) {
        const std::size_t next = at + open.size();
        if (next < lowerR.size() && (lowerR[next] == L'>' || lowerR[next] == L'/' || IsBlankChar(lowerR[next])))
            ++count;
    }
    return count;
}

// The text of every <tag>...</tag> in P, in order (tag in lower case,
// matched without regard to case).
std::vector<std::wstring> EveryTagText(std::wstring_view tag, std::wstring_view P) {
    const std::wstring lower = AsciiLower(P);
    const std::wstring open = L"<" + std::wstring(tag) + L">";
    const std::wstring close = L"</" + std::wstring(tag) + L">";
    std::vector<std::wstring> texts;
    for (std::size_t at = lower.find(open); at != std::wstring::npos;) {
        const std::size_t start = at + open.size();
        const std::size_t end = lower.find(close, start);
        if (end == std::wstring::npos) break;
        texts.emplace_back(P.substr(start, end - start));
        at = lower.find(open, end + close.size());
    }
    return texts;
}

// The number tags of both families: an answer of one family that names a
// number in the other's tag is held to it all the same.
constexpr std::wstring_view kNumberTags[] = {L"cn_pnr", L"po_pnr"};

// A number from the register, for an error text: short, whatever it holds.
std::wstring ShownNumber(std::wstring_view number) {
    constexpr std::size_t kShown = 40;
    const std::wstring trimmed = Trim(number);
    return trimmed.size() <= kShown ? trimmed : trimmed.substr(0, kShown) + L"...";
}

// The mark of a secret identity: the secrecy tag's text, trimmed and
// upper-cased, is "J".
bool IsSecret(std::wstring_view secrecyText) { return Trim(UpperLocale(secrecyText)) == L"J"; }

// What the register's status code puts in place of the postal town, keyed by
// the trimmed, upper-cased code. Unknown codes leave the town alone.
const wchar_t* StatusTownText(std::wstring_view code) {
    struct Row {
        const wchar_t* code;
        const wchar_t* town;
    };
    static const Row kRows[] = {
        {L"AV", L"AVLIDEN"},
        {L"UV", L"UTVANDRAD"},
        {L"GN", L"GAMMALT PERSSONUMMER"},
        {L"AN", L"ANNAN ANLEDNING"},
        {L"AS", L"TEKNISKT AVREGISTRERAD"},
        {L"OB", L"OBEFINTLIG"},
        {L"TA", L"TEKNISKT AVREGISTRERAD"},
        {L"UF", L"UTFLYTTAD UR REGIONEN"},
    };
    for (const auto& row : kRows)
        if (code == row.code) return row.town;
    return nullptr;
}

constexpr wchar_t kNoPersonText[] =
    L"Registrets svar innehöll ingen person: elementet PersonInfo saknar både efternamn och förnamn.";

constexpr wchar_t kDeceased[] = L"AV";
constexpr wchar_t kOldNumber[] = L"GN";

std::wstring MorePersonsText(std::size_t count) {
    return L"Registrets svar gäller mer än en person (" + std::to_wstring(count) +
           L" element PersonInfo) och tas inte emot.";
}

std::wstring AnotherPersonText(std::wstring_view answered) {
    return L"Registrets svar gäller en annan person (personnummer " + ShownNumber(answered) +
           L") än den som efterfrågades.";
}

// The record while it is being built: plain texts, cut to the capacities only
// at the end so that trimming sees the whole value.
struct Fields {
    std::wstring FirstName, MiddleName, Surname, Address1, Address2, PostNumber, PostTown, Status,
        Sex, Relation, AllaNamn;
};

void ApplySecrecy(Fields& f, std::wstring_view secrecyText) {
    if (!IsSecret(secrecyText)) return;
    f.Address2.clear();
    f.Address1.clear();
    f.PostNumber.clear();
    f.PostTown = std::wstring(kSecretTown);
}

void ReadCnFamily(std::wstring_view P, Fields& f) {
    f.FirstName = TagText(L"cn_fname", P);
    f.Surname = TagText(L"cn_lname", P);
    f.Address2 = TagText(L"cn_fo_addr2", P) + L" " + TagText(L"cn_fo_addr1", P);
    f.Address1 = TagText(L"cn_ut_addr2", P) + L" " + TagText(L"cn_cdate", P);
    f.PostNumber = TagText(L"cn_fo_zcode", P);
    f.PostTown = TagText(L"cn_fo_city", P);
    f.Status = TagText(L"cn_su_code", P);
    f.AllaNamn = f.FirstName;

    const std::wstring code = Trim(UpperLocale(f.Status));
    if (const wchar_t* town = StatusTownText(code)) {
        f.PostTown = town;
        if (code == kDeceased) {
            f.Address2.clear();
            f.Address1.clear();
            f.PostNumber.clear();
        }
    }
    ApplySecrecy(f, TagText(L"cn_secret", P));
}

void ReadPoFamily(std::wstring_view P, Fields& f) {
    const std::wstring fname = TagText(L"PO_FNAME", P);
    const std::wstring name = TagText(L"PO_NAME", P);
    f.FirstName = FirstNameFromMarking(TagText(L"PO_DNAME", P), fname, name);
    f.MiddleName = TagText(L"PO_MNAME", P);
    f.Surname = TagText(L"PO_LNAME", P) + L" " + f.MiddleName;
    f.Address2 = TagText(L"PO_FO_ADDR2", P) + L" " + TagText(L"PO_FO_ADDR1", P);
    f.Address1 = TagText(L"PO_FO_CO", P);
    f.PostNumber = TagText(L"PO_FO_ZCODE", P);
    f.PostTown = TagText(L"PO_FO_CITY", P);
    f.Sex = TagText(L"PO_SEX", P);
    f.AllaNamn = IsBlank(fname) ? name : fname;
    ApplySecrecy(f, TagText(L"PO_SECRET", P));
}

}  // namespace

std::wstring FirstNameFromMarking(std::wstring_view dname, std::wstring_view fname,
                                  std::wstring_view name) {
    if (IsBlank(dname)) return std::wstring(IsBlank(name) ? fname : name);

    // Split the given names into at most twelve words; each ended word keeps
    // one blank in place of its separator, and the twelfth takes the rest.
    constexpr std::size_t kMaxWords = 12;
    std::vector<std::wstring> words(1);
    for (wchar_t c : Trim(fname)) {
        if (c == L' ' || c == L',' || c == L'-') {
            words.back() += L' ';
            if (words.size() < kMaxWords) words.emplace_back();
        } else {
            words.back() += c;
        }
    }

    std::wstring result;
    for (std::size_t i = 1; i <= words.size(); ++i) {
        if (Contains(dname, std::to_wstring(i))) {
            result += Trim(words[i - 1]);
            result += L' ';
        }
    }
    result = Trim(result);
    if (result.empty()) result = name.empty() ? fname : name;
    return result;
}

PersonAnswer ReadPersonAnswer(std::wstring R, std::wstring_view askedNumber, std::wstring& workingText) {
    workingText = R;
    CleanRegisterValueInPlace(R);  // no "¤" or control character reaches any value
    PersonAnswer answer;
    if (!Contains(R, L"PersonInfo")) return answer;
    auto fail = [&answer](std::wstring text) {
        answer.ReturnCode = ReturnCode::Failure;
        answer.failure = std::move(text);
        return answer;
    };
    if (const std::size_t persons = ElementCount(AsciiLower(R), L"personinfo"); persons > 1)
        return fail(MorePersonsText(persons));

    std::wstring P = TagText(L"PersonInfo", R);
    workingText = P;
    Fields f;
    f.Relation = TagText(L"Relation", R);  // from the whole answer, not P

    const bool cnFamily = Contains(LowerLocale(P), L"cn_fname");
    if (cnFamily)
        ReadCnFamily(P, f);
    else
        ReadPoFamily(P, f);
    if (IsBlank(f.FirstName) && IsBlank(TagText(cnFamily ? L"cn_lname" : L"PO_LNAME", P)))
        return fail(kNoPersonText);

    // An old number asked for is answered with the person's new one.
    const bool oldNumberAsked = cnFamily && Trim(UpperLocale(f.Status)) == kOldNumber;
    if (!oldNumberAsked) {
        for (std::wstring_view tag : kNumberTags)
            for (const std::wstring& answered : EveryTagText(tag, P))
                if (!IsBlank(answered) && !SamePersonalNumber(askedNumber, answered))
                    return fail(AnotherPersonText(answered));
    }

    PersonRecord& r = answer.Record;
    r.FirstName = Trim(f.FirstName);
    r.MiddleName = Trim(f.MiddleName);
    r.Surname = Trim(f.Surname);
    r.Address1 = Trim(f.Address1);
    r.Address2 = Trim(f.Address2);
    r.PostNumber = Trim(f.PostNumber);
    r.PostTown = Trim(f.PostTown);
    r.Status = Trim(f.Status);
    r.Sex = f.Sex;
    r.Relation = f.Relation;
    r.AllaNamn = f.AllaNamn;
    answer.ReturnCode = ReturnCode::Found;
    return answer;
}

PersonAnswer ReadPersonAnswer(std::wstring_view R, std::wstring_view askedNumber) {
    std::wstring workingText;
    return ReadPersonAnswer(std::wstring(R), askedNumber, workingText);
}

std::wstring ComposeErrms(std::wstring_view message, const LastErrorTexts& lastError) {
    std::wstring text(message);
    text += L"\r\nFel i ";
    text += lastError.Module;
    text += L'.';
    text += lastError.Function;
    text += L": ";
    text += lastError.Description;
    return text;
}

std::wstring ComposeStoreErrorText(std::wstring_view workingText, std::wstring_view message,
                                   const LastErrorTexts& lastError) {
    return std::wstring(workingText) + L"\r\n" + ComposeErrms(message, lastError);
}

}  // namespace tolmar
