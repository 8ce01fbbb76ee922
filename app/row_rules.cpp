#include "app/row_rules.h"

#include <algorithm>

#include "register/person_answer.h"
#include "tools/text.h"

namespace tolmar {
namespace {

bool Contains(std::wstring_view haystack, std::wstring_view needle) {
    return haystack.find(needle) != std::wstring_view::npos;
}

bool AllDigits(std::wstring_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

int Value(std::wstring_view digits) {
    int v = 0;
    for (wchar_t c : digits) v = v * 10 + (c - L'0');
    return v;
}

// The register says the person is deceased: its status code, or the town
// text the lookup puts in place of the town for that code. A protected
// person's town text hides the status, so the code is what counts.
bool IsDeceased(const PersonRecord& person) {
    return UpperLocale(Trim(person.Status.str())) == L"AV" || UpperLocale(Trim(person.PostTown.str())) == L"AVLIDEN";
}

// The stored first name stays when it occurs among the register's names;
// otherwise the register's first name, or its middle name when it gives none.
std::optional<std::wstring> FirstName(const RowInput& in) {
    const std::wstring stored = UpperLocale(Trim(in.row.Text(L"F_RNAMN")));
    if (!stored.empty() && Contains(UpperLocale(in.person.FirstName.str()), stored)) return std::nullopt;
    if (!IsBlank(in.person.FirstName.str())) return in.person.FirstName.str();
    if (!IsBlank(in.person.MiddleName.str())) return in.person.MiddleName.str();
    return std::nullopt;
}

// Check digits and birth date only where the table has the columns, and
// the birth date only when the number holds a real one (a coordination
// number's day is the real day + 60). The birth date goes with the check
// digits.
std::optional<std::wstring> CheckDigits(const RowInput& in) {
    if (!in.row.HasColumn(L"KONTROLLNR") || in.number.size() != 12) return std::nullopt;
    return std::wstring(in.number.substr(8, 4));
}

std::optional<std::wstring> BirthDate(const RowInput& in) {
    const std::wstring_view n = in.number;
    if (!CheckDigits(in) || !in.row.HasColumn(L"FODELSEDAG") ||
        !IsCalendarDate(n.substr(0, 4), n.substr(4, 2), n.substr(6, 2)))
        return std::nullopt;
    return std::wstring(n.substr(0, 4)) + L"-" + std::wstring(n.substr(4, 2)) + L"-" + std::wstring(n.substr(6, 2));
}

// A deceased person's row is made inactive, also when the town text shows
// a protected identity.
std::optional<std::wstring> Inactive(const RowInput& in) {
    if (!IsDeceased(in.person)) return std::nullopt;
    return L"F";
}

// The register's field as it is.
template <auto Field>
std::optional<std::wstring> Register(const RowInput& in) {
    return (in.person.*Field).str();
}

std::optional<std::wstring> PostNumber(const RowInput& in) { return PostNumberWithSpace(in.person.PostNumber.str()); }

// clang-format off
// column         the register's value                may be silent  compared                           from the number
constexpr RefreshedColumn kRefreshed[] = {
    {L"F_RNAMN",    FirstName,                          false, Comparison::FirstNameOccurs,      false},
    {L"EFTERNAMN",  Register<&PersonRecord::Surname>,   false, Comparison::Equal,                false},
    {L"ADRESS",     Register<&PersonRecord::Address2>,  false, Comparison::Equal,                false},
    {L"COADRESS",   Register<&PersonRecord::Address1>,  false, Comparison::Equal,                false},
    {L"POSTNR",     PostNumber,                         false, Comparison::Equal,                false},
    {L"ORT",        Register<&PersonRecord::PostTown>,  false, Comparison::Equal,                false},
    // One of the register's answer families says nothing of sex.
    {L"KON",        Register<&PersonRecord::Sex>,       true,  Comparison::Equal,                false},
    {L"TEL3NOT",    Register<&PersonRecord::Status>,    false, Comparison::WrittenAlong,         false},
    {L"KONTROLLNR", CheckDigits,                        false, Comparison::WrittenAlong,         true},
    {L"FODELSEDAG", BirthDate,                          false, Comparison::WrittenAlong,         true},
    {L"AKTIV",      Inactive,                           false, Comparison::EqualWhereTableHasIt, false},
};
// clang-format on

// The column's value from the register, none where it is silent on a
// column it may be silent on.
std::optional<std::wstring> Taken(const RefreshedColumn& column, const RowInput& in) {
    std::optional<std::wstring> value = column.take(in);
    if (value && column.registerMayBeSilent && IsBlank(*value)) return std::nullopt;
    return value;
}

bool Differs(const RefreshedColumn& column, const RowInput& in) {
    switch (column.comparison) {
        case Comparison::FirstNameOccurs: {
            // The stored first name as it is, untrimmed.
            const std::wstring stored = in.row.Text(column.name);
            return !Contains(UpperLocale(in.person.FirstName.str()), UpperLocale(stored)) || IsBlank(stored);
        }
        case Comparison::EqualWhereTableHasIt:
            if (!in.row.HasColumn(column.name)) return false;
            [[fallthrough]];
        case Comparison::Equal: {
            const std::optional<std::wstring> value = Taken(column, in);
            return value && in.row.Text(column.name) != *value;
        }
        case Comparison::WrittenAlong:
            break;
    }
    return false;
}

const RefreshedColumn* Find(std::wstring_view name) {
    for (const RefreshedColumn& c : kRefreshed)
        if (c.name == name) return &c;
    return nullptr;
}

}  // namespace

std::span<const RefreshedColumn> RefreshedColumns() { return kRefreshed; }

bool IsRefreshedColumn(std::wstring_view column) { return Find(column) != nullptr; }

bool IsFromPersonalNumber(std::wstring_view column) {
    const RefreshedColumn* c = Find(column);
    return c && c->fromPersonalNumber;
}

bool IsProtectedIdentity(const PersonRecord& person) { return Trim(person.PostTown.str()) == kSecretTown; }

bool IsAddressColumn(std::wstring_view column) {
    return column == L"ADRESS" || column == L"COADRESS" || column == L"POSTNR" || column == L"ORT";
}

std::optional<std::wstring> AddressHiddenRow::Value(std::wstring_view column) const {
    std::optional<std::wstring> value = row_.Value(column);
    if (!IsAddressColumn(column)) return value;
    for (const auto& [name, written] : changes_)
        if (name == column && value != written) return std::wstring(kHiddenAddressText);
    return value;
}

bool IsRefusedValue(std::wstring_view diagnostics) {
    // SQLSTATE classes 22 (data exception: a value too long, not a date) and
    // 23 (a constraint); SQLite words its constraint failures without them.
    return Contains(diagnostics, L"[22") || Contains(diagnostics, L"[23") ||
           Contains(LowerLocale(diagnostics), L"constraint failed");
}

bool IsCalendarDate(std::wstring_view year, std::wstring_view month, std::wstring_view day) {
    if (year.size() != 4 || !AllDigits(year) || !AllDigits(month) || !AllDigits(day)) return false;
    const int y = Value(year), m = Value(month), d = Value(day);
    if (y < 1 || m < 1 || m > 12 || d < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::wstring PostNumberWithSpace(std::wstring_view postNumber) {
    std::wstring pn(postNumber);
    if (pn.size() == 5) pn.insert(3, L" ");
    return pn;
}

RowDecision DecideRowUpdate(const PatientRow& row, const PersonRecord& person, std::wstring_view number) {
    const RowInput in{row, person, number};
    RowDecision decision;
    // The tests in the table's order; the first that holds decides.
    decision.differs = std::any_of(std::begin(kRefreshed), std::end(kRefreshed),
                                   [&](const RefreshedColumn& c) { return Differs(c, in); });
    if (!decision.differs) return decision;
    for (const RefreshedColumn& c : kRefreshed)
        if (std::optional<std::wstring> value = Taken(c, in)) decision.changes.emplace_back(c.name, std::move(*value));
    return decision;
}

}  // namespace tolmar
