// Feeds arbitrary bytes to the reader of a run's "summary.json" (an undo
// reads the one beside the journal it is given) and checks what must hold
// for any file: it is refused with an Error, or the database it names is
// read back the same from a summary that the program's JSON writer makes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/summary_reader.h"
#include "fuzz_check.h"
#include "tools/error.h"
#include "tools/json_writer.h"

using namespace tolmar;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::optional<std::wstring> database;
    try {
        database = SummaryDatabase(bytes);
    } catch (const Error& e) {
        FUZZ_CHECK(!e.message().empty());
        return 0;
    }
    const std::string written =
        database ? "{\n  \"database\": " + JsonString(*database) + "\n}\n" : std::string("{\"database\": null}");
    FUZZ_CHECK(SummaryDatabase(written) == database);
    return 0;
}
