// A clock for the register's outages that never sleeps: every wait moves
// its time on to the wait's end at once, and the waits are recorded.
#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "app/outage_watch.h"

namespace tolmar::test {

class FakeOutageClock : public OutageClock {
public:
    // Wall-clock time at the clock's start (TimePoint{}): 2026-12-10 01:00:00 UTC.
    static constexpr std::chrono::system_clock::time_point kWallStart{std::chrono::seconds(1796950800)};

    TimePoint Now() override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    std::chrono::system_clock::time_point WallTimeOf(TimePoint t) override {
        return kWallStart + std::chrono::duration_cast<std::chrono::system_clock::duration>(t - TimePoint{});
    }
    void WaitUntil(std::unique_lock<std::mutex>&, std::condition_variable&, TimePoint until) override { MoveTo(until); }
    void WaitUntil(TimePoint until) override { MoveTo(until); }

    // The waits, in the order they were asked for, each from the time it was asked.
    std::vector<std::chrono::milliseconds> Waits() {
        std::lock_guard lock(mutex_);
        return waits_;
    }
    std::chrono::milliseconds Elapsed() {
        std::lock_guard lock(mutex_);
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - TimePoint{});
    }

private:
    void MoveTo(TimePoint until) {
        std::lock_guard lock(mutex_);
        if (until <= now_) return;
        waits_.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(until - now_));
        now_ = until;
    }

    std::mutex mutex_;
    TimePoint now_{};
    std::vector<std::chrono::milliseconds> waits_;
};

}  // namespace tolmar::test
