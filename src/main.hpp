// The command-line entry: lorvex rcdata_name inputfile outputfile.
#pragma once

#include "system_file.hpp"

namespace lorvex {

constexpr int exit_success = 0;
constexpr int exit_failure = 1;  // a file could not be opened, read or written
constexpr int exit_usage = 2;    // fewer than three arguments, or an unusable resource name

// Runs the whole tool for the argument list (program name first), as the platform delivered it, and
// returns the exit status. Messages go to messages, one line each.
int run_command_line(int argc, const system::path_char* const argv[], std::FILE* messages = stdout);

}  // namespace lorvex
