// The register's outages as an update run meets them. A lookup that ends
// unreachable (no connection, the deadline passed, an HTTP status without a
// SOAP reply) is not the patient's failure: it is made again. After
// streakBeforePause such lookups in a row the register is given a rest, then
// one lookup (the probe) tries it again; the rests double up to longestPause
// while the probes fail. The first lookup the register answers ends the
// outage. After stopAfter of nothing but unreachable lookups the run gives
// up on the register.
//
// Plain state: the caller says when each lookup ended and how, at the times
// of its clock (OutageClock), and waits as the watch says. Not thread-safe:
// the caller holds its own lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tolmar {

// The time the outage rule goes by, and the waits it asks for: the program
// waits on the steady clock, the tests on a clock of their own that never
// sleeps.
class OutageClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~OutageClock() = default;
    virtual TimePoint Now() = 0;
    // The wall-clock time that `t` was.
    virtual std::chrono::system_clock::time_point WallTimeOf(TimePoint t) = 0;
    // A worker's wait, `lock` held on `changed`: returns by `until`, or
    // earlier when `changed` is notified (the caller looks again).
    virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, TimePoint until) = 0;
    // The run's own thread waits (its window answering meanwhile): returns
    // by `until`, or earlier (the caller looks again).
    virtual void WaitUntil(TimePoint until) = 0;
};

// The steady clock and the workers' waits on it; the run's own thread waits
// as its platform lets its window answer.
class SteadyOutageClock : public OutageClock {
public:
    TimePoint Now() override;
    std::chrono::system_clock::time_point WallTimeOf(TimePoint t) override;
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, TimePoint until) override;
    using OutageClock::WaitUntil;
};

struct OutageRule {
    unsigned streakBeforePause = 5;  // unreachable lookups in a row
    std::chrono::milliseconds firstPause{1000};
    std::chrono::milliseconds longestPause{32000};
    std::chrono::milliseconds stopAfter{std::chrono::minutes(10)};
};

inline constexpr unsigned kDefaultOutageMinutes = 10;
inline constexpr unsigned kMaxOutageMinutes = 1440;

// One outage: from the end of the first unreachable lookup of the streak to
// the end of the first lookup the register answered; `to` is empty when the
// run stopped during it.
template <class Time>
struct OutageSpan {
    Time from;
    std::optional<Time> to;
    bool operator==(const OutageSpan&) const = default;
};

enum class OutageChange {
    None,
    Began,    // the register is given its first rest: an outage
    Retried,  // a probe failed: the rest grew
    Ended,    // the register answered after an outage
    GaveUp,   // stopAfter of nothing but unreachable lookups
};

// What the run is told of an outage, on its own thread.
struct OutageNews {
    OutageChange change = OutageChange::None;
    std::chrono::milliseconds pause{0};   // Began, Retried: the rest before the next try
    std::chrono::milliseconds length{0};  // Ended: how long the register had not answered
    std::wstring failure;                 // GaveUp: why the last lookup failed
};

class OutageWatch {
public:
    using TimePoint = OutageClock::TimePoint;
    using Change = OutageChange;

    explicit OutageWatch(OutageRule rule) : rule_(rule) {}

    // A lookup ended at `now`; `probe`: it was the one that tried a resting
    // register again. While the register rests, only the probe's end
    // changes anything: lookups in flight when the rest began, answered or
    // not, tell nothing of the register since.
    Change Ended(bool unreachable, bool probe, TimePoint now);

    // The register is resting: no lookup starts but the probe, and that one
    // not before RestUntil().
    bool Resting() const { return resting_; }
    TimePoint RestUntil() const { return restUntil_; }
    bool GivenUp() const { return givenUp_; }
    // What to tell of `change`; `lastFailure`: why the last unreachable
    // lookup failed.
    OutageNews News(Change change, const std::wstring& lastFailure) const;
    const std::vector<OutageSpan<TimePoint>>& Outages() const { return outages_; }

private:
    void Rest(TimePoint now);

    const OutageRule rule_;
    unsigned streak_ = 0;
    TimePoint streakStart_{};
    bool resting_ = false;
    TimePoint restUntil_{};
    std::chrono::milliseconds pause_{0};
    std::chrono::milliseconds nextTryIn_{0};  // the rest as it was given: the pause, or less at the end
    bool givenUp_ = false;
    std::vector<OutageSpan<TimePoint>> outages_;
};

}  // namespace tolmar
