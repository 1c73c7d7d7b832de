#include "tests/support/paths.h"

#include <unistd.h>

#include <atomic>

std::string sourcePath(const std::string& relative) { return std::string(ZELK_SOURCE_DIR) + "/" + relative; }

std::string binaryPath(const std::string& relative) { return std::string(ZELK_BINARY_DIR) + "/" + relative; }

std::string scratchPath(const std::string& name) {
    static std::atomic<int> counter{0};
    return "/tmp/zelk_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" + name;
}
