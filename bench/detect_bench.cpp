// The detection hot path: labelling and candidate extraction, each beside one plain
// pass that reads every byte of the same frame.
#include <benchmark/benchmark.h>

#include "bench/scenes.h"
#include "detect/candidates.h"
#include "detect/labelling.h"

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

// The worst case: dots that run the raw-label table out, failing the frame.
void BM_LabelFrameOverflow(benchmark::State& state) {
    const TestFrame& f = dotLatticeScene(640, 480);
    useFrameSize(f);
    for (auto _ : state) benchmark::DoNotOptimize(labelScene(f).image);
}
BENCHMARK(BM_LabelFrameOverflow);

}  // namespace
