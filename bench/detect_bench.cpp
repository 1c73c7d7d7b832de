// The detection stages on rendered frames: labelling, candidate extraction, identification,
// marker list building and the whole per-frame driver, beside one plain pass that reads
// every byte of the same frames. Frames are taken in turn; extraction, identification and
// list building work on one frame's labelling, which lives in the labelling stage's buffers.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/scenes.h"
#include "camera/camera_params.h"
#include "detect/candidates.h"
#include "detect/detection.h"
#include "detect/edge_lines.h"
#include "detect/labelling.h"
#include "detect/pattern_library.h"

namespace {

void BM_PlainPass(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    size_t next = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& frame = scene.frames[next++ % scene.frames.size()];
        // OR-ing 8-byte words four at a time keeps the pass as light as reading can be:
        // summing bytes would cost more than their arrival does.
        uint64_t seen[4] = {};
        for (size_t i = 0; i + 32 <= frame.size(); i += 32)
            for (int k = 0; k < 4; ++k) {
                uint64_t word;
                std::memcpy(&word, frame.data() + i + 8 * k, sizeof word);
                seen[k] |= word;
            }
        benchmark::DoNotOptimize(seen);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
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

Labelled label(const unsigned char* frame) {
    Labelled l{};
    l.image = zelk::labelFrame(frame, BENCH_THRESHOLD, &l.count, &l.area, &l.centroid, &l.bounds, &l.table);
    return l;
}

// Candidate extraction with the driver's limits.
const zelk::SquareCandidate* extract(const Labelled& l, int32_t* count) {
    return zelk::extractCandidates(l.image, l.count, l.table, l.area, l.centroid, l.bounds, 100000, 70, 1.0, count);
}

// The first frame that gives a candidate per marker (a near marker can be too large for
// one), labelled last.
const unsigned char* labelledFrame(const benchmark::State& state, Labelled* labelled) {
    const RenderedScene& scene = coreScene(state);
    for (const unsigned char* frame : scene.framePointers) {
        *labelled = label(frame);
        int32_t count = 0;
        extract(*labelled, &count);
        if (count >= scene.markers) return frame;
    }
    return scene.framePointers.back();
}

void BM_LabelFrame(benchmark::State& state) {
    const RenderedScene& scene = coreScene(state);
    size_t next = 0;
    for (auto _ : state) benchmark::DoNotOptimize(label(scene.framePointers[next++ % SCENE_FRAMES]).image);
    state.counters["regions"] = label(scene.framePointers[0]).count;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
}
BENCHMARK(BM_LabelFrame)->Apply(sceneArgs);

void BM_ExtractCandidates(benchmark::State& state) {
    Labelled l;
    labelledFrame(state, &l);
    int32_t count = 0;
    for (auto _ : state) benchmark::DoNotOptimize(extract(l, &count));
    state.counters["candidates"] = count;
}
BENCHMARK(BM_ExtractCandidates)->Apply(sceneArgs);

// Unwarping and matching every candidate of one frame: the identification part of list building.
void BM_IdentifyCandidates(benchmark::State& state) {
    Labelled l;
    const unsigned char* frame = labelledFrame(state, &l);
    int32_t count = 0;
    const zelk::SquareCandidate* list = extract(l, &count);
    for (auto _ : state)
        for (int k = 0; k < count; k++) {
            int32_t id, direction;
            double confidence;
            zelk::identifyCandidate(frame, list[k].contourX, list[k].contourY, list[k].vertexIndex, &id, &direction,
                                    &confidence);
            benchmark::DoNotOptimize(confidence);
        }
    state.counters["candidates"] = count;
}
BENCHMARK(BM_IdentifyCandidates)->Apply(sceneArgs);

void BM_BuildMarkerList(benchmark::State& state) {
    Labelled l;
    const unsigned char* frame = labelledFrame(state, &l);
    int32_t candidates = 0;
    const zelk::SquareCandidate* list = extract(l, &candidates);
    int32_t markers = 0;
    for (auto _ : state) {
        markers = candidates;
        benchmark::DoNotOptimize(zelk::buildMarkerList(frame, list, &markers));
    }
    state.counters["markers"] = markers;
}
BENCHMARK(BM_BuildMarkerList)->Apply(sceneArgs);

// The line fits alone, every candidate of the frame, through the scene's camera (no lens
// distortion) or through a lens with a radial term (each point needs the Newton steps' divisions).
void BM_FitEdgeLines(benchmark::State& state, bool radial) {
    Labelled l;
    labelledFrame(state, &l);
    int32_t candidates = 0;
    const zelk::SquareCandidate* list = extract(l, &candidates);
    const double* pinhole = zelk::currentCamera()->distortion;
    const double lens[4] = {pinhole[0], pinhole[1], 26.2, 1.0127};
    double lines[4][3], corners[4][2];
    for (auto _ : state)
        for (int32_t k = 0; k < candidates; k++)
            benchmark::DoNotOptimize(zelk::fitEdgeLines(list[k].contourX, list[k].contourY, list[k].vertexIndex,
                                                        radial ? lens : pinhole, lines, corners));
    state.counters["candidates"] = candidates;
}
BENCHMARK_CAPTURE(BM_FitEdgeLines, pinhole, false)->Apply(sceneArgs);
BENCHMARK_CAPTURE(BM_FitEdgeLines, radial, true)->Apply(sceneArgs);

// Everything one Zelk_Update does with a frame: labelling to the steadied marker list.
void BM_DetectMarkers(benchmark::State& state) {
    const RenderedScene& scene = coreScene(state);
    zelk::MarkerRecord* list = nullptr;
    int32_t markers = 0;
    size_t next = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(zelk::detectMarkers(scene.framePointers[next++ % SCENE_FRAMES], BENCH_THRESHOLD, &list, &markers));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
}
BENCHMARK(BM_DetectMarkers)->Apply(sceneArgs);

// The worst case: dots that run the raw-label table out, failing the frame.
void BM_LabelFrameOverflow(benchmark::State& state) {
    const TestFrame& f = dotLatticeScene(640, 480);
    useFrameSize(f);
    for (auto _ : state) benchmark::DoNotOptimize(label(f.data()).image);
}
BENCHMARK(BM_LabelFrameOverflow);

}  // namespace
