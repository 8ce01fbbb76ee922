// The register simulator (sim/register-sim) as the end-to-end tests use it:
// scripts/test starts one for the whole run and hands its base URL
// ("http://127.0.0.1:PORT") over in TOLMAR_REGISTER_SIM. Tests share it and
// run one after the other; a test that injects faults or reads the recorded
// requests holds a SimulatorSession, which starts and ends it clean.
//
//   e2e::SimulatorSession sim;
//   ASSERT_TRUE(sim.Ready());
//   ASSERT_TRUE(e2e::RegisterSim::Inject("http | status=404 | pnr=194501011234"));
//   ... run the program ...
//   const auto requests = e2e::RegisterSim::Requests();
//   EXPECT_EQ(requests->back().Value("sPnr"), "194501011234");
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

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
    // TOLMAR_REGISTER_SIM; empty when it is not set.
    static std::wstring BaseUrl();
    // The SOAP endpoint, as LOG_ADDR names it.
    static std::wstring Endpoint() { return BaseUrl() + L"/PopmWs/WSPopMan.asmx"; }

    // Fails with an explanation when the variable is missing or the
    // simulator does not answer.
    static ::testing::AssertionResult Available();
    // POST /control/fault with the injection text (see the simulator's README).
    static ::testing::AssertionResult Inject(std::string_view injection);
    // POST /control/reset: recorded requests, counters and run-time injections go.
    static ::testing::AssertionResult Reset();
    // GET /control/requests, oldest first; nullopt when it cannot be read.
    static std::optional<std::vector<SimRequest>> Requests();
};

// Resets the simulator at its start and end. Ready() fails the test with a
// clear message when there is no simulator.
class SimulatorSession {
public:
    SimulatorSession();
    ~SimulatorSession();
    SimulatorSession(const SimulatorSession&) = delete;
    SimulatorSession& operator=(const SimulatorSession&) = delete;

    ::testing::AssertionResult Ready() const { return ready_; }

private:
    ::testing::AssertionResult ready_;
};

// The section PopulationManager of "tolmar.ini". A key left nullopt is not
// written at all.
struct RegisterIni {
    std::optional<std::string> logId = "clinic";
    std::optional<std::string> logPwd = "secret";
    std::optional<std::string> logAddr;  // nullopt: the simulator's endpoint
    std::optional<std::string> flagOtherArchve;
    // The file's bytes (CR LF lines).
    std::string Text() const;
};

}  // namespace e2e
