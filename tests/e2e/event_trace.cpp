#include "event_trace.h"

#include <cstdlib>
#include <sstream>

#include "tools/win/unique.h"

namespace e2e {
namespace {

// The trace of every program started while an EventTrace lives: the event
// reports, and every loaded DLL (which shows that the trace reached the process).
constexpr const wchar_t* kTraceChannels = L"-all,+pid,+loaddll,+eventlog,fixme+advapi";
constexpr LONGLONG kLargestTrace = 256LL << 20;

std::optional<unsigned> Hex(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

// A string as Wine's debugstr_w writes it, between L" and ": \\ \" \r \n \t
// and \XXXX (four hex digits) for other characters outside printable ASCII.
std::wstring Unescape(std::string_view text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
            continue;
        }
        const char c = text[++i];
        if (c == 'r') out += L'\r';
        else if (c == 'n') out += L'\n';
        else if (c == 't') out += L'\t';
        else if (const auto code = Hex(text.substr(i, 4)); code && i + 4 <= text.size()) {
            out += static_cast<wchar_t>(*code);
            i += 3;
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

}  // namespace

std::optional<std::vector<ReportedEvent>> ParseEventTrace(std::string_view trace, DWORD pid) {
    std::vector<ReportedEvent> events;
    bool seen = false;
    std::istringstream lines{std::string(trace)};
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t first = line.find(':');
        if (first == std::string::npos || Hex(std::string_view(line).substr(0, first)) != pid) continue;
        const size_t second = line.find(':', first + 1);
        if (second == std::string::npos || !Hex(std::string_view(line).substr(first + 1, second - first - 1))) continue;
        seen = true;
        const std::string_view rest = std::string_view(line).substr(second + 1);
        if (rest.starts_with("fixme:advapi:ReportEventW (")) {
            // (handle,type,category,id,sid,count,size,strings,data)
            std::vector<std::string_view> fields;
            std::string_view args = rest.substr(rest.find('(') + 1);
            args = args.substr(0, args.find(')'));
            for (size_t start = 0;;) {
                const size_t comma = args.find(',', start);
                fields.push_back(args.substr(start, comma == std::string_view::npos ? args.npos : comma - start));
                if (comma == std::string_view::npos) break;
                start = comma + 1;
            }
            ReportedEvent event;
            if (fields.size() >= 4) {
                auto field = [&](size_t n) { return Hex(fields[n].starts_with("0x") ? fields[n].substr(2) : fields[n]); };
                event.type = field(1).value_or(0xFFFF);
                event.id = field(3).value_or(0);
            }
            events.push_back(event);
        } else if (const size_t at = rest.find(":eventlog:ReportEventW L\""); at != std::string_view::npos && !events.empty()) {
            std::string_view text = rest.substr(at + std::string_view(":eventlog:ReportEventW L\"").size());
            const bool cut = text.ends_with("\"...");
            text.remove_suffix(cut ? 4 : text.ends_with('"') ? 1 : 0);
            events.back().strings.push_back(Unescape(text));
            events.back().cut = events.back().cut || cut;
        }
    }
    if (!seen) return std::nullopt;
    return events;
}

EventTrace::EventTrace() {
    const char* given = std::getenv("TOLMAR_WINE_STDERR");
    if (!given || !*given) {
        problem_ = "TOLMAR_WINE_STDERR is not set: the event tests read the events from Wine's trace on the tests' "
                   "stderr, which the script that runs them must send to that file (scripts/test does)";
        return;
    }
    for (const char* c = given; *c; ++c) path_ += static_cast<wchar_t>(*c == '/' ? '\\' : *c);
    if (given[0] == '/') path_ = L"Z:" + path_;  // a Unix path, as Wine's drive Z: shows it
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) {
        problem_ = "the trace file named by TOLMAR_WINE_STDERR cannot be read: " + std::string(given);
        return;
    }
    start_ = static_cast<LONGLONG>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    wchar_t previous[512];
    const DWORD n = GetEnvironmentVariableW(L"WINEDEBUG", previous, 512);
    if (n > 0 && n < 512) previousDebug_ = std::wstring(previous, n);
    SetEnvironmentVariableW(L"WINEDEBUG", kTraceChannels);
}

EventTrace::~EventTrace() {
    SetEnvironmentVariableW(L"WINEDEBUG", previousDebug_ ? previousDebug_->c_str() : nullptr);
}

std::optional<std::vector<ReportedEvent>> EventTrace::EventsOf(DWORD pid) const {
    if (!problem_.empty()) return std::nullopt;
    tolmar::win::UniqueFile file(CreateFileW(path_.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < start_ || size.QuadPart - start_ > kLargestTrace)
        return std::nullopt;
    LARGE_INTEGER from{};
    from.QuadPart = start_;
    std::string text(static_cast<size_t>(size.QuadPart - start_), '\0');
    DWORD read = 0;
    if (!SetFilePointerEx(file.get(), from, nullptr, FILE_BEGIN) ||
        (!text.empty() && !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)))
        return std::nullopt;
    text.resize(read);
    return ParseEventTrace(text, pid);
}

}  // namespace e2e
