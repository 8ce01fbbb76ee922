// The register simulator (sim/register-sim) as the Windows tests use it:
// scripts/test starts one for the whole run and hands its base URL
// ("http://127.0.0.1:PORT") over in TOLMAR_REGISTER_SIM. Tests share it and
// run one after the other; a test that injects faults or reads the recorded
// requests holds a SimulatorSession, which starts and ends it clean.
//
//   SimulatorSession sim;
//   ASSERT_TRUE(sim.Ready());
//   ASSERT_TRUE(sim.Inject("http | status=404 | pnr=194501011234"));
//   ... run the program ...
//   const auto requests = RegisterSim::Requests();
//   EXPECT_EQ(requests->back().Value("sPnr"), "194501011234");
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tolmar::test {

// One request the simulator received, as /control/requests records it
// (values unescaped, UTF-8).
struct SimRequest {
    std::map<std::string, std::string> fields;
    bool Has(const std::string& key) const { return fields.count(key) != 0; }
    // The value of `key`; "<absent>" when the request has no such field, so
    // that a missing field never passes for an empty one.
    std::string Value(const std::string& key) const;
};
void PrintTo(const SimRequest& request, std::ostream* os);

class RegisterSim {
public:
    // TOLMAR_REGISTER_SIM without a trailing "/"; empty when it is not set.
    static std::wstring BaseUrl();
    // The SOAP endpoint, as LOG_ADDR names it.
    static std::wstring Endpoint() { return BaseUrl() + L"/PopmWs/WSPopMan.asmx"; }

    // Fails with an explanation when the variable is missing or the
    // simulator does not answer.
    static ::testing::AssertionResult Available();
    // POST /control/fault with the injection text (see the simulator's README).
    static ::testing::AssertionResult Inject(std::string_view injection);
    static ::testing::AssertionResult Inject(std::wstring_view injection);
    // POST /control/reset: recorded requests, counters and run-time injections go.
    static ::testing::AssertionResult Reset();
    // GET /control/requests, oldest first; nullopt when it cannot be read.
    static std::optional<std::vector<SimRequest>> Requests();
    // The value of `key` in the last recorded request; "" when it has no such
    // field or there is no request (Requests() tells these apart).
    static std::string LastRequestValue(const std::string& key);
    // The sPnr of every recorded request, in order (a failure to read them
    // fails the test).
    static std::vector<std::wstring> LookedUpNumbers();
    // GET /control/stats as name -> value; nullopt when it cannot be read.
    static std::optional<std::map<std::string, long long>> Stats();
    // Requests to the endpoint so far (the "requests" counter); -1, with a
    // test failure, when it cannot be read.
    static long long RequestCount();
};

// Resets the simulator at its start and end. Ready() fails the test with a
// clear message when there is no simulator.
class SimulatorSession : public RegisterSim {
public:
    SimulatorSession();
    ~SimulatorSession();
    SimulatorSession(const SimulatorSession&) = delete;
    SimulatorSession& operator=(const SimulatorSession&) = delete;

    ::testing::AssertionResult Ready() const { return ready_; }

private:
    ::testing::AssertionResult ready_;
};

}  // namespace tolmar::test
