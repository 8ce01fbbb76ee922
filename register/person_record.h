// The person record that a register lookup fills, and the lookup's outcome
// codes. Every field has a fixed capacity in characters (not counting the
// terminating zero of a caller's buffer). A value longer than its capacity is
// cut to the capacity when it is stored, so a record can never hold more than
// a caller-owned buffer of that capacity takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace tolmar {

// Capacities of the record's fields, in characters (UTF-16 code units on
// Windows). A caller's buffer for a field holds capacity + 1 characters.
inline constexpr std::size_t kPersonalNumberCapacity = 100;
inline constexpr std::size_t kFirstNameCapacity = 100;
inline constexpr std::size_t kMiddleNameCapacity = 100;
inline constexpr std::size_t kSurnameCapacity = 100;
inline constexpr std::size_t kAddress1Capacity = 100;
inline constexpr std::size_t kAddress2Capacity = 100;
inline constexpr std::size_t kPostNumberCapacity = 100;
inline constexpr std::size_t kPostTownCapacity = 100;
inline constexpr std::size_t kStatusCapacity = 100;
inline constexpr std::size_t kSexCapacity = 10;
inline constexpr std::size_t kRelationCapacity = 1000;
inline constexpr std::size_t kAllaNamnCapacity = 100;

// Outcome of a lookup (a 32-bit signed integer).
namespace ReturnCode {
inline constexpr std::int32_t Found = 0;       // a person was found and the record filled
inline constexpr std::int32_t NotFound = -359; // the register's answer holds no person
inline constexpr std::int32_t Failure = -400;  // an error was raised; errms tells which
}  // namespace ReturnCode

// The first `capacity` characters of `value`. A cut that would split a UTF-16
// surrogate pair drops the pair's first half as well, so the cut never leaves
// half a character behind.
std::wstring_view CutToCapacity(std::wstring_view value, std::size_t capacity);

// A text that never holds more than Capacity characters: whatever is assigned
// is cut to the capacity (see CutToCapacity).
template <std::size_t Capacity>
class BoundedText {
public:
    static constexpr std::size_t kCapacity = Capacity;

    BoundedText() = default;
    explicit BoundedText(std::wstring_view value) : value_(CutToCapacity(value, Capacity)) {}

    BoundedText& operator=(std::wstring_view value) {
        value_.assign(CutToCapacity(value, Capacity));
        return *this;
    }

    // Reads a zero-terminated caller buffer, never past Capacity characters.
    void AssignFromBuffer(const wchar_t* buffer) {
        value_.clear();
        if (buffer == nullptr) return;
        std::size_t n = 0;
        while (n < Capacity && buffer[n] != L'\0') ++n;
        value_.assign(CutToCapacity(std::wstring_view(buffer, n), Capacity));
    }

    // Writes the text and a terminating zero into `buffer`, cutting the text
    // to buffer.size() - 1 characters if the buffer is smaller than
    // Capacity + 1. An empty span is left alone. Returns the characters written
    // before the zero.
    std::size_t CopyTo(std::span<wchar_t> buffer) const {
        if (buffer.empty()) return 0;
        const std::wstring_view text = CutToCapacity(value_, buffer.size() - 1);
        text.copy(buffer.data(), text.size());
        buffer[text.size()] = L'\0';
        return text.size();
    }

    // Same, for a caller buffer of exactly Capacity + 1 characters.
    std::size_t CopyTo(wchar_t* buffer) const {
        if (buffer == nullptr) return 0;
        return CopyTo(std::span<wchar_t>(buffer, Capacity + 1));
    }

    const std::wstring& str() const noexcept { return value_; }
    operator std::wstring_view() const noexcept { return value_; }
    bool empty() const noexcept { return value_.empty(); }
    std::size_t size() const noexcept { return value_.size(); }
    void clear() noexcept { value_.clear(); }

    friend bool operator==(const BoundedText& a, const BoundedText& b) = default;
    friend bool operator==(const BoundedText& a, std::wstring_view b) { return a.value_ == b; }

private:
    std::wstring value_;
};

// The twelve fields of a lookup, named after the lookup's parameters.
struct PersonRecord {
    BoundedText<kPersonalNumberCapacity> PersonalNumber;  // the number as given to the register
    BoundedText<kFirstNameCapacity> FirstName;            // given name or names in use
    BoundedText<kMiddleNameCapacity> MiddleName;
    BoundedText<kSurnameCapacity> Surname;
    BoundedText<kAddress1Capacity> Address1;              // c/o line
    BoundedText<kAddress2Capacity> Address2;              // street line
    BoundedText<kPostNumberCapacity> PostNumber;
    BoundedText<kPostTownCapacity> PostTown;              // or a status or secrecy text
    BoundedText<kStatusCapacity> Status;                  // the register's status code
    BoundedText<kSexCapacity> Sex;
    BoundedText<kRelationCapacity> Relation;              // raw content of the relation element
    BoundedText<kAllaNamnCapacity> AllaNamn;              // all given names

    friend bool operator==(const PersonRecord&, const PersonRecord&) = default;
};

// The caller-owned, zero-terminated buffers of a lookup, each of its field's
// capacity + 1 characters. A null pointer is skipped.
struct PersonBuffers {
    wchar_t* PersonalNumber = nullptr;  // read only
    wchar_t* FirstName = nullptr;
    wchar_t* MiddleName = nullptr;
    wchar_t* Surname = nullptr;
    wchar_t* Address1 = nullptr;
    wchar_t* Address2 = nullptr;
    wchar_t* PostNumber = nullptr;
    wchar_t* PostTown = nullptr;
    wchar_t* Status = nullptr;
    wchar_t* Sex = nullptr;
    wchar_t* Relation = nullptr;
    wchar_t* AllaNamn = nullptr;
};

// Empties every output buffer at the start of a lookup, except Sex, which
// only a successful read of the answer writes. PersonalNumber is input and is
// left alone.
inline void ClearLookupOutputs(const PersonBuffers& b) {
    for (wchar_t* p : {b.FirstName, b.MiddleName, b.Surname, b.Address1, b.Address2, b.PostNumber,
                       b.PostTown, b.Status, b.Relation, b.AllaNamn})
        if (p != nullptr) *p = L'\0';
}

// Copies every output field of the record (all but PersonalNumber) into the
// caller's buffers.
inline void CopyLookupOutputs(const PersonRecord& r, const PersonBuffers& b) {
    r.FirstName.CopyTo(b.FirstName);
    r.MiddleName.CopyTo(b.MiddleName);
    r.Surname.CopyTo(b.Surname);
    r.Address1.CopyTo(b.Address1);
    r.Address2.CopyTo(b.Address2);
    r.PostNumber.CopyTo(b.PostNumber);
    r.PostTown.CopyTo(b.PostTown);
    r.Status.CopyTo(b.Status);
    r.Sex.CopyTo(b.Sex);
    r.Relation.CopyTo(b.Relation);
    r.AllaNamn.CopyTo(b.AllaNamn);
}

}  // namespace tolmar
