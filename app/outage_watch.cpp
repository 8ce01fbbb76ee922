#include "app/outage_watch.h"

#include <algorithm>

namespace tolmar {

OutageClock::TimePoint SteadyOutageClock::Now() { return std::chrono::steady_clock::now(); }

std::chrono::system_clock::time_point SteadyOutageClock::WallTimeOf(TimePoint t) {
    return std::chrono::system_clock::now() -
           std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::steady_clock::now() - t);
}

void SteadyOutageClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                                  TimePoint until) {
    changed.wait_until(lock, until);
}

OutageWatch::Change OutageWatch::Ended(bool unreachable, bool probe, TimePoint now) {
    if (givenUp_) return Change::None;
    if (!unreachable) {
        // An answer to a lookup that was in flight when the rest began says
        // nothing of the register since: only the probe ends the rest (as
        // only the probe's failure lengthens it).
        if (resting_ && !probe) return Change::None;
        streak_ = 0;
        if (!resting_) return Change::None;
        resting_ = false;
        outages_.back().to = now;
        return Change::Ended;
    }
    if (streak_++ == 0) streakStart_ = now;
    if (now - streakStart_ >= rule_.stopAfter) {
        // Lookups slow to fail may reach the end before any rest began.
        if (!resting_) outages_.push_back({streakStart_, std::nullopt});
        givenUp_ = true;
        return Change::GaveUp;
    }
    if (resting_) {
        // Lookups that were in flight when the rest began change nothing.
        if (!probe) return Change::None;
        pause_ = std::min(pause_ * 2, rule_.longestPause);
        Rest(now);
        return Change::Retried;
    }
    if (streak_ < rule_.streakBeforePause) return Change::None;
    resting_ = true;
    pause_ = rule_.firstPause;
    outages_.push_back({streakStart_, std::nullopt});
    Rest(now);
    return Change::Began;
}

// The next probe: after the pause, but no later than the moment the run
// would give up, so that the register is tried once more at that moment.
void OutageWatch::Rest(TimePoint now) {
    restUntil_ = std::min(now + pause_, streakStart_ + rule_.stopAfter);
    nextTryIn_ = std::chrono::duration_cast<std::chrono::milliseconds>(restUntil_ - now);
}

OutageNews OutageWatch::News(Change change, const std::wstring& lastFailure) const {
    OutageNews news{change, nextTryIn_, {}, {}};
    if (change == Change::Ended)
        news.length = std::chrono::duration_cast<std::chrono::milliseconds>(*outages_.back().to - outages_.back().from);
    if (change == Change::GaveUp) news.failure = lastFailure;
    return news;
}

}  // namespace tolmar
