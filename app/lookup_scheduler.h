// Lookups in the register made ahead of the run, a few at a time, on worker
// threads of their own. The run hands over the personal numbers of the
// patients to come (Submit) and takes each attempt in patient order (Take);
// comparing and saving stay on the run's own thread and connection.
//
// A cap on the lookups started a second holds across all workers. A lookup
// that ends unreachable is queued again, in its place, until it is made
// again after the register has answered a call started after it failed:
// then its failure is the patient's own. The register's outages are told apart and waited out as
// app/outage_watch.h says, one call at a time trying a resting register
// (with the last number it answered, so that one number it never answers
// keeps no outage going), and when the watch gives up Take says so.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/outage_watch.h"
#include "register/lookup_attempt.h"

namespace tolmar {

// Makes the lookups of one worker thread: made on that thread, used only by
// it and destroyed on it (a COM apartment and the thread's own documents).
class LookupWorker {
public:
    virtual ~LookupWorker() = default;
    virtual LookupAttempt Attempt(const std::wstring& personalNumber) = 0;
};

// What wakes the run's thread when an attempt is ready. Wait() returns after
// a Notify() that came since the last Wait(), and may return earlier (the
// window's messages are handled while it waits).
class Waiter {
public:
    virtual ~Waiter() = default;
    virtual void Notify() = 0;  // any thread
    virtual void Wait() = 0;    // the run's thread
};

// A Waiter for a thread without a window.
class CondvarWaiter final : public Waiter {
public:
    void Notify() override;
    void Wait() override;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool notified_ = false;
};

struct SchedulerSettings {
    unsigned workers = 1;         // lookups in flight at most
    unsigned ratePerSecond = 0;   // lookups started a second at most; 0: no cap
    OutageRule outage;
};

class LookupScheduler {
public:
    using Clock = std::chrono::steady_clock;
    using NewWorker = std::function<std::unique_ptr<LookupWorker>()>;
    using Tell = std::function<void(const OutageNews&)>;

    // The outages are timed and waited out on `clock`.
    LookupScheduler(const SchedulerSettings& settings, NewWorker newWorker, Waiter& waiter, OutageClock& clock);
    // Lookups not yet started are dropped; those in flight end (within the
    // register's deadline) and are discarded.
    ~LookupScheduler();
    LookupScheduler(const LookupScheduler&) = delete;
    LookupScheduler& operator=(const LookupScheduler&) = delete;

    // Queues the lookup of `personalNumber` as `ticket` (each ticket once).
    void Submit(std::uint64_t ticket, std::wstring personalNumber);
    // Waits for the ticket's attempt and hands it over; nullopt when the
    // scheduler has given up on the register. What happens to the register
    // meanwhile is told through `tell`, on the caller's thread.
    std::optional<LookupAttempt> Take(std::uint64_t ticket, const Tell& tell);
    // The ticket's attempt is not wanted: dropped when it comes.
    void Forget(std::uint64_t ticket);

    bool GivenUp() const;
    std::vector<OutageSpan<OutageClock::TimePoint>> Outages() const;

private:
    struct Job {
        std::uint64_t ticket;  // kProbeTicket: a probe of the last number answered, for no one
        std::wstring number;
        std::uint64_t started = 0;                 // its place among the calls started
        std::optional<std::uint64_t> failedAfter;  // ended unreachable when this many calls had started
        std::uint64_t answeredAtStart = 0;         // the latest answered call's start, as known at its own
        bool probe = false;                        // tries a resting register again
    };
    static constexpr std::uint64_t kProbeTicket = 0;
    void Work();
    // The next job once it may start (the rate cap, a resting register, a
    // probe in flight); none when the scheduler ends or gives up meanwhile.
    std::optional<Job> NextJob(std::unique_lock<std::mutex>& lock);
    // Takes the attempt in: kept for its Take, or (unreachable) queued again.
    void Ended(Job job, LookupAttempt attempt);

    const SchedulerSettings settings_;
    const NewWorker newWorker_;
    Waiter& waiter_;
    OutageClock& clock_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::map<std::uint64_t, LookupAttempt> done_;
    std::set<std::uint64_t> outstanding_;  // submitted, not yet taken or forgotten
    std::set<std::uint64_t> forgotten_;    // in flight, not wanted
    bool ending_ = false;
    // The rate cap and the outages.
    Clock::time_point nextStart_{};
    OutageWatch watch_;
    bool probing_ = false;          // the one call that tries a resting register is in flight
    std::wstring lastUnreachable_;  // why the last unreachable lookup failed
    std::wstring lastAnswered_;     // the number of the last lookup the register answered
    std::uint64_t started_ = 0;     // calls started
    std::uint64_t answeredUpTo_ = 0;  // the latest start among the calls answered
    std::deque<OutageNews> news_;   // not yet told

    std::vector<std::thread> threads_;
};

}  // namespace tolmar
