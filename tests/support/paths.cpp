#include "tests/support/paths.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>

namespace {

int processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return getpid();
#endif
}

}  // namespace

std::string sourcePath(const std::string& relative) { return std::string(ZELK_SOURCE_DIR) + "/" + relative; }

std::string binaryPath(const std::string& relative) { return std::string(ZELK_BINARY_DIR) + "/" + relative; }

std::string scratchPath(const std::string& name) {
    static std::atomic<int> counter{0};
    // A file of an earlier process with the same number can linger: only a name that no
    // file has yet is handed out, so that a test never reads another's leftovers.
    for (;;) {
        const std::string file =
            "zelk_test_" + std::to_string(processId()) + "_" + std::to_string(counter++) + "_" + name;
        const std::filesystem::path path = std::filesystem::temp_directory_path() / file;
        std::error_code error;
        if (!std::filesystem::exists(path, error)) return path.string();
    }
}

std::string pluginPath() { return ZELK_PLUGIN_PATH; }
