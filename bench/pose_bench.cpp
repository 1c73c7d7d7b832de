// Pose estimation per marker, on the markers detection finds in the rendered frames.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/scenes.h"
#include "detect/detector.h"
#include "detect/subpixel_edges.h"
#include "pose/pose_estimation.h"

#ifdef ZELK_WITH_OPENCV
#include <opencv2/calib3d.hpp>
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

void BM_EstimateMarkerPose(benchmark::State& state) {
    const std::vector<DetectedMarker> markers = detectedMarkers(state);
    if (markers.empty()) return state.SkipWithError("no marker found");
    const zelk::CameraParams& camera = zelkScene(state).camera;
    const double centre[2] = {0, 0};
    size_t i = 0;
    for (auto _ : state) {
        double pose[3][4];
        benchmark::DoNotOptimize(
            zelk::estimateMarkerPose(&markers[i++ % markers.size()].record, &camera, centre, MARKER_SQUARE, pose));
        benchmark::DoNotOptimize(pose);
    }
}
BENCHMARK(BM_EstimateMarkerPose)->Apply(sceneArgs);

// What precise mode adds per marker: sub-pixel edges on the frame, then the least-squares pose
// (both planar starts refined) in place of the default pose.
void BM_PreciseMarkerPose(benchmark::State& state) {
    const std::vector<DetectedMarker> markers = detectedMarkers(state);
    if (markers.empty()) return state.SkipWithError("no marker found");
    const zelk::CameraParams& camera = zelkScene(state).camera;
    const double centre[2] = {0, 0};
    size_t i = 0;
    for (auto _ : state) {
        const DetectedMarker& m = markers[i++ % markers.size()];
        zelk::MarkerRecord record = m.record;
        benchmark::DoNotOptimize(zelk::refineEdgeLines(&m.frame, camera.distortion, record.edgeLines, record.corners));
        double pose[3][4];
        benchmark::DoNotOptimize(zelk::estimatePrecisePose(&record, &camera, centre, MARKER_SQUARE, nullptr, pose));
        benchmark::DoNotOptimize(pose);
    }
}
BENCHMARK(BM_PreciseMarkerPose)->Apply(sceneArgs);

#ifdef ZELK_WITH_OPENCV
// OpenCV's square-marker solver on the same corners, for scale.
void BM_SquareSolverPose(benchmark::State& state) {
    const std::vector<DetectedMarker> markers = detectedMarkers(state);
    if (markers.empty()) return state.SkipWithError("no marker found");
    const auto& P = zelkScene(state).camera.projection;
    const cv::Matx33d K(P[0][0], P[0][1], P[0][2], P[1][0], P[1][1], P[1][2], P[2][0], P[2][1], P[2][2]);
    const double h = MARKER_SQUARE / 2;
    const std::vector<cv::Point3d> model = {{-h, h, 0}, {h, h, 0}, {h, -h, 0}, {-h, -h, 0}};
    size_t i = 0;
    for (auto _ : state) {
        const zelk::MarkerRecord& marker = markers[i++ % markers.size()].record;
        std::vector<cv::Point2d> image;
        for (int j = 0; j < 4; j++) {
            const double* c = marker.corners[(4 - marker.direction + j) % 4];
            image.emplace_back(c[0], c[1]);
        }
        cv::Vec3d rvec, tvec;
        cv::solvePnP(model, image, K, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_IPPE_SQUARE);
        benchmark::DoNotOptimize(tvec);
    }
}
BENCHMARK(BM_SquareSolverPose)->Apply(sceneArgs);
#endif

}  // namespace
