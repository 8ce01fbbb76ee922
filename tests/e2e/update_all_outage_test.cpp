// "UPDATE_ALL" when the register is out of reach: a register that never
// answers (nothing listens on its port) stops the run after /outage:1 with
// exit code 3, in turn and with lookups ahead, and leaves the rows alone; a
// register that comes up a few seconds after the run started leaves what a
// register up all along leaves.
#include <atomic>
#include <chrono>
#include <thread>

#include "harness.h"
#include "hostile_register.h"
#include "update_all_support.h"

namespace {

using namespace e2e;
using namespace e2e::upd;
using namespace std::chrono_literals;

const Row kOld = {{L"F_RNAMN", L"Gammal"}, {L"EFTERNAMN", L"Gammal"}, {L"ADRESS", L"Gammal väg 1"}};

std::vector<Row> ThreePatients() {
    return {Patient(1, L"194501011234", kOld), Patient(2, L"197503034567", kOld), Patient(3, L"193212129876", kOld)};
}

// A loopback port that nothing listens on: taken from the system, then let go.
unsigned short ClosedPort() {
    const hostile::Register taken(hostile::Silent());
    return taken.ok() ? taken.port() : 0;
}

std::wstring EndpointAt(unsigned short port) {
    return L"http://127.0.0.1:" + std::to_wstring(port) + L"/PopmWs/WSPopMan.asmx";
}

// The run's summary.json, as text.
std::string Summary(ProgramRun& run) {
    const std::vector<std::wstring> folders = RunFolders(run.folder());
    if (folders.empty()) return "(no run folder)";
    return run.folder().ReadFile(L"runs\\" + folders.back() + L"\\summary.json").value_or("(no summary.json)");
}

// A register that comes up late: nothing listens on its port until Open();
// from then on every connection is passed on to the simulator, both ways.
class LateRegister {
public:
    LateRegister() : port_(ClosedPort()) {
        WSADATA data;
        winsock_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~LateRegister() {
        stop_ = true;
        if (acceptor_.joinable()) acceptor_.join();
        for (std::thread& pipe : pipes_) pipe.join();
        listener_.reset();
        if (winsock_) WSACleanup();
    }
    LateRegister(const LateRegister&) = delete;
    LateRegister& operator=(const LateRegister&) = delete;

    std::wstring Endpoint() const { return EndpointAt(port_); }

    // Listens on the port, passing connections on to `target` (http://127.0.0.1:PORT).
    bool Open(const std::wstring& target) {
        const size_t colon = target.rfind(L':');
        if (!winsock_ || port_ == 0 || colon == std::wstring::npos) return false;
        target_ = static_cast<unsigned short>(std::stoul(target.substr(colon + 1)));
        listener_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address = Loopback(port_);
        if (!listener_ || bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(listener_.get(), 16) != 0)
            return false;
        acceptor_ = std::thread([this] { Accept(); });
        return true;
    }

private:
    static sockaddr_in Loopback(unsigned short port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }
    // Whether `s` can be read within 100 ms.
    static bool Readable(SOCKET s) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait{0, 100000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    void Accept() {
        while (!stop_) {
            if (!Readable(listener_.get())) continue;
            tolmar::win::UniqueSocket client(accept(listener_.get(), nullptr, nullptr));
            tolmar::win::UniqueSocket server(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
            sockaddr_in address = Loopback(target_);
            if (!client || !server ||
                connect(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
                continue;
            pipes_.emplace_back([this, c = std::move(client), s = std::move(server)]() mutable { Pipe(c, s); });
        }
    }

    // Until either side closes, or the register stops.
    void Pipe(tolmar::win::UniqueSocket& a, tolmar::win::UniqueSocket& b) {
        char buffer[16384];
        while (!stop_) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(a.get(), &set);
            FD_SET(b.get(), &set);
            timeval wait{0, 100000};
            if (select(0, &set, nullptr, nullptr, &wait) <= 0) continue;
            for (auto [from, to] : {std::pair{a.get(), b.get()}, std::pair{b.get(), a.get()}}) {
                if (!FD_ISSET(from, &set)) continue;
                const int n = recv(from, buffer, sizeof(buffer), 0);
                if (n <= 0) return;
                for (int sent = 0; sent < n;) {
                    const int m = send(to, buffer + sent, n - sent, 0);
                    if (m <= 0) return;
                    sent += m;
                }
            }
        }
    }

    unsigned short port_, target_ = 0;
    bool winsock_ = false;
    tolmar::win::UniqueSocket listener_;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::vector<std::thread> pipes_;  // the acceptor's own until the end
};

class UpdateAllDeadRegister : public ::testing::TestWithParam<std::vector<std::wstring>> {};

TEST_P(UpdateAllDeadRegister, StopsAfterTheOutageMinutesWithExitCode3AndTheRowsAlone) {
    Clinic s(Engine::Sqlite);
    const std::vector<Row> before = ThreePatients();
    s.table.Insert(before);
    const unsigned short port = ClosedPort();
    ASSERT_NE(port, 0) << "no loopback port";
    std::vector<std::wstring> options = GetParam();
    options.push_back(L"/outage:1");
    options.push_back(L"/unattended");
    ProgramRun run(UpdateAll(s, options));
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIniFor(EndpointAt(port))));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(EndsWithoutBoxes(run, Ms{150000}, 3));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60s);

    EXPECT_TRUE(SameRows(s.table.Rows(), before));
    // The list is in the order of the personal numbers: patient 3 comes first.
    EXPECT_TRUE(ErrorsFileHolds(
        ErrorsFile(run),
        {Text(L"Registret svarar inte; nytt försök om 1 s."),
         {Lit(L"Registret har inte svarat på 1 minut; körningen avbröts vid patient 1 av 3 (PATIENTNR 3). "
              L"Senaste felet: "),
          Any(), Lit(L" - URL:" + EndpointAt(port) + L" - SOAPAction:" + kGetPersonAction)},
         Text(L"Antal poster redigerade: 0")}));
    const std::string summary = Summary(run);
    for (const char* member : {"\"exitCode\": 3", "\"outcome\": \"registerUnreachable\"", "\"patients\": 3",
                               "\"lookedUp\": 0", "\"failedLookups\": 0", "\"notLookedUp\": 3", "\"to\": null}]"})
        EXPECT_NE(summary.find(member), std::string::npos) << member << "\n" << summary;
    EXPECT_NE(summary.find("\"outages\": [{\"from\": \"20"), std::string::npos) << summary;
}

INSTANTIATE_TEST_SUITE_P(InTurnAndAhead, UpdateAllDeadRegister,
                         ::testing::Values(std::vector<std::wstring>{}, std::vector<std::wstring>{L"/parallel:4"}));

TEST(UpdateAllLateRegister, ARegisterThatComesUpLaterLeavesWhatOneUpAllAlongLeaves) {
    std::map<int, Row> upAllAlong;
    {
        Clinic s(Engine::Sqlite);
        s.table.Insert(ThreePatients());
        ProgramRun run(UpdateAll(s));
        ASSERT_TRUE(Start(run, s.reg));
        ASSERT_TRUE(EndsWithoutBoxes(run, Ms{60000}, 0));
        upAllAlong = s.table.Rows();
    }
    ASSERT_EQ(upAllAlong.at(1).at(L"EFTERNAMN"), Value(L"Lindqvist")) << "the register's rows";

    Clinic s(Engine::Sqlite);
    s.table.Insert(ThreePatients());
    LateRegister late;
    ProgramRun run(UpdateAll(s, {L"/parallel:4"}));
    ASSERT_TRUE(run.folder().WriteFile(L"tolmar.ini", RegisterIniFor(late.Endpoint())));
    ASSERT_TRUE(run.Start());
    // Up once the run has begun to wait for it.
    const auto waited = std::chrono::steady_clock::now();
    while (RunLog(run.folder()).value_or("").find("Registret svarar inte") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now() - waited, 30s) << "the run never waited for the register";
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(late.Open(s.reg.BaseUrl()));
    ASSERT_TRUE(EndsWithoutBoxes(run, Ms{90000}, 0));

    std::vector<Row> expected;
    for (const auto& [nr, row] : upAllAlong) expected.push_back(row);
    EXPECT_TRUE(SameRows(s.table.Rows(), expected));
    EXPECT_TRUE(ErrorsFileHolds(ErrorsFile(run),
                                {Text(L"Registret svarar inte; nytt försök om 1 s."),
                                 {Lit(L"Registret svarar igen efter "), Any(), Lit(L" s; uppslagningarna fortsätter.")},
                                 Text(L"Antal poster redigerade: 3")}));
    const std::string summary = Summary(run);
    for (const char* member : {"\"exitCode\": 0", "\"outcome\": \"ok\"", "\"saved\": 3", "\"failedLookups\": 0"})
        EXPECT_NE(summary.find(member), std::string::npos) << member << "\n" << summary;
    EXPECT_NE(summary.find("\"outages\": [{\"from\": \"20"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("\"to\": null"), std::string::npos) << summary;
}

}  // namespace
