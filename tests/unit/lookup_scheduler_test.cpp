// The scheduler of lookups ahead, with workers that answer from a table and
// can be held back, so that each test decides the order things happen in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/lookup_scheduler.h"
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
    std::set<std::wstring> unreachable;   // numbers whose calls fail before any answer
    bool allUnreachable = false;
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
        if (allUnreachable || unreachable.count(number)) {
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
    std::unique_ptr<LookupScheduler> scheduler;
    void Start(SchedulerSettings settings) {
        scheduler = std::make_unique<LookupScheduler>(
            settings, [this] { return std::make_unique<FakeWorker>(reg); }, waiter);
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
        const std::optional<LookupAttempt> a = f.scheduler->Take(static_cast<std::uint64_t>(i));
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
    const auto a = f.scheduler->Take(3);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->record.Surname.str(), L"S" + Nr(3));
    EXPECT_EQ(f.reg.calls, (std::vector<std::wstring>{Nr(1), Nr(3)}));
    EXPECT_THROW(f.scheduler->Take(1), Error);  // no longer wanted
    f.scheduler->Submit(4, Nr(4));
    EXPECT_THROW(f.scheduler->Submit(4, Nr(4)), Error);  // a ticket is queued once
}

TEST(LookupScheduler, TheRateCapHoldsAcrossWorkers) {
    Fixture f;
    f.Start({.workers = 8, .ratePerSecond = 20});
    const int n = 12;
    for (int i = 1; i <= n; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    for (int i = 1; i <= n; ++i) ASSERT_TRUE(f.scheduler->Take(static_cast<std::uint64_t>(i)));
    ASSERT_EQ(f.reg.callTimes.size(), static_cast<size_t>(n));
    // 20 a second: every start at least 50 ms after the one before it (a
    // little less for the clock's granularity).
    for (size_t i = 1; i < f.reg.callTimes.size(); ++i)
        EXPECT_GE(f.reg.callTimes[i] - f.reg.callTimes[i - 1], 45ms) << "start " << i;
}

TEST(LookupScheduler, AFailingRegisterIsGivenPausesThatGrowThenGivenUp) {
    Fixture f;
    f.reg.allUnreachable = true;
    SchedulerSettings s{.workers = 4, .backOff = true, .failuresBeforePause = 3};
    s.firstPause = 100ms;
    s.longestPause = 400ms;
    s.giveUpAfter = 1500ms;
    f.Start(s);
    const int n = 200;
    for (int i = 1; i <= n; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    const auto start = Clock::now();
    int taken = 0;
    while (taken < n) {
        const auto a = f.scheduler->Take(static_cast<std::uint64_t>(taken + 1));
        if (!a) break;
        EXPECT_TRUE(a->registerUnreachable);
        ++taken;
    }
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(f.scheduler->GivenUp());
    EXPECT_LT(taken, n);
    // At most the workers' first calls, then one call after each pause:
    // 100, 200, 400, 400, ... ms within the 1.5 s.
    EXPECT_LE(f.reg.CallCount(), 4u + 8u) << "calls: " << f.reg.CallCount();
    EXPECT_GE(f.reg.CallCount(), 4u + 2u) << "the register was never tried again";
    EXPECT_GE(elapsed, 1400ms);
    EXPECT_LT(elapsed, 5s);
    // After a pause only one call at a time tries the register.
    f.scheduler.reset();
    EXPECT_LE(f.reg.mostInFlight, 4);
}

TEST(LookupScheduler, AnAnswerEndsTheBackOff) {
    Fixture f;
    f.reg.unreachable = {Nr(1), Nr(2), Nr(3)};
    SchedulerSettings s{.workers = 1, .backOff = true, .failuresBeforePause = 3};
    s.firstPause = 300ms;
    f.Start(s);
    for (int i = 1; i <= 8; ++i) f.scheduler->Submit(static_cast<std::uint64_t>(i), Nr(i));
    for (int i = 1; i <= 8; ++i) ASSERT_TRUE(f.scheduler->Take(static_cast<std::uint64_t>(i))) << i;
    ASSERT_EQ(f.reg.callTimes.size(), 8u);
    // One pause after the third failure; the probe answers and the rest
    // follow at once.
    EXPECT_GE(f.reg.callTimes[3] - f.reg.callTimes[2], 280ms);
    EXPECT_LT(f.reg.callTimes[7] - f.reg.callTimes[3], 250ms);
    EXPECT_FALSE(f.scheduler->GivenUp());
}

TEST(LookupScheduler, AWorkerThatCannotStartFailsItsLookupsInsteadOfHanging) {
    FakeRegister reg;
    CondvarWaiter waiter;
    LookupScheduler scheduler(
        {.workers = 2}, []() -> std::unique_ptr<LookupWorker> { throw Error(L"COM kunde inte startas"); }, waiter);
    scheduler.Submit(1, Nr(1));
    const auto a = scheduler.Take(1);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->returnCode, ReturnCode::Failure);
    EXPECT_EQ(a->failure, L"COM kunde inte startas");
}

}  // namespace
