// Feeds arbitrary bytes to the reader of change journals (an undo reads a
// file the administrator names) and checks what must hold for any file:
// it is refused with an Error, or every record it yields is written back
// (values that a spreadsheet would take for a formula marked) and read back
// to the same records, and read again from its place to the same record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/journal.h"
#include "fuzz_check.h"
#include "tools/error.h"

using namespace tolmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<JournalRecord> records;
    try {
        records = ReadJournal(bytes);
    } catch (const Error& e) {
        FUZZ_CHECK(!e.message().empty());
        return 0;
    }
    for (const JournalRecord& r : records) {
        FUZZ_CHECK(IsJournalColumn(r.column));
        FUZZ_CHECK(!r.patientKey.empty() && !r.time.empty());
    }
    const std::string written = std::string(kUtf8Bom) + JournalHeader() + JournalRows(records);
    FUZZ_CHECK(ReadJournal(written) == records);
    // Read as the undo reads it: each record again from its place, newest first.
    MemoryJournalSource source{std::string(bytes)};
    JournalReader reader(source);
    std::vector<JournalPlace> places;
    while (reader.Next()) places.push_back(reader.Place());
    FUZZ_CHECK(places.size() == records.size());
    for (std::size_t i = places.size(); i-- > 0;) {
        reader.Return(places[i]);
        FUZZ_CHECK(reader.Next() == records[i]);
    }
    return 0;
}
