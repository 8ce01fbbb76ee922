// register-sim as scripts use it: a child process whose first stdout line
// names the port, stopped by a signal or by the control endpoint.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "test_support.h"

extern char** environ;

namespace regsim {
namespace {

using Clock = std::chrono::steady_clock;

class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all = {REGISTER_SIM_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, REGISTER_SIM_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (rc != 0) throw std::runtime_error("cannot start " + std::string(REGISTER_SIM_EXE));
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // The next line on stdout, or what came before the time ran out.
    std::string read_line(std::chrono::milliseconds limit) {
        const auto until = Clock::now() + limit;
        std::string line;
        char c = 0;
        while (Clock::now() < until) {
            pollfd p{out_, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) <= 0) continue;
            if (read(out_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }

    // Waits (bounded) for the child to end; its exit code, or -1 when it
    // did not end in time or ended by a signal.
    int wait_exit(std::chrono::milliseconds limit) {
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd < 0) return -1;
        pollfd p{pidfd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(limit.count()));
        close(pidfd);
        if (ready != 1) return -1;
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Everything the child wrote to stderr (call after it ended).
    std::string err_text() {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = read(err_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        return text;
    }

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

TEST(Program, HelpPrintsTheCommandLine) {
    Child child({"--help"});
    EXPECT_EQ(child.read_line(std::chrono::seconds(5)), "usage: register-sim [options]");
    EXPECT_EQ(child.wait_exit(std::chrono::seconds(5)), 0);
}

TEST(Program, RefusesBadArgumentsAndFixtures) {
    const std::string bad_fixture = ::testing::TempDir() + "register_sim_bad_fixture.txt";
    std::ofstream(bad_fixture) << "person 1 cn\ncn_fnamn: Al\n";
    Simulator holder(Options{}, PersonStore{});
    const std::string busy_port = std::to_string(holder.start());

    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"--port", "x"}, 2, "register-sim: --port needs a whole number from 0 to 65535, not 'x'"},
        {{"--bogus"}, 2, "register-sim: unknown argument '--bogus'"},
        {{"--delay"}, 2, "register-sim: --delay needs a value"},
        {{"--user", "u"}, 2, "register-sim: --user and --password go together"},
        {{"--fixture", "/nonexistent/f.txt"}, 1, "register-sim: /nonexistent/f.txt: cannot be opened"},
        {{"--fixture", bad_fixture}, 1, "register-sim: " + bad_fixture + ":2: unknown key 'cn_fnamn' for a cn person"},
        {{"--port", busy_port}, 1, "register-sim: cannot listen on 127.0.0.1:" + busy_port},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        Child child(c.args);
        EXPECT_EQ(child.wait_exit(std::chrono::seconds(10)), c.exit_code);
        EXPECT_EQ(child.err_text().rfind(c.error, 0), 0u);
    }
    holder.stop();
    std::remove(bad_fixture.c_str());
}

TEST(Program, StartsFastServesAndStopsOnRequest) {
    const auto t0 = Clock::now();
    Child child({"--port", "0", "--synthetic", "10000", "--fixture", REGISTER_SIM_EXAMPLE_FIXTURE});
    const std::string first = child.read_line(std::chrono::seconds(5));
    const auto startup = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    ASSERT_EQ(first.rfind("listening 127.0.0.1:", 0), 0u) << first;
    std::printf("register-sim start-up with 10,000 persons: %lld ms\n", static_cast<long long>(startup));
    EXPECT_LT(startup, 1000);

    httplib::Client client("127.0.0.1", std::stoi(first.substr(first.find(':') + 1)));
    client.set_read_timeout(5);
    test::GetPersonCall call;
    call.pnr = "190000010000";  // the last synthetic person
    auto res = client.Post(std::string(kEndpointPath), test::get_person_body(call), request_content_type("GetPerson"));
    ASSERT_TRUE(res);
    EXPECT_EQ(test::person_info(*test::read_answer(res->body).result)["PO_PNR"], "190000010000");
    call.pnr = "194501011234";  // from the example fixture
    res = client.Post(std::string(kEndpointPath), test::get_person_body(call), request_content_type("GetPerson"));
    ASSERT_TRUE(res);
    EXPECT_EQ(test::person_info(*test::read_answer(res->body).result)["cn_fname"], "Anna Maria");

    ASSERT_TRUE(client.Post("/control/shutdown", "", "text/plain"));
    EXPECT_EQ(child.wait_exit(std::chrono::seconds(10)), 0);
}

TEST(Program, StopsOnSigtermAsSoonAsItListens) {
    Child child({"--port", "0"});
    ASSERT_EQ(child.read_line(std::chrono::seconds(5)).rfind("listening 127.0.0.1:", 0), 0u);
    kill(child.pid(), SIGTERM);
    EXPECT_EQ(child.wait_exit(std::chrono::seconds(10)), 0);
}

}  // namespace
}  // namespace regsim
