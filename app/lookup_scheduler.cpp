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

LookupScheduler::LookupScheduler(const SchedulerSettings& settings, NewWorker newWorker, Waiter& waiter,
                                 OutageClock& clock)
    : settings_(settings), newWorker_(std::move(newWorker)), waiter_(waiter), clock_(clock), watch_(settings.outage) {
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
        if (ticket == kProbeTicket || !outstanding_.insert(ticket).second) throw Error(L"Uppslagning " + std::to_wstring(ticket) + L" finns redan.");
        queue_.push_back({ticket, std::move(personalNumber)});
    }
    changed_.notify_all();
}

std::optional<LookupAttempt> LookupScheduler::Take(std::uint64_t ticket, const Tell& tell) {
    for (;;) {
        std::deque<OutageNews> news;
        std::optional<LookupAttempt> attempt;
        bool givenUp = false;
        {
            std::lock_guard lock(mutex_);
            if (!outstanding_.count(ticket))
                throw Error(L"Uppslagning " + std::to_wstring(ticket) + L" har inte begärts.");
            news.swap(news_);
            if (auto it = done_.find(ticket); it != done_.end()) {
                attempt = std::move(it->second);
                done_.erase(it);
                outstanding_.erase(ticket);
            }
            givenUp = watch_.GivenUp();
        }
        for (const OutageNews& n : news) tell(n);
        if (attempt) return attempt;
        if (givenUp) return std::nullopt;
        if (news.empty()) waiter_.Wait();
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
    return watch_.GivenUp();
}

std::vector<OutageSpan<OutageClock::TimePoint>> LookupScheduler::Outages() const {
    std::lock_guard lock(mutex_);
    return watch_.Outages();
}

std::optional<LookupScheduler::Job> LookupScheduler::NextJob(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        if (ending_ || watch_.GivenUp()) return std::nullopt;
        if (queue_.empty()) {
            changed_.wait(lock);
            continue;
        }
        if (watch_.Resting()) {
            if (probing_) {  // one call at a time tries the register again
                changed_.wait(lock);
                continue;
            }
            if (clock_.Now() < watch_.RestUntil()) {
                clock_.WaitUntil(lock, changed_, watch_.RestUntil());
                continue;
            }
        }
        const Clock::time_point now = Clock::now();
        if (settings_.ratePerSecond && now < nextStart_) {
            changed_.wait_until(lock, nextStart_);
            continue;
        }
        if (settings_.ratePerSecond)
            nextStart_ = std::max(nextStart_, now) +
                         std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(1'000'000'000) /
                                                                      settings_.ratePerSecond);
        Job job;
        if (watch_.Resting() && !lastAnswered_.empty()) {
            job.ticket = kProbeTicket;
            job.number = lastAnswered_;
        } else {
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job.probe = watch_.Resting();
        probing_ = probing_ || job.probe;
        job.started = ++started_;
        job.answeredAtStart = answeredUpTo_;
        return job;
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
        std::optional<Job> next = NextJob(lock);
        if (!next) break;
        Job job = std::move(*next);
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
        Ended(std::move(job), std::move(attempt));
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

void LookupScheduler::Ended(Job job, LookupAttempt attempt) {
    if (job.probe) probing_ = false;
    const bool unreachable = attempt.registerUnreachable;
    if (unreachable) {
        lastUnreachable_ = attempt.failure;
    } else {
        lastAnswered_ = job.number;
        answeredUpTo_ = std::max(answeredUpTo_, job.started);
    }
    const OutageWatch::Change change = watch_.Ended(unreachable, job.probe, clock_.Now());
    if (change != OutageChange::None) news_.push_back(watch_.News(change, lastUnreachable_));
    if (job.ticket == kProbeTicket || forgotten_.erase(job.ticket)) return;
    // Made again once the register had answered a call started after this
    // one failed: the failure is this patient's own.
    if (!unreachable || (job.failedAfter && job.answeredAtStart > *job.failedAfter)) {
        done_.emplace(job.ticket, std::move(attempt));
        return;
    }
    if (!job.failedAfter) job.failedAfter = started_;
    // Made again in its place: the run takes the tickets in order.
    const auto later = std::find_if(queue_.begin(), queue_.end(), [&](const Job& j) { return j.ticket > job.ticket; });
    queue_.insert(later, std::move(job));
}

}  // namespace tolmar
