// The register lookups of a run's patients: made in turn, one at a time, or
// made ahead on worker threads (LookupScheduler) and taken in patient
// order. The run asks for each patient's lookup the same way for both, and
// both wait out the register's outages by the same rule (app/outage_watch.h):
// a lookup that ends unreachable is made again, never the patient's failure.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/lookup_scheduler.h"
#include "app/patient_database.h"
#include "register/person_record.h"

namespace tolmar {

// Lookups made on the run's own thread.
class PersonLookup {
public:
    virtual ~PersonLookup() = default;
    virtual LookupAttempt Attempt(const std::wstring& personalNumber) = 0;
    // Takes the attempt in: fills the output fields of `person` (its
    // PersonalNumber kept), the return code (0 found, -359 not found, other:
    // failure with errms) and the last-error strings.
    virtual void Finish(LookupAttempt& attempt, PersonRecord& person, std::int32_t& returnCode,
                        std::wstring& errms) = 0;
};

// Lookups made ahead on worker threads (see LookupScheduler): the workers
// make the attempts, and Finish takes each into the run's thread in patient
// order, as LookUp would have left it (return code, errms, the last-error
// strings).
class ConcurrentLookup {
public:
    virtual ~ConcurrentLookup() = default;
    // Called on the worker thread that will use it.
    virtual std::unique_ptr<LookupWorker> NewWorker() = 0;
    virtual void Finish(LookupAttempt& attempt, PersonRecord& person, std::int32_t& returnCode,
                        std::wstring& errms) = 0;
};

class PatientLookups {
public:
    virtual ~PatientLookups() = default;
    // The patient at `index` has come up, before its row is read.
    virtual void Reached(size_t /*index*/) {}
    // The patient at `index` is not looked up after all (its row is gone,
    // shared, or its number unusable).
    virtual void Drop(size_t /*index*/) {}
    // The lookup of the patient at `index`, whose number `person` holds:
    // fills `person`, the return code and errms as PersonLookup::Finish
    // does; false when the register has been given up (the run stops).
    virtual bool Take(size_t index, PersonRecord& person, std::int32_t& code, std::wstring& errms) = 0;
    // The register's outages so far.
    virtual std::vector<OutageSpan<OutageClock::TimePoint>> Outages() const = 0;
};

// What the lookups tell of the register's outages, on the run's thread.
using TellOutage = std::function<void(const OutageNews&)>;

// Each lookup made when its patient's turn comes.
std::unique_ptr<PatientLookups> LookupsInTurn(PersonLookup& lookup, const OutageRule& rule, OutageClock& clock,
                                              TellOutage tell);

// Lookups queued up to twice the workers ahead of the patient whose turn it
// is, by the numbers `patients` lists, or, when it lists none, by the
// numbers on their rows as they stand then; a number changed by the
// patient's turn is looked up anew. Throws when the scheduler cannot start.
std::unique_ptr<PatientLookups> LookupsAhead(const SchedulerSettings& settings, ConcurrentLookup& lookup,
                                             Waiter& waiter, OutageClock& clock, PatientDatabase& database,
                                             const PatientList& patients, TellOutage tell);

}  // namespace tolmar
