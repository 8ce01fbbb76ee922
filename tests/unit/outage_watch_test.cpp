// The outage rule on its own: lookups end at times the test gives, and the
// watch says when the register rests, for how long, and when the run gives up.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "app/outage_watch.h"

using namespace tolmar;
using namespace std::chrono_literals;
using Change = OutageChange;
using TimePoint = OutageClock::TimePoint;

namespace {

TimePoint At(std::chrono::milliseconds t) { return TimePoint{} + t; }

OutageRule Minutes(int m) {
    OutageRule rule;
    rule.stopAfter = std::chrono::minutes(m);
    return rule;
}

// Unreachable lookups, not probes, one a second from `from`: the changes they bring.
std::vector<Change> Unreachable(OutageWatch& w, int count, std::chrono::milliseconds from) {
    std::vector<Change> changes;
    for (int i = 0; i < count; ++i) changes.push_back(w.Ended(true, false, At(from + std::chrono::seconds(i))));
    return changes;
}

// Probes made as soon as the rest that began at `restFrom` allows, every one
// failing, until the run gives up or `most` have failed: the rests given,
// each as long as it was.
std::vector<std::chrono::milliseconds> FailingProbes(OutageWatch& w, int most, TimePoint restFrom) {
    std::vector<std::chrono::milliseconds> rests;
    TimePoint now = restFrom;
    for (int i = 0; i < most && !w.GivenUp(); ++i) {
        const TimePoint probeAt = w.RestUntil();
        rests.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(probeAt - now));
        now = probeAt;
        w.Ended(true, true, now);
    }
    return rests;
}

TEST(OutageWatch, FiveUnreachableLookupsInARowStartARest) {
    OutageWatch w(Minutes(10));
    EXPECT_EQ(Unreachable(w, 4, 0s), std::vector<Change>(4, Change::None));
    EXPECT_FALSE(w.Resting());
    EXPECT_EQ(w.Ended(true, false, At(4s)), Change::Began);
    EXPECT_TRUE(w.Resting());
    EXPECT_EQ(w.RestUntil(), At(5s));
    EXPECT_EQ(w.News(Change::Began, L"").pause, 1s);
    // The outage began with the first lookup of the streak.
    ASSERT_EQ(w.Outages().size(), 1u);
    EXPECT_EQ(w.Outages()[0], (OutageSpan<TimePoint>{At(0s), std::nullopt}));
    // Lookups that were in flight when the rest began change nothing.
    EXPECT_EQ(w.Ended(true, false, At(4500ms)), Change::None);
    EXPECT_EQ(w.RestUntil(), At(5s));
}

TEST(OutageWatch, AnAnswerBreaksTheStreak) {
    // A SOAP fault, a person not found: the register answered.
    OutageWatch w(Minutes(10));
    Unreachable(w, 4, 0s);
    EXPECT_EQ(w.Ended(false, false, At(4s)), Change::None);
    EXPECT_EQ(Unreachable(w, 4, 5s), std::vector<Change>(4, Change::None));
    EXPECT_FALSE(w.Resting());
    EXPECT_EQ(w.Ended(true, false, At(9s)), Change::Began);
    EXPECT_EQ(w.Outages()[0].from, At(5s));
}

TEST(OutageWatch, RestsDoubleWhileProbesFailUpTo32Seconds) {
    OutageWatch w(Minutes(10));
    Unreachable(w, 5, 0s);  // the fifth at 4 s
    const std::vector<std::chrono::milliseconds> expected = {1s, 2s, 4s, 8s, 16s, 32s, 32s, 32s};
    const std::vector<std::chrono::milliseconds> rests = FailingProbes(w, 8, At(4s));
    EXPECT_EQ(rests, expected);
    EXPECT_FALSE(w.GivenUp());
}

TEST(OutageWatch, AnAnsweringProbeEndsTheOutageAndTheNextOneStartsAfresh) {
    OutageWatch w(Minutes(10));
    Unreachable(w, 5, 0s);                                    // rests until 5 s
    EXPECT_EQ(w.Ended(true, true, At(5s)), Change::Retried);  // until 7 s
    EXPECT_EQ(w.News(Change::Retried, L"").pause, 2s);
    EXPECT_EQ(w.Ended(false, true, At(7s)), Change::Ended);
    EXPECT_FALSE(w.Resting());
    EXPECT_EQ(w.Outages()[0], (OutageSpan<TimePoint>{At(0s), At(7s)}));
    EXPECT_EQ(w.News(Change::Ended, L"").length, 7s);
    // The streak and the rest start over: four are no outage, the fifth rests 1 s.
    EXPECT_EQ(Unreachable(w, 4, 10s), std::vector<Change>(4, Change::None));
    EXPECT_EQ(w.Ended(true, false, At(14s)), Change::Began);
    EXPECT_EQ(w.RestUntil(), At(15s));
    EXPECT_EQ(w.Outages().size(), 2u);
}

// Lookups ahead that were in flight when the rest began end during it,
// answered or not: neither ends nor lengthens the rest; the probe does.
TEST(OutageWatch, OnlyTheProbeEndsARest) {
    OutageWatch w(Minutes(10));
    Unreachable(w, 5, 0s);  // rests until 5 s
    EXPECT_EQ(w.Ended(false, false, At(4500ms)), Change::None);
    EXPECT_EQ(w.Ended(true, false, At(4600ms)), Change::None);
    EXPECT_TRUE(w.Resting());
    EXPECT_EQ(w.RestUntil(), At(5s));
    EXPECT_EQ(w.Outages().size(), 1u);
    EXPECT_EQ(w.Ended(false, true, At(5s)), Change::Ended);
    EXPECT_EQ(w.Outages()[0], (OutageSpan<TimePoint>{At(0s), At(5s)}));
}

TEST(OutageWatch, GivesUpAfterTheMinutesOfNothingButUnreachableLookups) {
    OutageWatch w(Minutes(1));
    Unreachable(w, 5, 0s);  // the first at 0 s, the fifth at 4 s
    // Probes at 5, 7, 11, 19 and 35 s; the next rest of 32 s is cut to the
    // minute's end, when the register is tried once more.
    const std::vector<std::chrono::milliseconds> rests = FailingProbes(w, 20, At(4s));
    EXPECT_EQ(rests, (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 8s, 16s, 25s}));
    EXPECT_EQ(w.News(Change::Retried, L"").pause, 25s);
    EXPECT_TRUE(w.GivenUp());
    EXPECT_EQ(w.News(Change::GaveUp, L"Det gick inte att ansluta").failure, L"Det gick inte att ansluta");
    // Still on when the run stopped.
    EXPECT_EQ(w.Outages(), (std::vector<OutageSpan<TimePoint>>{{At(0s), std::nullopt}}));
    // Nothing changes after that, not even an answer.
    EXPECT_EQ(w.Ended(false, false, At(61s)), Change::None);
    EXPECT_TRUE(w.GivenUp());
}

TEST(OutageWatch, SlowFailuresGiveUpWithoutARest) {
    // Lookups that fail at the deadline only: the minute passes within the streak.
    OutageWatch w(Minutes(1));
    EXPECT_EQ(w.Ended(true, false, At(0s)), Change::None);
    EXPECT_EQ(w.Ended(true, false, At(30s)), Change::None);
    EXPECT_EQ(w.Ended(true, false, At(60s)), Change::GaveUp);
    EXPECT_EQ(w.Outages(), (std::vector<OutageSpan<TimePoint>>{{At(0s), std::nullopt}}));
}

}  // namespace
