#include "tests/apps/run_zelk.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "tests/support/paths.h"

ZelkRun runZelk(const std::string& arguments) {
    const std::string command = binaryPath("zelk") + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, "cannot start " + command};
    ZelkRun run{0, ""};
    std::array<char, 4096> chunk;
    size_t got;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) run.output.append(chunk.data(), got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
