#include "app/lookups.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "app/update_run.h"
#include "register/personal_number.h"

namespace tolmar {
namespace {

class InTurn final : public PatientLookups {
public:
    InTurn(PersonLookup& lookup, const OutageRule& rule, OutageClock& clock, TellOutage tell)
        : lookup_(lookup), clock_(clock), watch_(rule), tell_(std::move(tell)) {}

    // Made again while it ends unreachable, after the rests the watch asks
    // for, until it was made after the register had answered a call started
    // after it failed (then the failure is the patient's own). A resting register is tried
    // with the last number it answered, when there is one.
    bool Take(size_t, PersonRecord& person, std::int32_t& code, std::wstring& errms) override {
        const std::wstring number = person.PersonalNumber.str();
        std::optional<std::uint64_t> failedAfter;
        for (;;) {
            while (watch_.Resting() && clock_.Now() < watch_.RestUntil()) clock_.WaitUntil(watch_.RestUntil());
            const bool probe = watch_.Resting();
            const std::wstring asked = probe && !lastAnswered_.empty() ? lastAnswered_ : number;
            const std::uint64_t started = ++started_;
            const std::uint64_t answeredAtStart = answeredUpTo_;
            LookupAttempt attempt = lookup_.Attempt(asked);
            const bool unreachable = attempt.registerUnreachable;
            if (unreachable) {
                lastUnreachable_ = attempt.failure;
            } else {
                lastAnswered_ = asked;
                answeredUpTo_ = started;
            }
            const OutageChange change = watch_.Ended(unreachable, probe, clock_.Now());
            if (change != OutageChange::None) tell_(watch_.News(change, lastUnreachable_));
            if (unreachable && watch_.GivenUp()) return false;
            if (asked != number) continue;  // a probe for no one
            if (!unreachable || (failedAfter && answeredAtStart > *failedAfter)) {
                lookup_.Finish(attempt, person, code, errms);
                return true;
            }
            if (!failedAfter) failedAfter = started_;
        }
    }
    std::vector<OutageSpan<OutageClock::TimePoint>> Outages() const override { return watch_.Outages(); }

private:
    PersonLookup& lookup_;
    OutageClock& clock_;
    OutageWatch watch_;
    TellOutage tell_;
    std::wstring lastUnreachable_;
    std::wstring lastAnswered_;       // the number of the last lookup the register answered
    std::uint64_t started_ = 0;       // calls started
    std::uint64_t answeredUpTo_ = 0;  // the latest start among the calls answered
};

class Ahead final : public PatientLookups {
public:
    Ahead(const SchedulerSettings& settings, ConcurrentLookup& lookup, Waiter& waiter, OutageClock& clock,
          PatientDatabase& database, const PatientList& patients, TellOutage tell)
        : lookup_(lookup),
          db_(database),
          keys_(patients.keys),
          numbers_(patients.numbers && patients.numbers->size() == keys_.size() ? &*patients.numbers : nullptr),
          tell_(std::move(tell)),
          scheduler_(settings, [&lookup] { return lookup.NewWorker(); }, waiter, clock),
          window_(2 * static_cast<size_t>(std::max(1u, settings.workers))) {}

    // Queues the lookups of the patients from `index` on, up to the window
    // ahead, by the numbers the list gave; the row is read at its turn, and
    // a number changed since is looked up anew. A list without numbers
    // leaves them to be read here from the rows as they stand now.
    void Reached(size_t index) override {
        for (size_t i = std::max(index, nextAhead_); i < keys_.size() && i < index + window_; ++i) {
            nextAhead_ = i + 1;
            if (keys_[i].empty()) continue;  // no key names no row
            std::wstring number = WithoutFirstHyphen(numbers_ ? (*numbers_)[i] : RowNumber(keys_[i]));
            if (number.size() != kPersonalNumberLengthForRun) continue;
            const std::uint64_t ticket = nextTicket_++;
            scheduler_.Submit(ticket, number);
            queued_.emplace(i, Queued{ticket, std::move(number)});
        }
    }

    // Its answer is not kept.
    void Drop(size_t index) override {
        if (auto it = queued_.find(index); it != queued_.end()) {
            scheduler_.Forget(it->second.ticket);
            queued_.erase(it);
        }
    }

    // The lookup made ahead, or made now when the number is not the one
    // looked up.
    bool Take(size_t index, PersonRecord& person, std::int32_t& code, std::wstring& errms) override {
        const std::wstring number = person.PersonalNumber.str();
        std::uint64_t ticket = 0;
        auto it = queued_.find(index);
        if (it != queued_.end() && it->second.number == number) {
            ticket = it->second.ticket;
        } else {
            if (it != queued_.end()) scheduler_.Forget(it->second.ticket);
            ticket = nextTicket_++;
            scheduler_.Submit(ticket, number);
        }
        if (it != queued_.end()) queued_.erase(it);
        std::optional<LookupAttempt> attempt = scheduler_.Take(ticket, tell_);
        if (!attempt) return false;
        lookup_.Finish(*attempt, person, code, errms);
        return true;
    }
    std::vector<OutageSpan<OutageClock::TimePoint>> Outages() const override { return scheduler_.Outages(); }

private:
    // The personal number on the row of `key` as it stands now; "" when it
    // cannot be read now: its turn says why.
    std::wstring RowNumber(const std::wstring& key) {
        try {
            if (std::unique_ptr<PatientRow> row = db_.OpenPatient(key)) return row->Text(L"PERSONNR");
        } catch (const std::exception&) {
        }
        return {};
    }

    struct Queued {
        std::uint64_t ticket;
        std::wstring number;
    };
    ConcurrentLookup& lookup_;
    PatientDatabase& db_;
    const std::vector<std::wstring>& keys_;
    const std::vector<std::wstring>* numbers_;  // the listed numbers, one for each key; none: not listed
    TellOutage tell_;
    LookupScheduler scheduler_;
    std::map<size_t, Queued> queued_;  // by the patient's place in the list
    size_t window_, nextAhead_ = 0;
    std::uint64_t nextTicket_ = 1;
};

}  // namespace

std::unique_ptr<PatientLookups> LookupsInTurn(PersonLookup& lookup, const OutageRule& rule, OutageClock& clock,
                                              TellOutage tell) {
    return std::make_unique<InTurn>(lookup, rule, clock, std::move(tell));
}

std::unique_ptr<PatientLookups> LookupsAhead(const SchedulerSettings& settings, ConcurrentLookup& lookup,
                                             Waiter& waiter, OutageClock& clock, PatientDatabase& database,
                                             const PatientList& patients, TellOutage tell) {
    return std::make_unique<Ahead>(settings, lookup, waiter, clock, database, patients, std::move(tell));
}

}  // namespace tolmar
