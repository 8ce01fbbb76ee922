#include "app/journal.h"

#include "app/row_rules.h"
#include "tools/error.h"
#include "tools/text.h"

namespace tolmar {
namespace {

constexpr std::wstring_view kHeaderFields[] = {L"Tid",     L"PATIENTNR",     L"PERSONNR",
                                               L"Kolumn", L"Gammalt värde", L"Nytt värde"};

std::string Quoted(const std::wstring& value) {
    std::string text = "\"";
    for (char c : ToUtf8(value)) {
        if (c == '"') text += '"';
        text += c;
    }
    return text + "\"";
}

std::string Field(const std::optional<std::wstring>& value) { return value ? Quoted(*value) : std::string(); }

// One field as read: its text, and whether it was quoted (an empty field
// without quotes is a NULL).
struct CsvField {
    std::string text;
    bool quoted = false;
};

// Splits the CSV text into rows of fields (RFC 4180; a row ends at CR LF or
// LF outside quotes). Throws on a quote that is never closed or text after
// a closing quote.
std::vector<std::vector<CsvField>> SplitCsv(std::string_view text) {
    std::vector<std::vector<CsvField>> rows;
    std::vector<CsvField> row;
    CsvField field;
    size_t i = 0;
    auto endField = [&] {
        row.push_back(std::move(field));
        field = {};
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"' && field.text.empty() && !field.quoted) {
            field.quoted = true;
            ++i;
            for (;;) {
                if (i >= text.size()) throw Error(L"ett citattecken avslutas aldrig");
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field.text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field.text += text[i++];
            }
            if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n')
                throw Error(L"text efter ett avslutande citattecken");
            continue;
        }
        if (c == ',') {
            endField();
            ++i;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) throw Error(L"en ensam CR utanför citattecken");
            endField();
            rows.push_back(std::move(row));
            row = {};
            i += c == '\r' ? 2 : 1;
        } else {
            if (field.quoted) throw Error(L"text efter ett avslutande citattecken");
            if (c == '"') throw Error(L"ett citattecken mitt i ett fält");
            field.text += c;
            ++i;
        }
    }
    if (!field.text.empty() || field.quoted || !row.empty()) {
        endField();
        rows.push_back(std::move(row));
    }
    return rows;
}

std::wstring Decoded(const std::string& utf8) {
    std::optional<std::wstring> text = DecodeUtf8Strict(utf8);
    if (!text) throw Error(L"text som inte är UTF-8");
    return std::move(*text);
}

}  // namespace

std::string JournalHeader() {
    std::string header;
    for (size_t i = 0; i < std::size(kHeaderFields); ++i) {
        if (i) header += ',';
        header += ToUtf8(kHeaderFields[i]);
    }
    return header + "\r\n";
}

std::string JournalRows(const std::vector<JournalRecord>& records) {
    std::string rows;
    for (const JournalRecord& r : records)
        rows += Quoted(r.time) + "," + Quoted(r.patientKey) + "," + Quoted(r.personalNumber) + "," +
                Quoted(r.column) + "," + Field(r.oldValue) + "," + Field(r.newValue) + "\r\n";
    return rows;
}

bool IsJournalColumn(std::wstring_view column) { return IsRefreshedColumn(column); }

std::vector<JournalRecord> ReadJournal(std::string_view bytes) {
    const std::wstring refusal = L"Filen är ingen ändringslogg från tolmar07: ";
    if (bytes.size() > kMaxJournalBytes) throw Error(refusal + L"den är större än 256 MB.");
    if (!bytes.starts_with(kUtf8Bom)) throw Error(refusal + L"den börjar inte med UTF-8-märket.");
    bytes.remove_prefix(kUtf8Bom.size());
    std::vector<std::vector<CsvField>> rows;
    try {
        rows = SplitCsv(bytes);
    } catch (const Error& e) {
        throw Error(refusal + e.message() + L".");
    }
    if (rows.empty() || rows[0].size() != std::size(kHeaderFields))
        throw Error(refusal + L"rubrikraden saknas eller är en annan.");
    for (size_t i = 0; i < std::size(kHeaderFields); ++i)
        if (rows[0][i].text != ToUtf8(kHeaderFields[i])) throw Error(refusal + L"rubrikraden är en annan.");

    std::vector<JournalRecord> records;
    for (size_t r = 1; r < rows.size(); ++r) {
        const std::wstring where = L"rad " + std::to_wstring(r + 1) + L": ";
        const auto& f = rows[r];
        if (f.size() != std::size(kHeaderFields))
            throw Error(refusal + where + L"den har " + std::to_wstring(f.size()) + L" fält, inte 6.");
        JournalRecord record;
        try {
            record.time = Decoded(f[0].text);
            record.patientKey = Decoded(f[1].text);
            record.personalNumber = Decoded(f[2].text);
            record.column = Decoded(f[3].text);
            if (f[4].quoted || !f[4].text.empty()) record.oldValue = Decoded(f[4].text);
            if (f[5].quoted || !f[5].text.empty()) record.newValue = Decoded(f[5].text);
        } catch (const Error& e) {
            throw Error(refusal + where + e.message() + L".");
        }
        if (record.time.empty() || record.patientKey.empty())
            throw Error(refusal + where + L"tid eller PATIENTNR saknas.");
        if (!IsJournalColumn(record.column))
            throw Error(refusal + where + L"kolumnen \"" + record.column + L"\" skrivs inte av uppdateringen.");
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace tolmar
