// The plug-in's per-frame exports, timed through the shared library as the host loads it.
// The video library it binds to is the in-memory one (bench/memory_video), loaded first,
// so Zelk_Update's time is the plug-in's alone: colour frame in, marker list out.
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/scenes.h"
#include "platform/host/host.h"
#include "tests/support/camera_file.h"
#include "tests/support/paths.h"

namespace {

struct SharedPlugin {
    int32_t (*bindHost)(HostInterface*) = nullptr;
    int32_t (*init)(HostString*, HostString*) = nullptr;
    int32_t (*update)(int32_t) = nullptr;
    int32_t (*quit)() = nullptr;
    int32_t (*getMarker)(int32_t, HostVector*, HostAngle*, int32_t) = nullptr;
    void (*getBmap)(HostBitmap*) = nullptr;
    int32_t (*registerMarker)(HostString*) = nullptr;
    int32_t (*setAutoThreshold)(int32_t) = nullptr;
    int32_t (*setPrecise)(int32_t) = nullptr;
    void (*serve)(const unsigned char* const*, int, int, int) = nullptr;
    void (*rewind)() = nullptr;
    long long (*delivered)() = nullptr;
    const RenderedScene* scene = nullptr;  // the scene the plug-in was started on
    std::string error;
};

template <typename Function>
void resolve(void* library, const char* name, Function& function, std::string* error) {
    function = reinterpret_cast<Function>(library ? dlsym(library, name) : nullptr);
    if (!function && error->empty()) *error = std::string("missing ") + name;
}

SharedPlugin& loadedPlugin() {
    static SharedPlugin plugin;
    static bool loaded = false;
    if (loaded) return plugin;
    loaded = true;
    // The plug-in asks for libvideocapture.so; one of that name is loaded already, so it is used.
    void* video = dlopen(BENCH_VIDEO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    void* library = video ? dlopen(ZELK_PLUGIN_LIBRARY, RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!library) plugin.error = dlerror();
    resolve(video, "memoryVideoServe", plugin.serve, &plugin.error);
    resolve(video, "memoryVideoRewind", plugin.rewind, &plugin.error);
    resolve(video, "memoryVideoDelivered", plugin.delivered, &plugin.error);
    resolve(library, "A6_DLLAPI", plugin.bindHost, &plugin.error);
    resolve(library, "Zelk_Init", plugin.init, &plugin.error);
    resolve(library, "Zelk_Update", plugin.update, &plugin.error);
    resolve(library, "Zelk_Quit", plugin.quit, &plugin.error);
    resolve(library, "Zelk_getMarker", plugin.getMarker, &plugin.error);
    resolve(library, "Zelk_getBmap", plugin.getBmap, &plugin.error);
    resolve(library, "Zelk_registerMarker", plugin.registerMarker, &plugin.error);
    resolve(library, "Zelk_setAutoThreshold", plugin.setAutoThreshold, &plugin.error);
    resolve(library, "Zelk_setPrecise", plugin.setPrecise, &plugin.error);
    if (!plugin.error.empty()) return plugin;
    plugin.bindHost(zelk::host::interfaceRecord());
    for (const std::string& file : zelkPatternFiles()) {
        HostString path = zelk::host::makeString(file.c_str());
        if (plugin.registerMarker(&path) < 0) plugin.error = "cannot register " + file;
    }
    return plugin;
}

// Runs the call with standard output (the plug-in's camera printout) sent nowhere.
template <typename Call>
auto quietly(Call call) {
    std::fflush(stdout);
    const int saved = dup(1), nowhere = open("/dev/null", O_WRONLY);
    dup2(nowhere, 1);
    auto result = call();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(nowhere);
    return result;
}

// The plug-in started on the scene (again only when it was on another), its video at the
// scene's first frame; null, with the benchmark skipped, when it cannot be.
const SharedPlugin* startPlugin(const RenderedScene& scene, benchmark::State& state) {
    SharedPlugin& plugin = loadedPlugin();
    if (plugin.error.empty() && plugin.scene != &scene) {
        if (plugin.scene) plugin.quit();
        plugin.scene = nullptr;
        plugin.serve(scene.framePointers.data(), int(scene.framePointers.size()), scene.width, scene.height);
        const std::string cameraPath = scratchPath("bench_camera.dat");
        writeBytes(cameraPath, cameraFileBytes({scene.camera}));
        HostString config = zelk::host::makeString("memory"), camera = zelk::host::makeString(cameraPath.c_str());
        const long long before = plugin.delivered();
        if (quietly([&] { return plugin.init(&config, &camera); }) != 0)
            plugin.error = "Zelk_Init failed";
        else if (plugin.update(BENCH_THRESHOLD) < 0 || plugin.delivered() == before)
            plugin.error = "the plug-in did not take its frames from the in-memory video library";
        else
            plugin.scene = &scene;
    }
    if (!plugin.error.empty()) {
        state.SkipWithError(plugin.error.c_str());
        return nullptr;
    }
    plugin.rewind();
    return &plugin;
}

// The image point of a marker's position as the plug-in reports it (x forward, y left,
// z up, in units of 1/1024).
void reportedCentre(const RenderedScene& scene, const HostVector& position, double* x, double* y) {
    const double camera[3] = {-position.y / 1024.0, -position.z / 1024.0, position.x / 1024.0};
    double image[3];
    for (int r = 0; r < 3; r++) {
        const double* row = scene.camera.projection[r];
        image[r] = row[0] * camera[0] + row[1] * camera[1] + row[2] * camera[2] + row[3];
    }
    *x = image[0] / image[2];
    *y = image[1] / image[2];
}

// One pass over the scene as the host makes it: a frame, then every pattern's pose; once for
// each mode, fixed or automatic, as the plug-in is set.
double detectionRate(const SharedPlugin& plugin, const RenderedScene& scene, bool automatic = false) {
    return detectionRateOnce(&scene, automatic, [&] {
        DetectionTally tally;
        for (int f = 0; f < SCENE_FRAMES; f++) {
            plugin.update(BENCH_THRESHOLD);
            for (int m = 0; m < scene.markers; m++) {
                if (!markerVisible(scene.truth[f][m])) continue;
                HostVector position;
                double x = 0, y = 0;
                const bool reported = plugin.getMarker(m, &position, nullptr, 0) == 0;
                if (reported) reportedCentre(scene, position, &x, &y);
                tally.add(reported && centreMatches(scene, scene.truth[f][m], x, y));
            }
        }
        plugin.rewind();
        return tally.rate();
    });
}

// Zelk_Update with the fixed threshold, or with the automatic mode.
void updateFrames(benchmark::State& state, bool automatic) {
    const RenderedScene& scene = zelkScene(state);
    const SharedPlugin* plugin = startPlugin(scene, state);
    if (!plugin) return;
    plugin->setAutoThreshold(automatic);
    state.counters["detected"] = detectionRate(*plugin, scene, automatic);
    for (auto _ : state) benchmark::DoNotOptimize(plugin->update(BENCH_THRESHOLD));
    plugin->setAutoThreshold(0);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
}
void BM_ZelkUpdate(benchmark::State& state) { updateFrames(state, false); }
void BM_ZelkUpdateAuto(benchmark::State& state) { updateFrames(state, true); }
BENCHMARK(BM_ZelkUpdate)->Apply(sceneArgs);
BENCHMARK(BM_ZelkUpdateAuto)->Apply(sceneArgs);

// One pose query per iteration, of a marker the current frame shows; each frame's markers
// are queried QUERY_ROUNDS times over before the next frame is detected, untimed.
constexpr int QUERY_ROUNDS = 32;

void BM_ZelkGetMarker(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    const SharedPlugin* plugin = startPlugin(scene, state);
    if (!plugin) return;
    if (detectionRate(*plugin, scene) == 0) return state.SkipWithError("no marker found");
    std::vector<int32_t> shown;
    size_t query = 0;
    for (auto _ : state) {
        if (query >= shown.size() * QUERY_ROUNDS) {
            state.PauseTiming();
            for (shown.clear(), query = 0; shown.empty();) {
                plugin->update(BENCH_THRESHOLD);
                for (int32_t id = 0; id < scene.markers; id++)
                    if (plugin->getMarker(id, nullptr, nullptr, 0) == 0) shown.push_back(id);
            }
            state.ResumeTiming();
        }
        HostVector position;
        HostAngle angles;
        benchmark::DoNotOptimize(plugin->getMarker(shown[query++ % shown.size()], &position, &angles, 0));
    }
}
BENCHMARK(BM_ZelkGetMarker)->Apply(sceneArgs);

// The copy of the frame just detected (still in the cache, as when the host asks for it).
void BM_ZelkGetBmap(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    const SharedPlugin* plugin = startPlugin(scene, state);
    if (!plugin) return;
    plugin->update(BENCH_THRESHOLD);
    zelk::host::Texture texture(scene.width, scene.height, scene.width * 4);
    HostBitmap bitmap = zelk::host::makeBitmap(&texture);
    for (auto _ : state) {
        plugin->getBmap(&bitmap);
        benchmark::ClobberMemory();
    }
    if (texture.unlockCount == 0) state.SkipWithError("no copy made");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
}
BENCHMARK(BM_ZelkGetBmap)->Apply(sceneArgs);

// The floor under any picture export: a memcpy of the same frame's bytes into the texture.
void BM_FrameMemcpy(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    const std::vector<uint8_t>& frame = scene.frames[0];
    zelk::host::Texture texture(scene.width, scene.height, scene.width * 4);
    for (auto _ : state) {
        std::memcpy(texture.buffer.data(), frame.data(), frame.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.size()));
}
BENCHMARK(BM_FrameMemcpy)->Apply(sceneArgs);

// This thread's CPU time in microseconds.
double threadMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

// What precise mode adds to Zelk_Update plus the queries, per marker: every iteration takes
// the scene's frames once in default mode and once in precise mode, each frame updated and
// every pattern queried; the counters give each mode's time per frame, the markers found per
// frame and the difference per marker.
void BM_PreciseModeCost(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    const SharedPlugin* plugin = startPlugin(scene, state);
    if (!plugin) return;
    double time[2] = {0, 0};
    int64_t found = 0, frames = 0;
    for (auto _ : state) {
        for (int precise = 0; precise < 2; precise++) {
            plugin->setPrecise(precise);
            plugin->rewind();
            const double start = threadMicroseconds();
            for (int f = 0; f < SCENE_FRAMES; f++) {
                plugin->update(BENCH_THRESHOLD);
                for (int32_t id = 0; id < scene.markers; id++) {
                    HostVector position;
                    HostAngle angles;
                    const bool shown = plugin->getMarker(id, &position, &angles, 0) == 0;
                    found += precise == 0 && shown;
                }
            }
            time[precise] += threadMicroseconds() - start;
        }
        frames += SCENE_FRAMES;
    }
    plugin->setPrecise(0);
    plugin->rewind();
    if (found == 0) return state.SkipWithError("no marker found");
    state.counters["default_us"] = time[0] / frames;
    state.counters["precise_us"] = time[1] / frames;
    state.counters["markers"] = double(found) / frames;
    state.counters["added_us_per_marker"] = (time[1] - time[0]) / found;
}
BENCHMARK(BM_PreciseModeCost)->Apply(sceneArgs);

// The whole frame as the host makes it: the update, the camera picture and a pose query for
// each of the four patterns it draws, whether or not the frame shows them.
constexpr int32_t HOST_PATTERNS = 4;

void BM_WholeFrameZelk(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    const SharedPlugin* plugin = startPlugin(scene, state);
    if (!plugin) return;
    zelk::host::Texture texture(scene.width, scene.height, scene.width * 4);
    HostBitmap bitmap = zelk::host::makeBitmap(&texture);
    for (auto _ : state) {
        plugin->update(BENCH_THRESHOLD);
        plugin->getBmap(&bitmap);
        for (int32_t id = 0; id < HOST_PATTERNS; id++) {
            HostVector position;
            HostAngle angles;
            benchmark::DoNotOptimize(plugin->getMarker(id, &position, &angles, 0));
        }
    }
    if (texture.unlockCount == 0) state.SkipWithError("no copy made");
}
BENCHMARK(BM_WholeFrameZelk)->Apply(sceneArgs);

}  // namespace
