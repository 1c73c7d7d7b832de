// The detection hot path: labelling, candidate extraction, marker list building and the
// whole per-frame driver, each beside one plain pass that reads every byte of the same frame.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/scenes.h"
#include "detect/candidates.h"
#include "detect/detection.h"
#include "detect/edge_lines.h"
#include "detect/labelling.h"
#include "detect/pattern_library.h"

namespace {

void sceneArgs(benchmark::internal::Benchmark* b) {
    for (const auto& size : {std::pair{640, 480}, std::pair{1280, 720}})
        for (int markers : {1, 4}) b->Args({size.first, size.second, markers});
    b->ArgNames({"w", "h", "markers"});
}

const TestFrame& scene(const benchmark::State& state) {
    return markerScene(int(state.range(0)), int(state.range(1)), int(state.range(2)));
}

void BM_PlainPass(benchmark::State& state) {
    const TestFrame& f = scene(state);
    for (auto _ : state) {
        uint32_t sum = 0;
        for (uint8_t byte : f.bytes) sum += byte;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bytes.size()));
}
BENCHMARK(BM_PlainPass)->Apply(sceneArgs);

struct Labelled {
    const zelk::LabelPixel* image;
    int32_t count;
    const int32_t* area;
    const zelk::RegionCentroid* centroid;
    const zelk::RegionBounds* bounds;
    const int32_t* table;
};

Labelled labelScene(const TestFrame& f) {
    Labelled l{};
    l.image = zelk::labelFrame(f.data(), BENCH_THRESHOLD, &l.count, &l.area, &l.centroid, &l.bounds, &l.table);
    return l;
}

void BM_LabelFrame(benchmark::State& state) {
    const TestFrame& f = scene(state);
    useFrameSize(f);
    for (auto _ : state) benchmark::DoNotOptimize(labelScene(f).image);
    state.counters["regions"] = labelScene(f).count;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bytes.size()));
}
BENCHMARK(BM_LabelFrame)->Apply(sceneArgs);

void BM_ExtractCandidates(benchmark::State& state) {
    const TestFrame& f = scene(state);
    useFrameSize(f);
    const Labelled l = labelScene(f);
    int32_t count = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(zelk::extractCandidates(l.image, l.count, l.table, l.area, l.centroid, l.bounds,
                                                         100000, 70, 1.0, &count));
    }
    state.counters["candidates"] = count;
}
BENCHMARK(BM_ExtractCandidates)->Apply(sceneArgs);

// The bundled patterns (one of them twice), so that identification correlates with four.
void registerPatterns() {
    static bool registered = false;
    if (registered) return;
    for (const char* name : {"letter", "arrow", "blocks", "letter"})
        zelk::loadPattern((std::string(ZELK_SOURCE_DIR) + "/Data/patterns/" + name + ".pat").c_str());
    registered = true;
}

void BM_BuildMarkerList(benchmark::State& state) {
    const TestFrame& f = scene(state);
    useFrameSize(f);
    registerPatterns();
    const Labelled l = labelScene(f);
    int32_t candidates = 0;
    const zelk::SquareCandidate* list =
        zelk::extractCandidates(l.image, l.count, l.table, l.area, l.centroid, l.bounds, 100000, 70, 1.0, &candidates);
    int32_t markers = 0;
    for (auto _ : state) {
        markers = candidates;
        benchmark::DoNotOptimize(zelk::buildMarkerList(f.data(), list, &markers));
    }
    state.counters["markers"] = markers;
}
BENCHMARK(BM_BuildMarkerList)->Apply(sceneArgs);

// Everything one Zelk_Update does with a frame: labelling to the steadied marker list.
void BM_DetectMarkers(benchmark::State& state) {
    const TestFrame& f = scene(state);
    useFrameSize(f);
    registerPatterns();
    zelk::MarkerRecord* list = nullptr;
    int32_t markers = 0;
    for (auto _ : state) benchmark::DoNotOptimize(zelk::detectMarkers(f.data(), BENCH_THRESHOLD, &list, &markers));
    state.counters["markers"] = markers;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bytes.size()));
}
BENCHMARK(BM_DetectMarkers)->Apply(sceneArgs);

// The worst case: dots that run the raw-label table out, failing the frame.
void BM_LabelFrameOverflow(benchmark::State& state) {
    const TestFrame& f = dotLatticeScene(640, 480);
    useFrameSize(f);
    for (auto _ : state) benchmark::DoNotOptimize(labelScene(f).image);
}
BENCHMARK(BM_LabelFrameOverflow);

}  // namespace
