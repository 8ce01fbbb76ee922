#include "app/lookup_scheduler.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include "tools/error.h"

namespace tolmar {

void CondvarWaiter::Notify() {
    {
        std::lock_guard lock(mutex_);
        notified_ = true;
    }
    changed_.notify_one();
}

void CondvarWaiter::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return notified_; });
    notified_ = false;
}

namespace {

LookupAttempt FailedAttempt(std::wstring message) {
    LookupAttempt attempt;
    attempt.returnCode = ReturnCode::Failure;
    attempt.failure = std::move(message);
    return attempt;
}

}  // namespace

LookupScheduler::LookupScheduler(const SchedulerSettings& settings, NewWorker newWorker, Waiter& waiter)
    : settings_(settings), newWorker_(std::move(newWorker)), waiter_(waiter) {
    const unsigned count = std::max(1u, settings_.workers);
    try {
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error& e) {
        // Fewer workers than asked for still do the work; none cannot.
        if (threads_.empty()) throw Error(L"Det gick inte att starta uppslagningarna i registret: " + MessageOf(e));
    }
}

LookupScheduler::~LookupScheduler() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void LookupScheduler::Submit(std::uint64_t ticket, std::wstring personalNumber) {
    {
        std::lock_guard lock(mutex_);
        if (!outstanding_.insert(ticket).second) throw Error(L"Uppslagning " + std::to_wstring(ticket) + L" finns redan.");
        queue_.push_back({ticket, std::move(personalNumber)});
    }
    changed_.notify_all();
}

std::optional<LookupAttempt> LookupScheduler::Take(std::uint64_t ticket) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (!outstanding_.count(ticket))
                throw Error(L"Uppslagning " + std::to_wstring(ticket) + L" har inte begärts.");
            if (auto it = done_.find(ticket); it != done_.end()) {
                LookupAttempt attempt = std::move(it->second);
                done_.erase(it);
                outstanding_.erase(ticket);
                return attempt;
            }
            if (givenUp_) return std::nullopt;
        }
        waiter_.Wait();
    }
}

void LookupScheduler::Forget(std::uint64_t ticket) {
    std::lock_guard lock(mutex_);
    if (!outstanding_.erase(ticket)) return;
    if (done_.erase(ticket)) return;
    const auto queued = std::find_if(queue_.begin(), queue_.end(), [ticket](const Job& j) { return j.ticket == ticket; });
    if (queued != queue_.end())
        queue_.erase(queued);
    else
        forgotten_.insert(ticket);  // in flight
}

bool LookupScheduler::GivenUp() const {
    std::lock_guard lock(mutex_);
    return givenUp_;
}

bool LookupScheduler::WaitForStart(std::unique_lock<std::mutex>& lock, bool& probe) {
    for (;;) {
        if (ending_ || givenUp_) return false;
        if (queue_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (pausing_) {
            if (probing_) {  // one call at a time tries the register again
                changed_.wait(lock);
                continue;
            }
            if (now < pauseUntil_) {
                changed_.wait_until(lock, pauseUntil_);
                continue;
            }
        }
        if (settings_.ratePerSecond && now < nextStart_) {
            changed_.wait_until(lock, nextStart_);
            continue;
        }
        if (settings_.ratePerSecond)
            nextStart_ = std::max(nextStart_, now) +
                         std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(1'000'000'000) /
                                                                      settings_.ratePerSecond);
        probe = pausing_;
        if (probe) probing_ = true;
        return true;
    }
}

void LookupScheduler::Work() {
    std::unique_ptr<LookupWorker> worker;
    std::wstring setupFailure;
    try {
        worker = newWorker_();
    } catch (const std::exception& e) {
        setupFailure = MessageOf(e);
    }
    if (!worker && setupFailure.empty()) setupFailure = L"Uppslagningen i registret kunde inte förberedas.";

    std::unique_lock lock(mutex_);
    for (;;) {
        bool probe = false;
        if (!WaitForStart(lock, probe)) break;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();

        LookupAttempt attempt;
        if (!worker) {
            attempt = FailedAttempt(setupFailure);
        } else {
            try {
                attempt = worker->Attempt(job.number);
            } catch (const std::exception& e) {
                attempt = FailedAttempt(MessageOf(e));
            }
        }

        lock.lock();
        if (settings_.backOff) NoteOutcome(attempt.registerUnreachable, probe);
        if (forgotten_.erase(job.ticket) == 0) done_.emplace(job.ticket, std::move(attempt));
        lock.unlock();
        changed_.notify_all();
        waiter_.Notify();
        lock.lock();
    }
    lock.unlock();
    // The worker ends on its own thread.
    worker.reset();
    waiter_.Notify();
}

void LookupScheduler::NoteOutcome(bool unreachable, bool probe) {
    const Clock::time_point now = Clock::now();
    if (!unreachable) {
        failuresInRow_ = 0;
        pausing_ = probing_ = false;
        return;
    }
    if (failuresInRow_++ == 0) firstFailure_ = now;
    if (probe) {
        probing_ = false;
        pause_ = std::min(pause_ * 2, settings_.longestPause);
        pauseUntil_ = now + pause_;
    } else if (!pausing_ && failuresInRow_ >= settings_.failuresBeforePause) {
        pausing_ = true;
        pause_ = settings_.firstPause;
        pauseUntil_ = now + pause_;
    }
    if (pausing_ && now - firstFailure_ >= settings_.giveUpAfter) givenUp_ = true;
}

}  // namespace tolmar
