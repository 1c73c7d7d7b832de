// The detection stages on rendered frames: labelling, candidate extraction, identification,
// marker list building and the whole per-frame driver, beside one plain pass that reads
// every byte of the same frames. Frames are taken in turn; extraction, identification and
// list building work on one frame's labelling, which lives in the detector's buffers.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/scenes.h"
#include "detect/detector.h"

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

zelk::Labelling label(zelk::Detector& detector, const zelk::FrameImage& frame) {
    return zelk::labelFrame(&detector.labels, &frame, BENCH_THRESHOLD);
}

// Candidate extraction with the driver's limits, into the detector's list.
int32_t extract(zelk::Detector& detector, const zelk::Labelling& l) {
    return zelk::extractCandidates(&l, &detector.settings.candidateLimits, &detector.candidates);
}

// The first frame that gives a candidate per marker (a near marker can be too large for
// one), labelled last, with its candidates in the detector.
struct Labelled {
    zelk::Detector& detector;
    zelk::FrameImage frame;
    zelk::Labelling labelling;
    int32_t candidates;
};
Labelled labelledFrame(const benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    zelk::Detector& detector = sceneDetector(scene);
    for (size_t i = 0;; i++) {
        const zelk::FrameImage frame = sceneFrame(scene, i);
        const zelk::Labelling l = label(detector, frame);
        const int32_t count = extract(detector, l);
        if (count >= scene.markers || i + 1 == scene.framePointers.size()) return {detector, frame, l, count};
    }
}

void BM_LabelFrame(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    zelk::Detector& detector = sceneDetector(scene);
    size_t next = 0;
    for (auto _ : state) benchmark::DoNotOptimize(label(detector, sceneFrame(scene, next++ % SCENE_FRAMES)).image);
    state.counters["regions"] = label(detector, sceneFrame(scene, 0)).regionCount;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
}
BENCHMARK(BM_LabelFrame)->Apply(sceneArgs);

// The automatic threshold: the tiles measured as the rows are labelled with their bounds.
void BM_LabelFrameAuto(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    zelk::Detector& detector = sceneDetector(scene);
    size_t next = 0;
    zelk::Labelling l{};
    for (auto _ : state) {
        const zelk::FrameImage frame = sceneFrame(scene, next++ % SCENE_FRAMES);
        benchmark::DoNotOptimize(l = zelk::labelFrameLocally(&detector.labels, &frame, true));
    }
    state.counters["regions"] = l.regionCount;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
}
BENCHMARK(BM_LabelFrameAuto)->Apply(sceneArgs);

void BM_ExtractCandidates(benchmark::State& state) {
    const Labelled l = labelledFrame(state);
    int32_t count = 0;
    for (auto _ : state) benchmark::DoNotOptimize(count = extract(l.detector, l.labelling));
    state.counters["candidates"] = count;
}
BENCHMARK(BM_ExtractCandidates)->Apply(sceneArgs);

// Unwarping and matching every candidate of one frame: the identification part of list building.
void BM_IdentifyCandidates(benchmark::State& state) {
    const Labelled l = labelledFrame(state);
    const zelk::SquareCandidate* list = l.detector.candidates.entries;
    for (auto _ : state)
        for (int k = 0; k < l.candidates; k++) {
            int32_t id, direction;
            double confidence;
            zelk::identifyCandidate(&l.detector.patterns, &l.frame, list[k].contourX, list[k].contourY,
                                    list[k].vertexIndex, &id, &direction, &confidence);
            benchmark::DoNotOptimize(confidence);
        }
    state.counters["candidates"] = l.candidates;
}
BENCHMARK(BM_IdentifyCandidates)->Apply(sceneArgs);

void BM_BuildMarkerList(benchmark::State& state) {
    const Labelled l = labelledFrame(state);
    zelk::Detector& d = l.detector;
    int32_t markers = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(markers = zelk::buildMarkerList(&l.frame, &d.camera, &d.patterns, &d.candidates,
                                                                 &d.sidePoints, &d.markers));
    state.counters["markers"] = markers;
}
BENCHMARK(BM_BuildMarkerList)->Apply(sceneArgs);

// The line fits alone, every candidate of the frame, through the scene's camera (no lens
// distortion) or through a lens with a radial term (each point needs the Newton steps' divisions).
void BM_FitEdgeLines(benchmark::State& state, bool radial) {
    const Labelled l = labelledFrame(state);
    const zelk::SquareCandidate* list = l.detector.candidates.entries;
    const double* pinhole = l.detector.camera.distortion;
    const double lens[4] = {pinhole[0], pinhole[1], 26.2, 1.0127};
    double lines[4][3], corners[4][2];
    for (auto _ : state)
        for (int32_t k = 0; k < l.candidates; k++)
            benchmark::DoNotOptimize(zelk::fitEdgeLines(list[k].contourX, list[k].contourY, list[k].vertexIndex,
                                                        radial ? lens : pinhole, &l.detector.sidePoints, lines,
                                                        corners));
    state.counters["candidates"] = l.candidates;
}
BENCHMARK_CAPTURE(BM_FitEdgeLines, pinhole, false)->Apply(sceneArgs);
BENCHMARK_CAPTURE(BM_FitEdgeLines, radial, true)->Apply(sceneArgs);

// Everything one Zelk_Update does with a frame: labelling to the steadied marker list.
void BM_DetectMarkers(benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    zelk::Detector& detector = sceneDetector(scene);
    size_t next = 0;
    for (auto _ : state) {
        const zelk::FrameImage frame = sceneFrame(scene, next++ % SCENE_FRAMES);
        benchmark::DoNotOptimize(zelk::detectMarkers(&detector, &frame, BENCH_THRESHOLD));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(scene.frames[0].size()));
}
BENCHMARK(BM_DetectMarkers)->Apply(sceneArgs);

// The worst case: dots that run the raw-label table out, failing the frame.
void BM_LabelFrameOverflow(benchmark::State& state) {
    const TestFrame& f = dotLatticeScene(640, 480);
    zelk::Detector& detector = sceneDetector(zelkScene(640, 480, 1));
    for (auto _ : state) benchmark::DoNotOptimize(label(detector, f.image()).image);
}
BENCHMARK(BM_LabelFrameOverflow);

}  // namespace
