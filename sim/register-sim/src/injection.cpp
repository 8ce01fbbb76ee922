#include "injection.h"

#include <charconv>
#include <set>
#include <vector>

#include "xml_util.h"

namespace regsim {
namespace {

struct KindName {
    InjectionKind kind;
    std::string_view name;
};

constexpr KindName kKinds[] = {
    {InjectionKind::Ok, "ok"},
    {InjectionKind::SoapFault, "soap-fault"},
    {InjectionKind::Http, "http"},
    {InjectionKind::NotXml, "notxml"},
    {InjectionKind::EmptyResult, "empty-result"},
    {InjectionKind::Result, "result"},
    {InjectionKind::NoResult, "no-result"},
    {InjectionKind::Drop, "drop"},
};

constexpr std::string_view kFaultCodes[] = {"VersionMismatch", "MustUnderstand", "DataEncodingUnknown", "Sender",
                                            "Receiver"};
constexpr std::string_view kSeverities[] = {"None", "Critical", "Warning", "Information"};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

int parse_int(std::string_view key, std::string_view value, int low, int high) {
    int v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || end != value.data() + value.size() || v < low || v > high) {
        throw InjectionError(std::string(key) + "=" + std::string(value) + " is not a whole number from " +
                             std::to_string(low) + " to " + std::to_string(high));
    }
    return v;
}

bool carries_soap(InjectionKind kind) { return kind != InjectionKind::Http && kind != InjectionKind::Drop; }

}  // namespace

bool Injection::has_header() const {
    for (const auto& m : header) {
        if (m) return true;
    }
    return false;
}

std::string_view kind_name(InjectionKind kind) {
    for (const auto& k : kKinds) {
        if (k.kind == kind) return k.name;
    }
    return "?";
}

Injection parse_injection(std::string_view form, bool runtime) {
    std::vector<std::string_view> items;
    size_t start = 0;
    for (size_t i = 0; i <= form.size(); ++i) {
        if (i == form.size() || form[i] == '|' || form[i] == '\n') {
            items.push_back(trim(form.substr(start, i - start)));
            start = i + 1;
        }
    }
    const std::string_view kind_text = items.front();
    Injection inj;
    bool known = false;
    for (const auto& k : kKinds) {
        if (k.name == kind_text) {
            inj.kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        std::string names;
        for (const auto& k : kKinds) names += (names.empty() ? "" : ", ") + std::string(k.name);
        throw InjectionError(kind_text.empty()
                                 ? "no kind given (one of " + names + ")"
                                 : "unknown kind '" + std::string(kind_text) + "' (one of " + names + ")");
    }
    inj.text = inj.kind == InjectionKind::NotXml ? "Registret är inte tillgängligt just nu" : "";

    std::set<std::string, std::less<>> seen;
    bool has_status = false;
    bool has_text = false;
    for (size_t i = 1; i < items.size(); ++i) {
        const std::string_view item = items[i];
        if (item.empty()) continue;
        const auto eq = item.find('=');
        if (eq == std::string_view::npos) throw InjectionError("'" + std::string(item) + "' is not key=value");
        const std::string_view key = trim(item.substr(0, eq));
        const std::string value(trim(item.substr(eq + 1)));
        if (!seen.insert(std::string(key)).second) throw InjectionError("key " + std::string(key) + " given twice");
        const auto not_for_kind = [&] {
            return InjectionError("key " + std::string(key) + " does not apply to " + std::string(kind_text));
        };

        if (key == "delay") {
            inj.delay_ms = parse_int(key, value, 0, 600000);
        } else if (key == "pnr" || key == "count") {
            if (!runtime) throw InjectionError("key " + std::string(key) + " is accepted only by /control/fault");
            if (key == "pnr") {
                inj.pnr = value;
            } else {
                inj.count = parse_int(key, value, 1, 1000000000);
            }
        } else if (key == "reason" || key == "detail" || key == "code") {
            if (inj.kind != InjectionKind::SoapFault) throw not_for_kind();
            if (key == "reason") {
                inj.reason = value;
            } else if (key == "detail") {
                if (auto err = fragment_error(value))
                    throw InjectionError("detail is not well-formed XML content: " + *err);
                inj.detail = value;
            } else {
                bool ok = false;
                for (auto c : kFaultCodes) ok = ok || c == value;
                if (!ok) throw InjectionError("code=" + value + " is not a SOAP 1.2 fault code");
                inj.fault_code = value;
            }
        } else if (key == "status" || key == "body" || key == "type") {
            if (inj.kind != InjectionKind::Http) throw not_for_kind();
            if (key == "status") {
                inj.status = parse_int(key, value, 100, 599);
                has_status = true;
            } else if (key == "body") {
                inj.body = value;
            } else {
                inj.content_type = value;
            }
        } else if (key == "text") {
            if (inj.kind != InjectionKind::NotXml && inj.kind != InjectionKind::Result) throw not_for_kind();
            inj.text = value;
            has_text = true;
        } else if (key == "children") {
            if (inj.kind != InjectionKind::NoResult) throw not_for_kind();
            inj.children = parse_int(key, value, 0, 20);
        } else {
            bool member = false;
            for (size_t m = 0; m < kHeaderErrorInfoMembers.size(); ++m) {
                if (kHeaderErrorInfoMembers[m] != key) continue;
                member = true;
                if (!carries_soap(inj.kind)) throw not_for_kind();
                if (key == "Severity") {
                    bool ok = false;
                    for (auto s : kSeverities) ok = ok || s == value;
                    if (!ok)
                        throw InjectionError("Severity=" + value + " is not None, Critical, Warning or Information");
                }
                if (key == "Code") {
                    long long code = 0;
                    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), code);
                    if (ec != std::errc() || end != value.data() + value.size()) {
                        throw InjectionError("Code=" + value + " is not a whole number (xs:long)");
                    }
                }
                inj.header[m] = value;
            }
            if (!member) throw InjectionError("unknown key " + std::string(key));
        }
    }
    if (inj.kind == InjectionKind::Http && !has_status) throw InjectionError("http needs status=");
    if (inj.kind == InjectionKind::Result && !has_text) throw InjectionError("result needs text=");
    return inj;
}

std::string describe(const Injection& inj) {
    std::string out(kind_name(inj.kind));
    const auto add = [&out](std::string_view key, const std::string& value) {
        out += " | ";
        out += key;
        out += '=';
        out += value;
    };
    switch (inj.kind) {
        case InjectionKind::SoapFault:
            if (inj.reason) add("reason", *inj.reason);
            if (inj.detail) add("detail", *inj.detail);
            add("code", inj.fault_code);
            break;
        case InjectionKind::Http:
            add("status", std::to_string(inj.status));
            if (inj.body) add("body", *inj.body);
            add("type", inj.content_type);
            break;
        case InjectionKind::NotXml:
        case InjectionKind::Result:
            add("text", inj.text);
            break;
        case InjectionKind::NoResult:
            add("children", std::to_string(inj.children));
            break;
        default:
            break;
    }
    for (size_t m = 0; m < inj.header.size(); ++m) {
        if (inj.header[m]) add(kHeaderErrorInfoMembers[m], *inj.header[m]);
    }
    if (inj.delay_ms) add("delay", std::to_string(inj.delay_ms));
    if (inj.pnr) add("pnr", *inj.pnr);
    if (inj.count >= 0) add("count", std::to_string(inj.count));
    return out;
}

}  // namespace regsim
