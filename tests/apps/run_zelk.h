// Runs the built zelk command from the repository root, as a user would.
#pragma once
#include <string>

struct ZelkRun {
    int exitCode;
    std::string output;  // standard output and standard error together
};

// Runs "zelk <arguments>" through the shell.
ZelkRun runZelk(const std::string& arguments);
