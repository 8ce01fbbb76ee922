// Feeds arbitrary bytes, read as UTF-8, to the reading of the register's
// answer and checks what must hold for any answer.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "register/person_answer.h"
#include "register/personal_number.h"
#include "register/reply_guard.h"
#include "tools/text.h"

using namespace tolmar;

namespace {

constexpr std::wstring_view kAsked = L"194501011234";

bool IsPartOf(std::wstring_view part, std::wstring_view whole) {
    return whole.find(part) != std::wstring_view::npos;
}

// A trimmed field: no blank at its start, and none at its end unless the
// capacity cut it there.
template <std::size_t N>
bool LooksTrimmed(const BoundedText<N>& field) {
    const std::wstring& s = field.str();
    if (s.empty()) return true;
    if (IsBlankChar(s.front())) return false;
    return s.size() == N || !IsBlankChar(s.back());
}

// No "¤" or control character: nothing can add or end a field of the host record.
template <std::size_t N>
bool Clean(const BoundedText<N>& field) {
    for (wchar_t c : field.str())
        if (c == L'¤' || static_cast<unsigned long>(c) < 0x20) return false;
    return true;
}

template <std::size_t N>
bool WithinCapacity(const BoundedText<N>& field) {
    return field.size() <= N;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");  // non-ASCII case mapping, as on a user's machine
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring R = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    std::wstring working = L"stale";
    const PersonAnswer answer = ReadPersonAnswer(R, kAsked, working);
    const PersonRecord& r = answer.Record;

    FUZZ_CHECK(answer.ReturnCode == ReturnCode::Found || answer.ReturnCode == ReturnCode::NotFound ||
               answer.ReturnCode == ReturnCode::Failure);
    FUZZ_CHECK((answer.ReturnCode == ReturnCode::Failure) == !answer.failure.empty());
    FUZZ_CHECK((answer.ReturnCode == ReturnCode::NotFound) == !IsPartOf(L"PersonInfo", R));
    FUZZ_CHECK(r.PersonalNumber.empty());

    FUZZ_CHECK(WithinCapacity(r.FirstName) && WithinCapacity(r.MiddleName) && WithinCapacity(r.Surname));
    FUZZ_CHECK(WithinCapacity(r.Address1) && WithinCapacity(r.Address2) && WithinCapacity(r.PostNumber));
    FUZZ_CHECK(WithinCapacity(r.PostTown) && WithinCapacity(r.Status) && WithinCapacity(r.Sex));
    FUZZ_CHECK(WithinCapacity(r.Relation) && WithinCapacity(r.AllaNamn));

    if (answer.ReturnCode == ReturnCode::NotFound) {
        FUZZ_CHECK(r == PersonRecord{});
        FUZZ_CHECK(working == R);
        return 0;
    }
    if (answer.ReturnCode == ReturnCode::Failure) {
        // More than one person element: the answer as it came. A person
        // element that names no one or another person: the person part, as read.
        FUZZ_CHECK(r == PersonRecord{});
        FUZZ_CHECK(working == R || IsPartOf(working, CleanRegisterValue(R)));
        return 0;
    }
    // A found person has a name.
    FUZZ_CHECK(!r.FirstName.empty() || !r.Surname.empty());

    FUZZ_CHECK(Clean(r.FirstName) && Clean(r.MiddleName) && Clean(r.Surname) && Clean(r.Address1));
    FUZZ_CHECK(Clean(r.Address2) && Clean(r.PostNumber) && Clean(r.PostTown) && Clean(r.Status));
    FUZZ_CHECK(Clean(r.Sex) && Clean(r.Relation) && Clean(r.AllaNamn));

    // The person part, and the raw fields copied out of the answer, which is
    // read with every "¤" and control character made a blank.
    const std::wstring cleanR = CleanRegisterValue(R);
    FUZZ_CHECK(IsPartOf(working, cleanR));
    FUZZ_CHECK(IsPartOf(r.Relation, cleanR));
    FUZZ_CHECK(IsPartOf(r.Sex, working));
    FUZZ_CHECK(IsPartOf(r.AllaNamn, working));

    FUZZ_CHECK(LooksTrimmed(r.FirstName) && LooksTrimmed(r.MiddleName) && LooksTrimmed(r.Surname));
    FUZZ_CHECK(LooksTrimmed(r.Address1) && LooksTrimmed(r.Address2) && LooksTrimmed(r.PostNumber));
    FUZZ_CHECK(LooksTrimmed(r.PostTown) && LooksTrimmed(r.Status));
    FUZZ_CHECK(IsPartOf(r.MiddleName, working) && IsPartOf(r.PostNumber, working));
    FUZZ_CHECK(IsPartOf(r.Status, working));

    const bool cnFamily = IsPartOf(L"cn_fname", LowerLocale(working));
    if (cnFamily) {
        FUZZ_CHECK(r.Sex.empty() && r.MiddleName.empty());
    } else {
        FUZZ_CHECK(r.Status.empty());
    }

    // The town is the answer's own or one of the register's status or secrecy
    // texts; the secrecy text goes with empty address lines and postal code.
    static const wchar_t* const kTownTexts[] = {
        L"AVLIDEN", L"UTVANDRAD", L"GAMMALT PERSSONUMMER", L"ANNAN ANLEDNING", L"TEKNISKT AVREGISTRERAD",
        L"OBEFINTLIG", L"UTFLYTTAD UR REGIONEN", L"SEKRETESS MÄRKT"};
    bool fixedTown = false;
    for (const wchar_t* t : kTownTexts) fixedTown = fixedTown || r.PostTown == t;
    FUZZ_CHECK(fixedTown || IsPartOf(r.PostTown, working));
    if (r.PostTown == L"SEKRETESS MÄRKT" && !IsPartOf(L"SEKRETESS MÄRKT", working))
        FUZZ_CHECK(r.Address1.empty() && r.Address2.empty() && r.PostNumber.empty());

    // A person is taken only when the number the answer names, if any, is the
    // one asked for; a cn answer of an old number may name the new one.
    if (answer.ReturnCode == ReturnCode::Found && !(cnFamily && UpperLocale(r.Status.str()) == L"GN")) {
        for (std::wstring_view tag : {L"cn_pnr", L"PO_PNR"}) {
            const std::wstring named = ExtractBetweenNoCase(L"<" + std::wstring(tag) + L">",
                                                            L"</" + std::wstring(tag) + L">", working);
            FUZZ_CHECK(IsBlank(named) || SamePersonalNumber(kAsked, named));
        }
    }

    // Reading is a pure function of the answer.
    FUZZ_CHECK(ReadPersonAnswer(R, kAsked).Record == r);
    return 0;
}
