#include "app/journal.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "app/row_rules.h"
#include "tools/error.h"
#include "tools/text.h"

namespace tolmar {
namespace {

constexpr std::wstring_view kHeaderFields[] = {L"Tid",     L"PATIENTNR",     L"PERSONNR",   L"Kolumn",
                                               L"Gammalt värde", L"Nytt värde", L"Format"};
constexpr std::size_t kEarlierFields = 6;  // a journal without the "Format" column
constexpr std::size_t kFields = std::size(kHeaderFields);
constexpr std::string_view kFormat = "2";

// The first characters that a spreadsheet takes for a formula or drops,
// and the quote that marks them.
bool NeedsMark(std::string_view utf8) {
    if (utf8.empty()) return false;
    switch (utf8.front()) {
        case '=':
        case '+':
        case '-':
        case '@':
        case '\t':
        case '\r':
        case '\'':
            return true;
        default:
            return false;
    }
}

std::string Quoted(const std::wstring& value) {
    std::string utf8 = ToUtf8(value);
    std::string text = "\"";
    if (NeedsMark(utf8)) text += '\'';
    for (char c : utf8) {
        if (c == '"') text += '"';
        text += c;
    }
    return text + "\"";
}

std::string Field(const std::optional<std::wstring>& value) { return value ? Quoted(*value) : std::string(); }

std::wstring Decoded(const std::string& utf8) {
    std::optional<std::wstring> text = DecodeUtf8Strict(utf8);
    if (!text) throw Error(L"text som inte är UTF-8");
    return std::move(*text);
}

constexpr std::wstring_view kRefusal = L"Filen är ingen ändringslogg från tolmar07: ";

}  // namespace

std::string JournalHeader() {
    std::string header;
    for (size_t i = 0; i < kFields; ++i) {
        if (i) header += ',';
        header += ToUtf8(kHeaderFields[i]);
    }
    return header + "\r\n";
}

std::string JournalRows(const std::vector<JournalRecord>& records) {
    std::string rows;
    for (const JournalRecord& r : records)
        rows += Quoted(r.time) + "," + Quoted(r.patientKey) + "," + Quoted(r.personalNumber) + "," +
                Quoted(r.column) + "," + Field(r.oldValue) + "," + Field(r.newValue) + ",\"" + std::string(kFormat) +
                "\"\r\n";
    return rows;
}

bool IsJournalColumn(std::wstring_view column) { return IsRefreshedColumn(column); }

std::size_t MemoryJournalSource::Read(char* buffer, std::size_t size) {
    const std::size_t n = std::min(size, bytes_.size() - at_);
    if (n) std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return n;
}

void MemoryJournalSource::Seek(std::uint64_t offset) {
    if (offset > bytes_.size()) throw Error(L"en plats utanför filen");
    at_ = static_cast<std::size_t>(offset);
}

JournalReader::JournalReader(JournalSource& source) : source_(source) {
    for (char c : kUtf8Bom)
        if (Get() != static_cast<unsigned char>(c)) Refuse(L"den börjar inte med UTF-8-märket.");
    std::vector<Field> header;
    if (!Row(header) || (header.size() != kFields && header.size() != kEarlierFields))
        Refuse(L"rubrikraden saknas eller är en annan.");
    for (size_t i = 0; i < header.size(); ++i)
        if (header[i].text != ToUtf8(kHeaderFields[i])) Refuse(L"rubrikraden är en annan.");
    escaped_ = header.size() == kFields;
}

void JournalReader::Refuse(const std::wstring& why) const { throw Error(std::wstring(kRefusal) + why); }

int JournalReader::Peek() {
    if (at_ == buffer_.size()) {
        buffer_.resize(64u << 10);
        const std::size_t n = source_.Read(buffer_.data(), buffer_.size());
        buffer_.resize(n);
        at_ = 0;
        if (n == 0) return -1;
    }
    return static_cast<unsigned char>(buffer_[at_]);
}

int JournalReader::Get() {
    const int c = Peek();
    if (c >= 0) {
        ++at_;
        ++offset_;
    }
    return c;
}

void JournalReader::Return(const JournalPlace& place) {
    source_.Seek(place.offset);
    buffer_.clear();
    at_ = 0;
    offset_ = place.offset;
    row_ = place.row - 1;
}

// One CSV row (RFC 4180; it ends at CR LF or LF outside quotes, or at the
// end of the file); false at the end of the file.
bool JournalReader::Row(std::vector<Field>& fields) {
    fields.clear();
    if (Peek() < 0) return false;
    ++row_;
    const std::uint64_t start = offset_;
    const std::wstring where = row_ > 1 ? L"rad " + std::to_wstring(row_) + L": " : std::wstring();
    Field field;
    auto endField = [&] {
        if (fields.size() > kFields) Refuse(where + L"den har fler än " + std::to_wstring(kFields) + L" fält.");
        fields.push_back(std::move(field));
        field = {};
    };
    for (;;) {
        if (offset_ - start > kMaxJournalRowBytes) Refuse(where + L"raden är längre än 1 MB.");
        const int c = Get();
        if (c < 0) {
            endField();
            return true;
        }
        if (c == '"' && field.text.empty() && !field.quoted) {
            field.quoted = true;
            for (;;) {
                if (offset_ - start > kMaxJournalRowBytes) Refuse(where + L"raden är längre än 1 MB.");
                const int q = Get();
                if (q < 0) Refuse(where + L"ett citattecken avslutas aldrig.");
                if (q == '"') {
                    if (Peek() != '"') break;
                    Get();
                }
                field.text += static_cast<char>(q);
            }
            const int next = Peek();
            if (next >= 0 && next != ',' && next != '\r' && next != '\n')
                Refuse(where + L"text efter ett avslutande citattecken.");
            continue;
        }
        if (c == ',') {
            endField();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && Get() != '\n') Refuse(where + L"en ensam CR utanför citattecken.");
            endField();
            return true;
        } else {
            if (field.quoted) Refuse(where + L"text efter ett avslutande citattecken.");
            if (c == '"') Refuse(where + L"ett citattecken mitt i ett fält.");
            field.text += static_cast<char>(c);
        }
    }
}

std::optional<JournalRecord> JournalReader::Next() {
    const JournalPlace place{offset_, row_ + 1};
    if (!Row(fields_)) return std::nullopt;
    place_ = place;
    const std::wstring where = L"rad " + std::to_wstring(row_) + L": ";
    const std::size_t expected = escaped_ ? kFields : kEarlierFields;
    if (fields_.size() != expected)
        Refuse(where + L"den har " + std::to_wstring(fields_.size()) + L" fält, inte " + std::to_wstring(expected) +
               L".");
    if (escaped_ && (fields_[6].text != kFormat || !fields_[6].quoted)) Refuse(where + L"formatet är ett annat.");
    // A value of the journal with the "Format" column as written: marked
    // exactly when it begins as a spreadsheet would read it, the mark removed.
    auto text = [&](Field& f) -> std::wstring {
        if (escaped_) {
            const bool marked = !f.text.empty() && f.text.front() == '\'';
            if (marked) f.text.erase(0, 1);
            if (marked != NeedsMark(f.text)) Refuse(where + L"ett värde är skrivet på ett annat sätt.");
        }
        return Decoded(f.text);
    };
    JournalRecord record;
    try {
        record.time = text(fields_[0]);
        record.patientKey = text(fields_[1]);
        record.personalNumber = text(fields_[2]);
        record.column = text(fields_[3]);
        if (fields_[4].quoted || !fields_[4].text.empty()) record.oldValue = text(fields_[4]);
        if (fields_[5].quoted || !fields_[5].text.empty()) record.newValue = text(fields_[5]);
    } catch (const Error& e) {
        if (e.message().starts_with(kRefusal)) throw;
        Refuse(where + e.message() + L".");
    }
    if (record.time.empty() || record.patientKey.empty()) Refuse(where + L"tid eller PATIENTNR saknas.");
    if (!IsJournalColumn(record.column))
        Refuse(where + L"kolumnen \"" + record.column + L"\" skrivs inte av uppdateringen.");
    return record;
}

std::vector<JournalRecord> ReadJournal(std::string_view bytes) {
    if (bytes.size() > kMaxJournalBytes) throw Error(std::wstring(kRefusal) + L"den är större än 256 MB.");
    MemoryJournalSource source{std::string(bytes)};
    JournalReader reader(source);
    std::vector<JournalRecord> records;
    while (std::optional<JournalRecord> record = reader.Next()) records.push_back(std::move(*record));
    return records;
}

}  // namespace tolmar
