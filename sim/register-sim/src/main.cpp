// register-sim: a stand-in for the population register's SOAP service, for
// tests, demos and benchmarks.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <thread>

#include "cli.h"

int main(int argc, char** argv) {
    using namespace regsim;
    CommandLine cl;
    try {
        cl = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << "register-sim: " << e.what() << "\n\n" << kUsage;
        return 2;
    }
    if (cl.help) {
        std::cout << kUsage;
        return 0;
    }

    PersonStore store;
    try {
        add_synthetic(store, cl.synthetic);
        for (const auto& f : cl.fixtures) load_fixture_file(f, store);
    } catch (const FixtureError& e) {
        std::cerr << "register-sim: " << e.what() << "\n";
        return 1;
    }

    // SIGINT and SIGTERM are taken by a thread of their own, which stops the
    // server; every other thread starts with them blocked.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    const size_t persons = store.size();
    Simulator sim(cl.options, std::move(store));
    try {
        sim.start();
    } catch (const std::exception& e) {
        std::cerr << "register-sim: " << e.what() << "\n";
        return 1;
    }
    std::thread([&sim, stop_signals] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        sim.request_stop();
    }).detach();

    std::cout << "listening " << cl.options.host << ":" << sim.port() << std::endl;
    std::cerr << "register-sim: " << persons << " persons, endpoint " << sim.endpoint_url() << std::endl;
    sim.wait_for_stop_request();
    sim.stop();
    return 0;
}
