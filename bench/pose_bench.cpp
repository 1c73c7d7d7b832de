// Pose estimation per marker, alone and as the host's query converts it.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "camera/camera_params.h"
#include "plugin/marker_query.h"
#include "pose/pose_estimation.h"
#include "tests/support/pose_fixtures.h"

#ifdef ZELK_WITH_OPENCV
#include <opencv2/calib3d.hpp>
#endif

namespace {

// Markers over the working range (distance 300-1500, tilt 0-60, any spin), their corners
// exact or moved by Gaussian noise of the given deviation in pixels.
std::vector<zelk::MarkerRecord> markerSet(double noise) {
    static zelk::CameraParams camera = pinholeCamera();
    zelk::setCurrentCamera(&camera);
    std::mt19937 random(17);
    std::uniform_real_distribution<double> distance(300, 1500), tilt(0, 60), angle(-180, 180);
    std::normal_distribution<double> jitter(0, noise > 0 ? noise : 1);
    std::vector<zelk::MarkerRecord> markers;
    for (int i = 0; i < 64; i++) {
        double pose[3][4];
        viewPose(0, 0, distance(random), tilt(random), angle(random), angle(random), pose);
        zelk::MarkerRecord marker = markerFromPose(camera.projection, pose, 80, i % 4);
        if (noise > 0) {
            for (auto& corner : marker.corners)
                for (double& v : corner) v += jitter(random);
            for (int side = 0; side < 4; side++) {
                const double* p = marker.corners[side];
                const double* q = marker.corners[(side + 1) % 4];
                double a = q[1] - p[1], b = p[0] - q[0];
                const double length = std::sqrt(a * a + b * b);
                marker.edgeLines[side][0] = a / length;
                marker.edgeLines[side][1] = b / length;
                marker.edgeLines[side][2] = -(a * p[0] + b * p[1]) / length;
            }
        }
        markers.push_back(marker);
    }
    return markers;
}

void EstimateMarkerPose(benchmark::State& state) {
    const std::vector<zelk::MarkerRecord> markers = markerSet(state.range(0) / 10.0);
    const double centre[2] = {0, 0};
    size_t i = 0;
    for (auto _ : state) {
        double pose[3][4];
        benchmark::DoNotOptimize(zelk::estimateMarkerPose(&markers[i++ % markers.size()], centre, 80, pose));
        benchmark::DoNotOptimize(pose);
    }
}
BENCHMARK(EstimateMarkerPose)->Arg(0)->Arg(5)->ArgName("noise_tenths_px");

// The query's work after the marker is chosen: estimate, invert, convert.
void MarkerQueryPose(benchmark::State& state) {
    const std::vector<zelk::MarkerRecord> markers = markerSet(state.range(0) / 10.0);
    const double centre[2] = {0, 0};
    size_t i = 0;
    for (auto _ : state) {
        const zelk::MarkerRecord* marker = zelk::selectMarker(markers.data(), 1, markers[i % markers.size()].patternId);
        double pose[3][4];
        HostVector position;
        HostAngle angles;
        zelk::estimateMarkerPose(&markers[i++ % markers.size()], centre, zelk::MARKER_WIDTH, pose);
        zelk::invertPose(pose, pose);
        zelk::poseToHostRecords(pose, &position, &angles);
        benchmark::DoNotOptimize(marker);
        benchmark::DoNotOptimize(position);
        benchmark::DoNotOptimize(angles);
    }
}
BENCHMARK(MarkerQueryPose)->Arg(0)->Arg(5)->ArgName("noise_tenths_px");

#ifdef ZELK_WITH_OPENCV
// OpenCV's square-marker solver on the same corners, for scale.
void SquareSolverPose(benchmark::State& state) {
    const std::vector<zelk::MarkerRecord> markers = markerSet(state.range(0) / 10.0);
    const auto& P = zelk::currentCamera()->projection;
    const cv::Matx33d K(P[0][0], P[0][1], P[0][2], P[1][0], P[1][1], P[1][2], P[2][0], P[2][1], P[2][2]);
    const std::vector<cv::Point3d> model = {{-40, 40, 0}, {40, 40, 0}, {40, -40, 0}, {-40, -40, 0}};
    size_t i = 0;
    for (auto _ : state) {
        const zelk::MarkerRecord& marker = markers[i++ % markers.size()];
        std::vector<cv::Point2d> image;
        for (int j = 0; j < 4; j++) {
            const double* c = marker.corners[((4 - marker.direction + j) % 4 + 4) % 4];
            image.emplace_back(c[0], c[1]);
        }
        cv::Vec3d rvec, tvec;
        cv::solvePnP(model, image, K, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_IPPE_SQUARE);
        benchmark::DoNotOptimize(tvec);
    }
}
BENCHMARK(SquareSolverPose)->Arg(0)->Arg(5)->ArgName("noise_tenths_px");
#endif

}  // namespace
