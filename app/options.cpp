#include "app/options.h"

#include "tools/text.h"

namespace tolmar {
namespace {

// A whole number from `low` to `high`, digits only.
std::optional<unsigned> Count(const std::optional<std::wstring>& value, unsigned low, unsigned high) {
    if (!value || value->empty() || value->size() > 6) return std::nullopt;
    unsigned n = 0;
    for (wchar_t c : *value) {
        if (c < L'0' || c > L'9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(c - L'0');
    }
    if (n < low || n > high) return std::nullopt;
    return n;
}

// An option's name in upper case: what stands between "/" and ":".
std::wstring OptionName(const std::wstring& option) {
    const size_t colon = option.find(L':');
    return UpperLocale(option.substr(1, colon == std::wstring::npos ? std::wstring::npos : colon - 1));
}

}  // namespace

bool IsOptionParameter(std::wstring_view parameter) { return parameter.starts_with(L'/'); }

StartOptions ParseStartOptions(const std::vector<std::wstring>& parameters) {
    StartOptions options;
    bool undoSeen = false;
    for (size_t i = 1; i < parameters.size(); ++i) {
        const std::wstring& p = parameters[i];
        if (!IsOptionParameter(p)) continue;
        const size_t colon = p.find(L':');
        const std::wstring name = OptionName(p);
        const std::optional<std::wstring> value =
            colon == std::wstring::npos ? std::nullopt : std::optional<std::wstring>(p.substr(colon + 1));
        if (name == L"PREVIEW" && !value) {
            options.preview = true;
        } else if (name == L"UNATTENDED" && !value) {
            options.unattended = true;
        } else if (name == L"UNDO") {
            if (!value || Trim(*value).empty() || undoSeen)
                options.malformed.push_back(p);
            else
                options.undoFile = Trim(*value);
            undoSeen = true;
        } else if (name == L"PARALLEL" || name == L"RATE" || name == L"OUTAGE") {
            std::optional<unsigned>& field = name == L"PARALLEL" ? options.parallel
                                             : name == L"RATE"   ? options.ratePerSecond
                                                                 : options.outageMinutes;
            const std::optional<unsigned> n = Count(value, 1,
                                                    name == L"PARALLEL" ? kMaxParallel
                                                    : name == L"RATE"   ? kMaxRatePerSecond
                                                                        : kMaxOutageMinutes);
            if (!n || field)
                options.malformed.push_back(p);
            else
                field = n;
        } else if (name == L"PREVIEW" || name == L"UNATTENDED") {
            options.malformed.push_back(p);  // these take no value
        } else {
            options.unknown.push_back(p);
        }
    }
    return options;
}

bool OptionsFitJob(const StartOptions& options, Job job) {
    const bool anyOption = options.preview || options.undoFile || options.unattended || options.parallel ||
                           options.ratePerSecond || options.outageMinutes;
    return options.unknown.empty() && options.malformed.empty() && !(options.preview && options.undoFile) &&
           (!anyOption || job == Job::UpdateAll);
}

StartPlan ReadStartPlan(const std::vector<std::wstring>& parameters) {
    StartPlan plan;
    plan.request = ParseStartParameter(parameters.empty() ? std::wstring() : parameters[0]);
    plan.options = ParseStartOptions(parameters);
    plan.optionsFit = OptionsFitJob(plan.options, plan.request.job);
    for (const std::wstring& p : parameters) {
        if (IsOptionParameter(p) && OptionName(p) == L"UNATTENDED") plan.unattended = true;
    }
    return plan;
}

}  // namespace tolmar
