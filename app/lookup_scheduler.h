// Lookups in the register made ahead of the run, a few at a time, on worker
// threads of their own. The run hands over the personal numbers of the
// patients to come (Submit) and takes each attempt in patient order (Take);
// comparing and saving stay on the run's own thread and connection.
//
// A cap on the lookups started a second holds across all workers. With
// back-off on, a register that fails several calls in a row is given a
// pause, then one call to try it again; the pauses double while it keeps
// failing, and after giveUpAfter of nothing but failures the scheduler gives
// up (Take says so) rather than wait on it for good.
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
    bool backOff = false;
    unsigned failuresBeforePause = 5;  // register failures in a row
    std::chrono::milliseconds firstPause{1000};
    std::chrono::milliseconds longestPause{32000};
    std::chrono::milliseconds giveUpAfter{std::chrono::minutes(10)};
};

class LookupScheduler {
public:
    using Clock = std::chrono::steady_clock;
    using NewWorker = std::function<std::unique_ptr<LookupWorker>()>;

    LookupScheduler(const SchedulerSettings& settings, NewWorker newWorker, Waiter& waiter);
    // Lookups not yet started are dropped; those in flight end (within the
    // register's deadline) and are discarded.
    ~LookupScheduler();
    LookupScheduler(const LookupScheduler&) = delete;
    LookupScheduler& operator=(const LookupScheduler&) = delete;

    // Queues the lookup of `personalNumber` as `ticket` (each ticket once).
    void Submit(std::uint64_t ticket, std::wstring personalNumber);
    // Waits for the ticket's attempt and hands it over; nullopt when the
    // scheduler has given up on the register.
    std::optional<LookupAttempt> Take(std::uint64_t ticket);
    // The ticket's attempt is not wanted: dropped when it comes.
    void Forget(std::uint64_t ticket);

    bool GivenUp() const;

private:
    struct Job {
        std::uint64_t ticket;
        std::wstring number;
    };
    void Work();
    // Waits until the job may start (the rate cap, a back-off pause, a
    // probe in flight); false when the scheduler ends or gives up meanwhile.
    // `probe`: this call tries a resting register again.
    bool WaitForStart(std::unique_lock<std::mutex>& lock, bool& probe);
    // Counts the register's failures in a row, and pauses after them.
    void NoteOutcome(bool unreachable, bool probe);

    const SchedulerSettings settings_;
    const NewWorker newWorker_;
    Waiter& waiter_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::map<std::uint64_t, LookupAttempt> done_;
    std::set<std::uint64_t> outstanding_;  // submitted, not yet taken or forgotten
    std::set<std::uint64_t> forgotten_;    // in flight, not wanted
    bool ending_ = false;
    // The rate cap and back-off.
    Clock::time_point nextStart_{};
    unsigned failuresInRow_ = 0;
    Clock::time_point firstFailure_{};
    bool pausing_ = false;          // the register is being given a rest
    bool probing_ = false;          // the one call that tries it again is in flight
    Clock::time_point pauseUntil_{};
    std::chrono::milliseconds pause_{0};
    bool givenUp_ = false;

    std::vector<std::thread> threads_;
};

}  // namespace tolmar
