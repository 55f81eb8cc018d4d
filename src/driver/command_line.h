// The command line:
//   ombrix-vm <ACTION> {OPTIONS}            start, stop, status, inventory
//   ombrix-vm <SYSTEM> <ACTION> {OPTIONS}   vm or pool with their actions
// An action word may also be given as an option ("--status").
#pragma once

#include <string>

struct Config;

// Fills the command-line fields of `config` from argv. Returns a positive
// value when the program is done and ends with status 0 (--help and --version
// printed their text), a negative one when it ends with status 1 (an error,
// printed as "Error: ..." on standard error), and 0 when it goes on.
int parse_command_line(int argc, const char* const* argv, Config& config);

// The usage text on standard output.
void print_usage();

// "ombrix-vm <version>"
std::string version_text();
