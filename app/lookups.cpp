#include "app/lookups.h"

#include <algorithm>

#include "app/update_run.h"
#include "register/personal_number.h"

namespace tolmar {
namespace {

class InTurn final : public PatientLookups {
public:
    explicit InTurn(PersonLookup& lookup) : lookup_(lookup) {}
    bool Take(size_t, PersonRecord& person, std::int32_t& code, std::wstring& errms) override {
        lookup_.LookUp(person, code, errms);
        return true;
    }

private:
    PersonLookup& lookup_;
};

class Ahead final : public PatientLookups {
public:
    Ahead(const SchedulerSettings& settings, ConcurrentLookup& lookup, Waiter& waiter, PatientDatabase& database,
          const std::vector<std::wstring>& keys)
        : lookup_(lookup),
          db_(database),
          keys_(keys),
          scheduler_(settings, [&lookup] { return lookup.NewWorker(); }, waiter),
          window_(2 * static_cast<size_t>(std::max(1u, settings.workers))) {}

    // Queues the lookups of the patients from `index` on, up to the window
    // ahead. Their numbers are read here as the rows stand now; the row is
    // read again at its turn, and a number changed meanwhile is looked up
    // anew. A row that cannot be read now waits for its turn, which says why.
    void Reached(size_t index) override {
        for (size_t i = std::max(index, nextAhead_); i < keys_.size() && i < index + window_; ++i) {
            nextAhead_ = i + 1;
            std::wstring number;
            try {
                if (keys_[i].empty()) continue;  // no key names no row
                if (std::unique_ptr<PatientRow> row = db_.OpenPatient(keys_[i]))
                    number = WithoutFirstHyphen(row->Text(L"PERSONNR"));
            } catch (const std::exception&) {
                continue;
            }
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
        std::optional<LookupAttempt> attempt = scheduler_.Take(ticket);
        if (!attempt) return false;
        lookup_.Finish(*attempt, person, code, errms);
        return true;
    }

private:
    struct Queued {
        std::uint64_t ticket;
        std::wstring number;
    };
    ConcurrentLookup& lookup_;
    PatientDatabase& db_;
    const std::vector<std::wstring>& keys_;
    LookupScheduler scheduler_;
    std::map<size_t, Queued> queued_;  // by the patient's place in the list
    size_t window_, nextAhead_ = 0;
    std::uint64_t nextTicket_ = 1;
};

}  // namespace

std::unique_ptr<PatientLookups> LookupsInTurn(PersonLookup& lookup) { return std::make_unique<InTurn>(lookup); }

std::unique_ptr<PatientLookups> LookupsAhead(const SchedulerSettings& settings, ConcurrentLookup& lookup,
                                             Waiter& waiter, PatientDatabase& database,
                                             const std::vector<std::wstring>& keys) {
    return std::make_unique<Ahead>(settings, lookup, waiter, database, keys);
}

}  // namespace tolmar
