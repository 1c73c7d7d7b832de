// Frames shared by the benchmarks: scenes of the synthetic renderer (noise and blur on),
// drawn once and kept, with every marker's ground truth, and the check that a system
// found a marker.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "detect/detector.h"
#include "platform/videocapture/render/synthetic_scene.h"
#include "tests/support/frames.h"

// Frames per scene; the per-frame benchmarks take them in turn, so that, as with a camera,
// a frame is not in the cache when it arrives (at 640 x 480 they are 29 MB together).
constexpr int SCENE_FRAMES = 24;
constexpr int BENCH_THRESHOLD = 100;
// Every system's black square is this wide (scene units); poses are the same for all.
constexpr double MARKER_SQUARE = 80;

// One system's printed markers: marker i of a scene shows faces[i] over a square `width`
// units wide (wider than MARKER_SQUARE when the design has a light margin round its black square).
struct MarkerDesign {
    std::vector<zelk::synth::MarkerFace> faces;
    double width = MARKER_SQUARE;
};

struct RenderedScene {
    int width = 0, height = 0, markers = 0;
    double designWidth = MARKER_SQUARE;
    zelk::CameraParams camera{};
    std::vector<std::vector<uint8_t>> frames;  // BGRA, emptied by users that keep another form
    std::vector<const unsigned char*> framePointers;
    std::vector<std::vector<zelk::synth::MarkerTruth>> truth;  // per frame, per marker
};

// A pinhole camera without lens distortion, centred, of the same field of view at every width.
zelk::CameraParams benchCamera(int width, int height);
// The design's first `markers` markers, each on its own part of the built-in path, at moments
// spread over the path's periods so that distance, tilt and turn vary widely.
RenderedScene renderScene(const MarkerDesign& design, int width, int height, int markers);
// Our own markers: pattern designs 0, 1, 2, 3, which get ids 0 ... 3 when registered in
// the order of zelkPatternFiles().
const RenderedScene& zelkScene(int width, int height, int markers);
const std::vector<std::string>& zelkPatternFiles();

// Whether a frame's marker was fully in view, and so counts toward the detection rate.
bool markerVisible(const zelk::synth::MarkerTruth& truth);
// Whether an image point reported as the marker's centre lies within 3 px or a tenth of the
// black square's side of the true centre.
bool centreMatches(const RenderedScene& scene, const zelk::synth::MarkerTruth& truth, double x, double y);

// Visible markers and how many of them a system found with the right id.
struct DetectionTally {
    int visible = 0, found = 0;
    void add(bool wasFound) {
        visible++;
        found += wasFound;
    }
    double rate() const { return visible ? double(found) / visible : 0.0; }
};

// A detector's rate on a scene (variant: its setting, if it has one), measured by `pass` the
// first time only: a benchmark's function runs again for every repetition.
double detectionRateOnce(const void* scene, int64_t variant, const std::function<double()>& pass);

// Arguments of the per-frame benchmarks: 640 x 480 and 1280 x 720, 1 and 4 markers;
// with an argument of the benchmark's own, for each of its values.
void sceneArgs(benchmark::internal::Benchmark* b);
void sceneArgs(benchmark::internal::Benchmark* b, const char* name, const std::vector<int64_t>& values);
const RenderedScene& zelkScene(const benchmark::State& state);
// Frame i of the scene as detection reads it.
zelk::FrameImage sceneFrame(const RenderedScene& scene, size_t i);
// The core linked into the benchmark: one detector, given the scene's camera, with our
// patterns registered and its history emptied.
zelk::Detector& sceneDetector(const RenderedScene& scene);

// Isolated dark dots on every other row and column: far more raw labels than fit.
const TestFrame& dotLatticeScene(int width, int height);
