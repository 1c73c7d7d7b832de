// Pose estimation per marker, on the markers detection finds in the rendered frames.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/scenes.h"
#include "detect/detector.h"
#include "detect/subpixel_edges.h"
#include "pose/initial_rotation.h"
#include "pose/pose_estimation.h"

#ifdef ZELK_WITH_OPENCV
#include "tests/support/square_solver.h"
#endif

namespace {

// Every identified marker of the scene's frames, as the core detects them, with its frame.
struct DetectedMarker {
    zelk::MarkerRecord record;
    zelk::FrameImage frame;
};

std::vector<DetectedMarker> detectedMarkers(const benchmark::State& state) {
    const RenderedScene& scene = zelkScene(state);
    zelk::Detector& detector = sceneDetector(scene);
    std::vector<DetectedMarker> found;
    for (size_t f = 0; f < scene.framePointers.size(); f++) {
        const zelk::FrameImage frame = sceneFrame(scene, f);
        zelk::detectMarkers(&detector, &frame, BENCH_THRESHOLD);
        for (int32_t i = 0; i < detector.markers.count; i++)
            if (detector.markers.records[i].patternId >= 0) found.push_back({detector.markers.records[i], frame});
    }
    return found;
}

// Runs pose(marker, camera, centre) on the scene's detected markers in turn.
template <typename Pose>
void poseEachMarker(benchmark::State& state, Pose pose) {
    const std::vector<DetectedMarker> markers = detectedMarkers(state);
    if (markers.empty()) return state.SkipWithError("no marker found");
    const zelk::CameraParams& camera = zelkScene(state).camera;
    const double centre[2] = {0, 0};
    size_t i = 0;
    for (auto _ : state) pose(markers[i++ % markers.size()], camera, centre);
}

void BM_EstimateMarkerPose(benchmark::State& state) {
    poseEachMarker(state, [](const DetectedMarker& m, const zelk::CameraParams& camera, const double centre[2]) {
        double pose[3][4];
        benchmark::DoNotOptimize(zelk::estimateMarkerPose(&m.record, &camera, centre, MARKER_SQUARE, pose));
        benchmark::DoNotOptimize(pose);
    });
}
BENCHMARK(BM_EstimateMarkerPose)->Apply(sceneArgs);

// Precise mode per marker: sub-pixel edges on the frame, then the least-squares pose (both
// planar starts refined) in place of the default pose.
void BM_PreciseMarkerPose(benchmark::State& state) {
    poseEachMarker(state, [](const DetectedMarker& m, const zelk::CameraParams& camera, const double centre[2]) {
        zelk::MarkerRecord record = m.record;
        benchmark::DoNotOptimize(zelk::refineEdgeLines(&m.frame, camera.distortion, record.edgeLines, record.corners));
        double pose[3][4];
        benchmark::DoNotOptimize(zelk::estimatePrecisePose(&record, &camera, centre, MARKER_SQUARE, nullptr, pose));
        benchmark::DoNotOptimize(pose);
    });
}
BENCHMARK(BM_PreciseMarkerPose)->Apply(sceneArgs);

#ifdef ZELK_WITH_OPENCV
// OpenCV's square-marker solver on the same corners, for scale.
void BM_SquareSolverPose(benchmark::State& state) {
    poseEachMarker(state, [](const DetectedMarker& m, const zelk::CameraParams& camera, const double*) {
        double corners[4][2], pose[3][4];
        for (int j = 0; j < 4; j++) {
            const double* c = m.record.corners[zelk::patternCornerIndex(m.record.direction, j)];
            corners[j][0] = c[0], corners[j][1] = c[1];
        }
        benchmark::DoNotOptimize(squareSolverPose(corners, camera.projection, MARKER_SQUARE, pose));
        benchmark::DoNotOptimize(pose);
    });
}
BENCHMARK(BM_SquareSolverPose)->Apply(sceneArgs);
#endif

}  // namespace
