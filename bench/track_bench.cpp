// zelk track over two recordings, one after the other (--jobs 1) and side by side in two
// processes (--jobs 2). Wall-clock time: the work runs in processes of zelk's own. The
// recordings are two synthetic scenes rendered once to PNG frames and played back.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "tests/support/paths.h"

namespace {

constexpr int RECORDING_FRAMES = 120;

int run(const std::string& command) { return std::system(("cd " + sourcePath("") + " && " + command).c_str()); }

const std::string& folder() {
    static const std::string made = scratchPath("track-bench");
    return made;
}

// The two recordings' frames.xml as --video options, rendered on first use; empty when
// that failed.
const std::string& recordings() {
    static const std::string videos = [] {
        const std::string zelk = binaryPath("zelk");
        if (run("mkdir -p " + folder()) != 0) return std::string();
        std::string list;
        for (const char* seed : {"1", "2"}) {
            const std::string scene = folder() + "/scene" + seed + ".xml", frames = folder() + "/recording" + seed;
            const std::string make = zelk + " scene -o " + scene +
                                     " --marker Data/markers/letter.png --marker Data/markers/arrow.png"
                                     " --marker Data/markers/blocks.png --camera Data/camera_para.dat --frames " +
                                     std::to_string(RECORDING_FRAMES) + " --set seed=" + seed + " > /dev/null && " +
                                     zelk + " render " + scene + " -o " + frames + " > /dev/null";
            if (run(make) != 0) return std::string();
            list += " --video " + frames + "/frames.xml";
        }
        return list;
    }();
    return videos;
}

void BM_ZelkTrackTwoRecordings(benchmark::State& state) {
    const std::string& videos = recordings();
    if (videos.empty()) return state.SkipWithError("cannot render the recordings");
    const std::string command = binaryPath("zelk") + " track" + videos + " --camera Data/camera_para.dat --jobs " +
                                std::to_string(state.range(0)) + " -q --poses " + folder() + "/poses" + " > /dev/null";
    for (auto _ : state)
        if (run(command) != 0) return state.SkipWithError("zelk track failed");
    state.counters["frames"] = 2 * RECORDING_FRAMES;
}
BENCHMARK(BM_ZelkTrackTwoRecordings)
    ->ArgName("jobs")
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
