// The command line of register-sim.
#pragma once

#include <string>
#include <vector>

#include "simulator.h"

namespace regsim {

struct CommandLine {
    Options options;
    std::vector<std::string> fixtures;
    int synthetic = 0;
    bool help = false;
};

// Throws std::invalid_argument naming the faulty argument.
CommandLine parse_command_line(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace regsim
