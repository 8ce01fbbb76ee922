// The options that may follow the job word, Windows style: "/name" or
// "/name:value", names in any letter case, in any position after the first
// start parameter. A start without options does what it always did.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dispatch.h"
#include "app/outage_watch.h"

namespace tolmar {

struct StartOptions {
    bool preview = false;                  // /preview: decide, write nothing
    std::optional<std::wstring> undoFile;  // /undo:<change journal>
    bool unattended = false;               // /unattended: no box, no dialog
    std::optional<unsigned> parallel;      // /parallel:N, lookups in flight (kMaxParallel at most)
    std::optional<unsigned> ratePerSecond; // /rate:R, lookups started a second at most
    std::optional<unsigned> outageMinutes; // /outage:M, minutes without the register before the run stops
    std::vector<std::wstring> unknown;     // options this program does not know, as given
    // An option was given whose value is missing or that was given twice.
    std::vector<std::wstring> malformed;
};

inline constexpr unsigned kMaxParallel = 16;
inline constexpr unsigned kMaxRatePerSecond = 10000;

// Whether a start parameter is an option (it begins with "/").
bool IsOptionParameter(std::wstring_view parameter);

// Reads the options among `parameters` (all start parameters, the first
// one, the job word, included and passed over).
StartOptions ParseStartOptions(const std::vector<std::wstring>& parameters);

// Whether the options go with the job: every one known and well formed,
// /preview not with /undo, and any option only with UPDATE_ALL. When they
// do not, the program shows its help with the options and does nothing.
bool OptionsFitJob(const StartOptions& options, Job job);

// What one start asks for, read once from all its start parameters: the job
// of the first, and the options after it.
struct StartPlan {
    StartRequest request;
    StartOptions options;
    bool optionsFit = true;  // OptionsFitJob
    // Some parameter, wherever it stands (the first one included, with or
    // without a value), is /unattended: nobody is at the screen, whether or
    // not the rest of the list is valid.
    bool unattended = false;
    // Unattended, but not a valid unattended run: the start is refused
    // without a box (exit code 2), its line in a run record.
    bool RefusedUnattended() const {
        return unattended && !(optionsFit && options.unattended && request.job == Job::UpdateAll);
    }
};
StartPlan ReadStartPlan(const std::vector<std::wstring>& parameters);

inline constexpr std::wstring_view kOptionsHelpText =
    L"\r\rTill UPDATE_ALL kan dessa val läggas:\r"
    L"/preview - Visar vad en uppdatering skulle ändra, utan att ändra något\r"
    L"/undo:<ändringslogg> - Återställer de ändringar som ändringsloggen visar\r"
    L"/unattended - Visar inga rutor eller dialoger (för schemalagda körningar)\r"
    L"/parallel:<1-16> - Gör så många uppslagningar i registret samtidigt (registrets ägare måste godta lasten)\r"
    L"/rate:<antal> - Startar högst så många uppslagningar i registret per sekund\r"
    L"/outage:<1-1440> - Avbryter körningen när registret inte har svarat på så många minuter (annars 10)";

}  // namespace tolmar
