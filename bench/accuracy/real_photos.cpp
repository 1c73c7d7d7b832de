#include "bench/accuracy/real_photos.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "camera/camera_params.h"
#include "camera/distortion.h"
#include "detect/detector.h"
#include "detect/subpixel_edges.h"
#include "pose/initial_rotation.h"
#include "pose/pose_estimation.h"
#include "pose/pose_optimisation.h"
#include "tests/support/square_solver.h"

namespace {

namespace fs = std::filesystem;
constexpr double PI = 3.141592653589793;
constexpr int TAGS = 20;
constexpr double MIN_WIDTH = 40;
// Dim photos: each tag is taken at the first of these thresholds that finds it.
constexpr int THRESHOLDS[] = {50, 70, 90, 110, 130};
const double MODEL[4][2] = {{-40, 40}, {40, 40}, {40, -40}, {-40, -40}};

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool referencePose(const zelk::CameraParams& camera, const double observed[4][2], double pose[3][4]) {
    double ideal[4][2];
    for (int i = 0; i < 4; i++)
        zelk::observedToIdeal(camera.distortion, observed[i][0], observed[i][1], &ideal[i][0], &ideal[i][1]);
    return squareSolverPose(ideal, camera.projection, 80, pose);
}

// Pattern-ordered ideal corners of marker, turned to the cyclic order nearest the reference.
void orderedCorners(const zelk::MarkerRecord& marker, const zelk::CameraParams& camera, const double reference[4][2],
                    double corners[4][2]) {
    double ideal[4][2];
    for (int i = 0; i < 4; i++)
        zelk::observedToIdeal(camera.distortion, reference[i][0], reference[i][1], &ideal[i][0], &ideal[i][1]);
    double best = 1e300;
    for (int shift = 0; shift < 4; shift++) {
        double error = 0;
        for (int j = 0; j < 4; j++) {
            const double* c = marker.corners[zelk::patternCornerIndex(marker.direction + shift, j)];
            error += std::hypot(c[0] - ideal[j][0], c[1] - ideal[j][1]);
        }
        if (error < best) {
            best = error;
            for (int j = 0; j < 4; j++) {
                const double* c = marker.corners[zelk::patternCornerIndex(marker.direction + shift, j)];
                corners[j][0] = c[0], corners[j][1] = c[1];
            }
        }
    }
}

}  // namespace

void measureRealPhotos() {
    const fs::path folder = fs::path(ZELK_SOURCE_DIR) / ".." / "shared" / "real-photos";
    const fs::path mapping = folder / "mapping";
    std::ifstream referenceFile(mapping / "reference.json");
    if (!referenceFile) {
        std::printf("\nReal photos: %s is absent, skipped\n", mapping.string().c_str());
        return;
    }
    const nlohmann::json reference = nlohmann::json::parse(referenceFile);
    auto detector = std::make_unique<zelk::Detector>();
    zelk::CameraParams& camera = detector->camera;
    if (zelk::loadCameraParams((mapping / "camera_816x612.dat").string().c_str(), 1, &camera) != 0) {
        std::printf("\nReal photos: cannot read the camera file, skipped\n");
        return;
    }
    // The patterns get ids of their own; patternOf[tag] is the one of that tag.
    int patternOf[TAGS];
    for (int id = 0; id < TAGS; id++)
        patternOf[id] = zelk::loadPattern(
            &detector->patterns, (folder / "patterns" / "tag36h11" / (std::to_string(id) + ".patt")).string().c_str());

    std::vector<double> defaultDifference, preciseDifference;
    int wide = 0;
    for (const auto& [name, photo] : reference["photos"].items()) {
        cv::Mat picture = cv::imread((mapping / "photos" / name).string(), cv::IMREAD_COLOR), bgra;
        if (picture.empty() || picture.cols != camera.imageWidth || picture.rows != camera.imageHeight) continue;
        cv::cvtColor(picture, bgra, cv::COLOR_BGR2BGRA);
        for (const auto& tag : photo["markers"]) {
            const int id = tag["id"];
            double observed[4][2];
            for (int i = 0; i < 4; i++) observed[i][0] = tag["corners"][i][0], observed[i][1] = tag["corners"][i][1];
            double width = 0;
            for (int i = 0; i < 4; i++)
                width +=
                    std::hypot(observed[(i + 1) % 4][0] - observed[i][0], observed[(i + 1) % 4][1] - observed[i][1]) /
                    4;
            double truth[3][4];
            if (id < 0 || id >= TAGS || patternOf[id] < 0 || width < MIN_WIDTH ||
                !referencePose(camera, observed, truth))
                continue;
            wide++;
            bool found = false;
            for (int threshold : THRESHOLDS) {
                // Each photo and threshold on its own: no history, no previous pose.
                zelk::resetDetector(detector.get());
                const zelk::FrameImage frame{bgra.data, bgra.cols, bgra.rows, int32_t(bgra.step)};
                zelk::detectMarkers(detector.get(), &frame, threshold);
                for (int32_t m = 0; m < detector->markers.count && !found; m++) {
                    zelk::MarkerRecord marker = detector->markers.records[m];
                    if (marker.patternId != patternOf[id] || marker.direction < 0) continue;
                    const double centre[2] = {0, 0};
                    double pose[3][4], corners[4][2];
                    if (zelk::estimateMarkerPose(&marker, &camera, centre, 80, pose) >= 0)
                        defaultDifference.push_back(zelk::rotationAngleBetween(pose, truth) * 180 / PI);
                    zelk::refineEdgeLines(&frame, camera.distortion, marker.edgeLines, marker.corners);
                    orderedCorners(marker, camera, observed, corners);
                    if (zelk::fitPlanarPose(MODEL, corners, 4, camera.projection, nullptr, pose) >= 0)
                        preciseDifference.push_back(zelk::rotationAngleBetween(pose, truth) * 180 / PI);
                    found = true;
                }
                if (found) break;
            }
        }
    }
    std::printf(
        "\nReal photos (mapping, tags >= %.0f px wide): rotation from the square solver on the reference "
        "corners, median (deg)\n",
        MIN_WIDTH);
    std::printf("%-22s %8s %8s %8s\n", "system", "found", "median", "95th");
    const auto row = [&](const char* system, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("%-22s %4zu/%-3d %8.3f %8.3f\n", system, v.size(), wide, median(v),
                    v.empty() ? NAN : v[size_t(0.95 * (v.size() - 1))]);
    };
    row("Zelk default", defaultDifference);
    row("Zelk precise", preciseDifference);
}
