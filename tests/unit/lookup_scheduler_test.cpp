// The scheduler of lookups ahead, with workers that answer from a table and
// can be held back, so that each test decides the order things happen in.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/lookup_scheduler.h"
#include "fake_outage_clock.h"
#include "tools/error.h"
#include "tools/text.h"

using namespace tolmar;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What the fake register does, shared by every worker.
struct FakeRegister {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::wstring> held;          // numbers whose lookups wait until released
    int unreachableCalls = 0;             // the next this many calls fail before any answer; -1: all
    std::vector<std::wstring> calls;      // in the order they started
    std::vector<Clock::time_point> callTimes;
    int inFlight = 0, mostInFlight = 0;
    std::set<std::thread::id> threads;    // the threads that made calls
    int workersMade = 0, workersEnded = 0;
    std::set<std::thread::id> madeOn, endedOn;

    LookupAttempt Call(const std::wstring& number) {
        std::unique_lock lock(mutex);
        calls.push_back(number);
        callTimes.push_back(Clock::now());
        threads.insert(std::this_thread::get_id());
        mostInFlight = std::max(mostInFlight, ++inFlight);
        changed.notify_all();
        changed.wait(lock, [&] { return !held.count(number); });
        --inFlight;
        LookupAttempt a;
        if (unreachableCalls != 0) {
            if (unreachableCalls > 0) --unreachableCalls;
            a.returnCode = ReturnCode::Failure;
            a.failure = L"unreachable " + number;
            a.registerUnreachable = true;
        } else if (number.ends_with(L"0")) {
            a.returnCode = ReturnCode::NotFound;
        } else {
            a.returnCode = ReturnCode::Found;
            a.record.Surname = L"S" + number;
            a.lastErrors.description = L"after " + number;
        }
        return a;
    }
    void Release(const std::wstring& number) {
        {
            std::lock_guard lock(mutex);
            held.erase(number);
        }
        changed.notify_all();
    }
    // Waits (bounded) until `n` calls have started.
    bool WaitForCalls(size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return calls.size() >= n; });
    }
    size_t CallCount() {
        std::lock_guard lock(mutex);
        return calls.size();
    }
};

class FakeWorker : public LookupWorker {
public:
    explicit FakeWorker(FakeRegister& r) : r_(r) {
        std::lock_guard lock(r_.mutex);
        ++r_.workersMade;
        r_.madeOn.insert(std::this_thread::get_id());
    }
    ~FakeWorker() override {
        std::lock_guard lock(r_.mutex);
        ++r_.workersEnded;
        r_.endedOn.insert(std::this_thread::get_id());
    }
    LookupAttempt Attempt(const std::wstring& number) override { return r_.Call(number); }

private:
    FakeRegister& r_;
};

std::wstring Nr(int i) { return L"19450101" + std::to_wstring(1000 + i); }

struct Fixture {
    FakeRegister reg;
    CondvarWaiter waiter;
    test::FakeOutageClock clock;
    std::vector<OutageNews> news;  // as told to Take's caller
    std::unique_ptr<LookupScheduler> scheduler;
    void Start(SchedulerSettings settings) {
        scheduler = std::make_unique<LookupScheduler>(
            settings, [this] { return std::make_unique<FakeWorker>(reg); }, waiter, clock);
    }
    std::optional<LookupAttempt> Take(int ticket) {
        return scheduler->Take(static_cast<std::uint64_t>(ticket), [this](const OutageNews& n) { news.push_back(n); });
    }
    std::vector<OutageChange> Changes() const {
        std::vector<OutageChange> changes;
        for (const OutageNews& n : news) changes.push_back(n.change);
        return changes;
    }
};

TEST(LookupScheduler, AttemptsAreTakenInTicketOrderWhateverOrderTheyEndIn) {
    Fixture f;
    // The first two lookups are held until every lookup has started, so they
    // are in flight together whichever worker starts first; the first ends last.
    f.reg.held = {Nr(1), Nr(2)};
    f.Start({.workers = 4});
    for (int i = 1; i <= 8; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    ASSERT_TRUE(f.reg.WaitForCalls(8)) << "calls started: " << f.reg.CallCount();
    // Every other lookup can end while the first two are held.
    std::thread release([&] {
        std::this_thread::sleep_for(50ms);
        f.reg.Release(Nr(2));
        f.reg.Release(Nr(1));
    });
    for (int i = 1; i <= 8; ++i) {
        const std::optional<LookupAttempt> a = f.Take(i);
        ASSERT_TRUE(a) << i;
        EXPECT_EQ(a->returnCode, i % 10 == 0 ? ReturnCode::NotFound : ReturnCode::Found) << i;
        EXPECT_EQ(a->record.Surname.str(), L"S" + Nr(i)) << i;
        EXPECT_EQ(a->lastErrors.description, L"after " + Nr(i)) << i;
    }
    release.join();
    f.scheduler.reset();
    EXPECT_LE(f.reg.mostInFlight, 4);
    EXPECT_GE(f.reg.mostInFlight, 2) << "the workers never overlapped";
    // Each worker was made and ended on its own thread, not the caller's.
    EXPECT_EQ(f.reg.workersMade, 4);
    EXPECT_EQ(f.reg.workersEnded, 4);
    EXPECT_EQ(f.reg.madeOn, f.reg.endedOn);
    EXPECT_FALSE(f.reg.madeOn.count(std::this_thread::get_id()));
}

TEST(LookupScheduler, EndingDropsQueuedLookupsAndDiscardsThoseInFlight) {
    Fixture f;
    f.reg.held = {Nr(1), Nr(2)};
    f.Start({.workers = 2});
    for (int i = 1; i <= 10; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    ASSERT_TRUE(f.reg.WaitForCalls(2));
    std::thread release([&] {
        std::this_thread::sleep_for(50ms);
        f.reg.Release(Nr(1));
        f.reg.Release(Nr(2));
    });
    f.scheduler.reset();  // waits for the two in flight
    release.join();
    EXPECT_EQ(f.reg.calls, (std::vector<std::wstring>{Nr(1), Nr(2)}));
    EXPECT_EQ(f.reg.workersEnded, 2);
}

TEST(LookupScheduler, AForgottenTicketIsNeitherKeptNorMade) {
    Fixture f;
    f.reg.held = {Nr(1)};
    f.Start({.workers = 1});
    f.scheduler->Submit(1, Nr(1));
    f.scheduler->Submit(2, Nr(2));
    ASSERT_TRUE(f.reg.WaitForCalls(1));
    f.scheduler->Forget(1);  // in flight
    f.scheduler->Forget(2);  // still queued: never made
    f.scheduler->Submit(3, Nr(3));
    f.reg.Release(Nr(1));
    const auto a = f.Take(3);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->record.Surname.str(), L"S" + Nr(3));
    EXPECT_EQ(f.reg.calls, (std::vector<std::wstring>{Nr(1), Nr(3)}));
    EXPECT_THROW(f.Take(1), Error);  // no longer wanted
    f.scheduler->Submit(4, Nr(4));
    EXPECT_THROW(f.scheduler->Submit(4, Nr(4)), Error);  // a ticket is queued once
}

TEST(LookupScheduler, TheRateCapHoldsAcrossWorkers) {
    Fixture f;
    f.Start({.workers = 8, .ratePerSecond = 20});
    const int n = 12;
    for (int i = 1; i <= n; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(f.Take(i));
    ASSERT_EQ(f.reg.callTimes.size(), static_cast<size_t>(n));
    // 20 a second: every start at least 50 ms after the one before it (a
    // little less for the clock's granularity).
    for (size_t i = 1; i < f.reg.callTimes.size(); ++i)
        EXPECT_GE(f.reg.callTimes[i] - f.reg.callTimes[i - 1], 45ms) << "start " << i;
}

TEST(LookupScheduler, AnUnreachableRegisterRestsThenIsGivenUp) {
    Fixture f;
    f.reg.unreachableCalls = -1;
    SchedulerSettings s{.workers = 4};
    s.outage.stopAfter = 2min;
    f.Start(s);
    for (int i = 1; i <= 20; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    // The first patient's lookup never comes: no unreachable attempt is handed over.
    EXPECT_FALSE(f.Take(1));
    EXPECT_TRUE(f.scheduler->GivenUp());
    // 1, 2, 4, 8, 16, 32, 32 s, and the last rest cut to the two minutes' end.
    EXPECT_EQ(f.clock.Waits(), (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 8s, 16s, 32s, 32s, 25s}));
    EXPECT_EQ(f.clock.Elapsed(), 2min);
    // The streak's calls (those of the four workers in flight at the fifth
    // failure among them), then one probe after each rest.
    EXPECT_GE(f.reg.CallCount(), 5u + 8u);
    EXPECT_LE(f.reg.CallCount(), 8u + 8u);
    // One outage, still on, told once as it began and once as the run gave up.
    std::vector<OutageChange> changes = f.Changes();
    EXPECT_EQ(std::count(changes.begin(), changes.end(), OutageChange::Began), 1);
    EXPECT_EQ(changes.back(), OutageChange::GaveUp);
    EXPECT_TRUE(f.news.back().failure.starts_with(L"unreachable ")) << ToUtf8(f.news.back().failure);
    EXPECT_EQ(f.scheduler->Outages(), (std::vector<OutageSpan<OutageClock::TimePoint>>{{{}, std::nullopt}}));
    f.scheduler.reset();
    EXPECT_LE(f.reg.mostInFlight, 4);
}

TEST(LookupScheduler, UnreachableLookupsAreMadeAgainWhenTheRegisterAnswers) {
    Fixture f;
    f.reg.unreachableCalls = 7;  // five in a row, then two failed probes
    f.Start({.workers = 1});
    for (int i = 1; i <= 8; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    for (int i = 1; i <= 8; ++i) {
        const auto a = f.Take(i);
        ASSERT_TRUE(a) << i;
        EXPECT_FALSE(a->registerUnreachable) << i;
        EXPECT_EQ(a->returnCode, i % 10 == 0 ? ReturnCode::NotFound : ReturnCode::Found) << i;
    }
    // The first patient's lookup, made again in its place: five times in a
    // row, then once after each rest; then the rest in order.
    std::vector<std::wstring> expected(8, Nr(1));
    for (int i = 2; i <= 8; ++i) expected.push_back(Nr(i));
    EXPECT_EQ(f.reg.calls, expected);
    EXPECT_EQ(f.clock.Waits(), (std::vector<std::chrono::milliseconds>{1s, 2s, 4s}));
    EXPECT_EQ(f.Changes(), (std::vector<OutageChange>{OutageChange::Began, OutageChange::Retried,
                                                      OutageChange::Retried, OutageChange::Ended}));
    EXPECT_EQ(f.news[0].pause, 1s);
    EXPECT_EQ(f.news[3].length, 7s);
    EXPECT_EQ(f.scheduler->Outages(),
              (std::vector<OutageSpan<OutageClock::TimePoint>>{{{}, OutageClock::TimePoint{} + 7s}}));
    EXPECT_FALSE(f.scheduler->GivenUp());
}

TEST(LookupScheduler, AWorkerThatCannotStartFailsItsLookupsInsteadOfHanging) {
    CondvarWaiter waiter;
    test::FakeOutageClock clock;
    LookupScheduler scheduler(
        {.workers = 2}, []() -> std::unique_ptr<LookupWorker> { throw Error(L"COM kunde inte startas"); }, waiter,
        clock);
    scheduler.Submit(1, Nr(1));
    const auto a = scheduler.Take(1, [](const OutageNews&) { FAIL() << "no outage"; });
    ASSERT_TRUE(a);
    EXPECT_EQ(a->returnCode, ReturnCode::Failure);
    EXPECT_EQ(a->failure, L"COM kunde inte startas");
}

}  // namespace
