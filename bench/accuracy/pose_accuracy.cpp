// Pose accuracy against the renderer's truth: our default and precise modes beside OpenCV's
// ArUco (sub-pixel corners) and AprilTag 3 (decimate 1), both with OpenCV's square solver
// (IPPE) on their corners, on the same poses and frames. Prints tables; no timing.
//
// Each system sees its own printed markers at the same poses: one marker per 640 x 480 frame,
// 30-300 px wide, tilted 0-70 degrees, under five conditions and through a lens without and
// with a radial term. Peers' corners go through our lens model to ideal coordinates, so that
// every system's pose is solved on the same camera. Corners are matched to the true ones by
// the best cyclic order, so the figures measure geometry, not identification.
#include <apriltag/apriltag.h>
#include <apriltag/tag36h11.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <opencv2/aruco.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench/accuracy/board_accuracy.h"
#include "bench/accuracy/real_photos.h"
#include "bench/peers/grey_face.h"
#include "camera/camera_params.h"
#include "camera/distortion.h"
#include "detect/detector.h"
#include "platform/videocapture/render/synthetic_scene.h"
#include "pose/initial_rotation.h"
#include "pose/pose_optimisation.h"
#include "pose/pose_tracking.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/square_solver.h"

namespace {

constexpr double SQUARE = 80;  // every system's black square, scene units
constexpr int WIDTH = 640, HEIGHT = 480;
constexpr double PI = 3.141592653589793;
const double MODEL[4][2] = {{-40, 40}, {40, 40}, {40, -40}, {-40, -40}};

struct Condition {
    const char* name;
    double noise, blur, gradient, background;
};
const Condition CONDITIONS[] = {{"clean", 0, 0, 0, 200},
                                {"noise", 4, 0, 0, 200},
                                {"blurred", 1, 1.2, 0, 200},
                                {"gradient", 2, 0.5, 0.6, 200},
                                {"low contrast", 2, 0.5, 0, 90}};

// One system's result on one marker: its corners in ideal coordinates and its pose.
struct Estimate {
    bool found = false, posed = false;
    double corners[4][2];
    double pose[3][4];
};

struct Sample {
    double cornerError, rotation, translation, depth;
    bool mirrored, blurred, clean;
    double tilt, size;
};

zelk::CameraParams camera(double radial) {
    zelk::CameraParams c{};
    c.imageWidth = WIDTH;
    c.imageHeight = HEIGHT;
    c.projection[0][0] = c.projection[1][1] = 700;
    c.projection[0][2] = c.distortion[0] = 320;
    c.projection[1][2] = c.distortion[1] = 240;
    c.projection[2][2] = 1;
    c.distortion[2] = radial;
    c.distortion[3] = 1;
    return c;
}

// A random pose: the square 30-300 px wide, tilted `tilt` degrees about a random axis in the
// image plane, turned at random in its plane, its centre well inside the frame.
void randomPose(std::mt19937& random, double tilt, double pose[3][4], double* size) {
    std::uniform_real_distribution<double> unit(0, 1);
    *size = 30 * std::pow(10.0, unit(random));
    const double distance = 700 * SQUARE / *size;
    const double axis = 2 * PI * unit(random), spin = 2 * PI * unit(random), t = tilt * PI / 180;
    const double margin = 0.75 * *size + 4;
    const double u = margin + (WIDTH - 2 * margin) * unit(random), v = margin + (HEIGHT - 2 * margin) * unit(random);
    // R = lean(axis, t) . facing . spin about z
    const double cs = std::cos(spin), ss = std::sin(spin);
    const double base[3][3] = {{cs, -ss, 0}, {-ss, -cs, 0}, {0, 0, -1}};
    cv::Matx33d lean;
    cv::Rodrigues(cv::Vec3d(std::cos(axis) * t, std::sin(axis) * t, 0), lean);
    for (int r = 0; r < 3; r++)
        for (int q = 0; q < 3; q++)
            pose[r][q] = lean(r, 0) * base[0][q] + lean(r, 1) * base[1][q] + lean(r, 2) * base[2][q];
    pose[0][3] = (u - 320) / 700 * distance;
    pose[1][3] = (v - 240) / 700 * distance;
    pose[2][3] = distance;
}

void projectSquare(const zelk::CameraParams& cam, const double pose[3][4], double corners[4][2]) {
    const auto& P = cam.projection;
    for (int i = 0; i < 4; i++) {
        double X[3], y[3];
        for (int r = 0; r < 3; r++) X[r] = pose[r][0] * MODEL[i][0] + pose[r][1] * MODEL[i][1] + pose[r][3];
        for (int r = 0; r < 3; r++) y[r] = P[r][0] * X[0] + P[r][1] * X[1] + P[r][2] * X[2] + P[r][3];
        corners[i][0] = y[0] / y[2];
        corners[i][1] = y[1] / y[2];
    }
}

double rotationDegrees(const double a[3][4], const double b[3][4]) {
    return zelk::rotationAngleBetween(a, b) * 180 / PI;
}

// Reorders found corners (either winding, any start) to match the true ones best. False when
// the best match is farther than a quarter of the side: not this marker.
bool matchCorners(double corners[4][2], const double truth[4][2]) {
    double best = 1e300, chosen[4][2];
    for (int winding = 0; winding < 2; winding++)
        for (int shift = 0; shift < 4; shift++) {
            double error = 0;
            int order[4];
            for (int i = 0; i < 4; i++) order[i] = winding ? (shift - i + 8) % 4 : (shift + i) % 4;
            for (int i = 0; i < 4; i++)
                error += std::hypot(corners[order[i]][0] - truth[i][0], corners[order[i]][1] - truth[i][1]);
            if (error < best) {
                best = error;
                for (int i = 0; i < 4; i++) chosen[i][0] = corners[order[i]][0], chosen[i][1] = corners[order[i]][1];
            }
        }
    std::copy(&chosen[0][0], &chosen[0][0] + 8, &corners[0][0]);
    const double side = std::hypot(truth[1][0] - truth[0][0], truth[1][1] - truth[0][1]);
    return best / 4 < 0.25 * side;
}

// Observed corners of a peer to ideal coordinates through our lens model.
void toIdeal(const zelk::CameraParams& cam, double corners[4][2]) {
    for (int i = 0; i < 4; i++)
        zelk::observedToIdeal(cam.distortion, corners[i][0], corners[i][1], &corners[i][0], &corners[i][1]);
}

// ---- the systems ----

struct System {
    std::string name;
    std::vector<zelk::synth::MarkerFace> faces;  // face 0 is rendered
    double designWidth = SQUARE;
    // Detects in the BGRA frame and estimates; truth corners (ideal) for matching.
    std::function<Estimate(const std::vector<unsigned char>&, const zelk::CameraParams&, int threshold,
                           const double truth[4][2])>
        run;
};

cv::Mat grey(const std::vector<unsigned char>& bgra) {
    cv::Mat colour(HEIGHT, WIDTH, CV_8UC4, const_cast<unsigned char*>(bgra.data())), g;
    cv::cvtColor(colour, g, cv::COLOR_BGRA2GRAY);
    return g;
}

// Our detection and pose query, in the detector's mode, each frame on its own.
Estimate zelkEstimate(zelk::Detector* detector, const std::vector<unsigned char>& pixels, int threshold,
                      const double truth[4][2]) {
    Estimate e;
    zelk::resetDetector(detector);
    const zelk::FrameImage frame{pixels.data(), WIDTH, HEIGHT, WIDTH * 4};
    if (zelk::detectMarkers(detector, &frame, threshold) != 0) return e;
    for (int32_t i = 0; i < detector->markers.count && !e.found; i++) {
        const zelk::MarkerRecord& marker = detector->markers.records[i];
        if (marker.patternId != 0 || marker.direction < 0) continue;
        for (int j = 0; j < 4; j++) {
            const double* c = marker.corners[zelk::patternCornerIndex(marker.direction, j)];
            e.corners[j][0] = c[0], e.corners[j][1] = c[1];
        }
        if (!matchCorners(e.corners, truth)) continue;
        e.found = true;
        const double centre[2] = {0, 0};
        e.posed = zelk::markerPose(&detector->poseTracks, &detector->poseSettings, &detector->camera, &marker,
                                   detector->frameCount, centre, SQUARE, e.pose) >= 0;
    }
    return e;
}

// A detector of our markers through the camera, in default or precise mode.
std::shared_ptr<zelk::Detector> zelkDetector(const zelk::CameraParams& cam, bool precise) {
    std::shared_ptr<zelk::Detector> detector = std::make_unique<zelk::Detector>();
    detector->camera = cam;
    detector->poseSettings.precise = precise;
    const std::string file = scratchPath("accuracy_0.patt");
    writePatternFile(file, makePatternPicture(0));
    if (zelk::loadPattern(&detector->patterns, file.c_str()) != 0) {
        std::fprintf(stderr, "cannot load the pattern %s\n", file.c_str());
        std::exit(1);
    }
    return detector;
}

const cv::Ptr<cv::aruco::Dictionary>& arucoDictionary() {
    static const cv::Ptr<cv::aruco::Dictionary> d = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50);
    return d;
}

Estimate arucoEstimate(const std::vector<unsigned char>& frame, const zelk::CameraParams& cam, int,
                       const double truth[4][2]) {
    static const cv::Ptr<cv::aruco::DetectorParameters> parameters = [] {
        auto p = cv::aruco::DetectorParameters::create();
        p->cornerRefinementMethod = cv::aruco::CORNER_REFINE_SUBPIX;
        return p;
    }();
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    cv::aruco::detectMarkers(grey(frame), arucoDictionary(), corners, ids, parameters);
    Estimate e;
    for (size_t i = 0; i < ids.size() && !e.found; i++) {
        if (ids[i] != 0) continue;
        for (int j = 0; j < 4; j++) e.corners[j][0] = corners[i][j].x, e.corners[j][1] = corners[i][j].y;
        toIdeal(cam, e.corners);
        if (!matchCorners(e.corners, truth)) continue;
        e.found = true;
        e.posed = squareSolverPose(e.corners, cam.projection, SQUARE, e.pose);
    }
    return e;
}

apriltag_family_t* tagFamily() {
    static apriltag_family_t* family = tag36h11_create();
    return family;
}

Estimate aprilTagEstimate(const std::vector<unsigned char>& frame, const zelk::CameraParams& cam, int,
                          const double truth[4][2]) {
    static apriltag_detector_t* detector = [] {
        apriltag_detector_t* d = apriltag_detector_create();
        apriltag_detector_add_family(d, tagFamily());
        d->nthreads = 1;
        d->quad_decimate = 1;
        return d;
    }();
    cv::Mat g = grey(frame);
    image_u8_t image{g.cols, g.rows, int32_t(g.step), g.data};
    zarray_t* detections = apriltag_detector_detect(detector, &image);
    Estimate e;
    for (int i = 0; i < zarray_size(detections) && !e.found; i++) {
        apriltag_detection_t* d;
        zarray_get(detections, i, &d);
        if (d->id != 0) continue;
        // The library puts pixel centres at half-integer coordinates.
        for (int j = 0; j < 4; j++) e.corners[j][0] = d->p[j][0] - 0.5, e.corners[j][1] = d->p[j][1] - 0.5;
        toIdeal(cam, e.corners);
        if (!matchCorners(e.corners, truth)) continue;
        e.found = true;
        e.posed = squareSolverPose(e.corners, cam.projection, SQUARE, e.pose);
    }
    apriltag_detections_destroy(detections);
    return e;
}

std::vector<System> systems(const zelk::CameraParams& cam) {
    std::vector<System> list(4);
    const zelk::synth::MarkerFace ours = zelk::synth::patternFace(makePatternPicture(0).value);
    for (bool precise : {false, true}) {
        std::shared_ptr<zelk::Detector> detector = zelkDetector(cam, precise);
        list[precise] = {
            precise ? "Zelk precise" : "Zelk default", {ours}, SQUARE, [detector](auto& f, auto&, int t, auto truth) {
                return zelkEstimate(detector.get(), f, t, truth);
            }};
    }
    cv::Mat aruco;
    cv::aruco::drawMarker(arucoDictionary(), 0, 6, aruco, 1);
    list[2] = {"ArUco subpix + IPPE", {greyFace(aruco)}, SQUARE, arucoEstimate};
    image_u8_t* tag = apriltag_to_image(tagFamily(), 0);
    list[3] = {"AprilTag 3 + IPPE",
               {greyFace(cv::Mat(tag->height, tag->width, CV_8UC1, tag->buf, tag->stride))},
               SQUARE * tagFamily()->total_width / tagFamily()->width_at_border,
               aprilTagEstimate};
    std::free(tag->buf);  // the library does not export image_u8_destroy
    std::free(tag);
    return list;
}

// ---- figures ----

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const double position = p * (v.size() - 1);
    const size_t low = size_t(position);
    const size_t high = std::min(low + 1, v.size() - 1);
    return v[low] + (position - low) * (v[high] - v[low]);
}

struct Tally {
    int views = 0, found = 0, mirrored = 0;
    std::vector<Sample> samples;
    std::vector<double> pick(const std::function<bool(const Sample&)>& keep, double Sample::*field) const {
        std::vector<double> out;
        for (const Sample& s : samples)
            if (keep(s)) out.push_back(s.*field);
        return out;
    }
};

// Whether the estimated marker normal lies nearer the true normal mirrored about the line of
// sight than the true normal itself (the other planar solution), by more than 5 degrees.
bool mirrored(const double estimate[3][4], const double truth[3][4]) {
    double sight[3] = {truth[0][3], truth[1][3], truth[2][3]};
    const double length = std::sqrt(sight[0] * sight[0] + sight[1] * sight[1] + sight[2] * sight[2]);
    double n[3], flipped[3], e[3];
    double along = 0;
    for (int r = 0; r < 3; r++) sight[r] /= length, n[r] = truth[r][2], e[r] = estimate[r][2], along += n[r] * sight[r];
    for (int r = 0; r < 3; r++) flipped[r] = 2 * along * sight[r] - n[r];
    const auto angle = [](const double* a, const double* b) {
        return std::acos(std::fmax(-1.0, std::fmin(1.0, a[0] * b[0] + a[1] * b[1] + a[2] * b[2]))) * 180 / PI;
    };
    return angle(e, n) > 5 && angle(e, flipped) < angle(e, n);
}

void printHeader(const char* title) {
    std::printf("\n%s\n", title);
    std::printf("%-22s %7s %7s %7s %7s %7s %7s %7s %7s %8s %6s\n", "system", "found", "corner", "clean", "blurred",
                "rot", "rot95", "trans%", "depth%", "mirrored", "views");
}

void printRow(const std::string& name, const Tally& t) {
    const auto all = [](const Sample&) { return true; };
    std::printf("%-22s %6.1f%% %7.3f %7.3f %7.3f %7.3f %7.3f %7.3f %+7.3f %8d %6d\n", name.c_str(),
                t.views ? 100.0 * t.found / t.views : 0.0, percentile(t.pick(all, &Sample::cornerError), 0.5),
                percentile(t.pick([](const Sample& s) { return s.clean; }, &Sample::cornerError), 0.5),
                percentile(t.pick([](const Sample& s) { return s.blurred; }, &Sample::cornerError), 0.5),
                percentile(t.pick(all, &Sample::rotation), 0.5), percentile(t.pick(all, &Sample::rotation), 0.95),
                percentile(t.pick(all, &Sample::translation), 0.5), percentile(t.pick(all, &Sample::depth), 0.5),
                t.mirrored, t.views);
}

struct Band {
    const char* name;
    double low, high;
};

void printBands(const char* title, const std::vector<System>& list, const std::vector<std::vector<Tally>>& tallies,
                const std::vector<Band>& bands, double Sample::*key) {
    std::printf("\n%s: rotation median / 95th pct (deg), translation median (%%)\n%-22s", title, "system");
    for (const Band& b : bands) std::printf(" %22s", b.name);
    std::printf("\n");
    for (size_t s = 0; s < list.size(); s++) {
        std::printf("%-22s", list[s].name.c_str());
        for (const Band& b : bands) {
            std::vector<double> rot, trans;
            for (const Tally& t : tallies[s])
                for (const Sample& x : t.samples)
                    if (x.*key >= b.low && x.*key < b.high) rot.push_back(x.rotation), trans.push_back(x.translation);
            char cell[64];
            std::snprintf(cell, sizeof cell, "%.3f/%.2f %.3f", percentile(rot, 0.5), percentile(rot, 0.95),
                          percentile(trans, 0.5));
            std::printf(" %22s", cell);
        }
        std::printf("\n");
    }
}

void measure(const char* lensName, double radial, int viewsPerCondition, unsigned seed) {
    const zelk::CameraParams cam = camera(radial);
    std::vector<System> list = systems(cam);
    std::vector<std::vector<Tally>> tallies(list.size(), std::vector<Tally>(std::size(CONDITIONS)));
    zelk::synth::Renderer renderer(cam);
    std::vector<unsigned char> frame(size_t(WIDTH) * HEIGHT * 4);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> tilts(0, 70);
    for (size_t c = 0; c < std::size(CONDITIONS); c++) {
        const Condition& condition = CONDITIONS[c];
        zelk::synth::RenderOptions options;
        options.noise = condition.noise;
        options.blur = condition.blur;
        options.gradient = condition.gradient;
        options.background = condition.background;
        const int threshold = int(condition.background * (1 - condition.gradient / 2) / 2);
        for (int v = 0; v < viewsPerCondition; v++) {
            double truth[3][4], size, corners[4][2];
            const double tilt = tilts(random);
            randomPose(random, tilt, truth, &size);
            projectSquare(cam, truth, corners);
            for (size_t s = 0; s < list.size(); s++) {
                std::vector<zelk::synth::SceneMarker> placed(1);
                placed[0].face = &list[s].faces[0];
                placed[0].width = list[s].designWidth;
                std::copy(&truth[0][0], &truth[0][0] + 12, &placed[0].pose[0][0]);
                renderer.render(placed, options, uint64_t(v + 1), frame.data());
                Tally& t = tallies[s][c];
                t.views++;
                const Estimate e = list[s].run(frame, cam, threshold, corners);
                if (!e.found || !e.posed) continue;
                t.found++;
                Sample x{};
                for (int i = 0; i < 4; i++)
                    x.cornerError += std::hypot(e.corners[i][0] - corners[i][0], e.corners[i][1] - corners[i][1]) / 4;
                x.rotation = rotationDegrees(e.pose, truth);
                double d2 = 0, n2 = 0;
                for (int r = 0; r < 3; r++)
                    d2 += std::pow(e.pose[r][3] - truth[r][3], 2), n2 += truth[r][3] * truth[r][3];
                x.translation = 100 * std::sqrt(d2 / n2);
                x.depth = 100 * (e.pose[2][3] - truth[2][3]) / truth[2][3];
                x.mirrored = mirrored(e.pose, truth);
                t.mirrored += x.mirrored;
                x.clean = c == 0;
                x.blurred = c == 2;
                x.tilt = tilt;
                x.size = size;
                t.samples.push_back(x);
            }
        }
    }
    char title[160];
    std::snprintf(title, sizeof title,
                  "%s: %d views per condition (clean, noise, blurred, gradient, low contrast), corners px median",
                  lensName, viewsPerCondition);
    printHeader(title);
    for (size_t s = 0; s < list.size(); s++) {
        Tally all;
        for (const Tally& t : tallies[s]) {
            all.views += t.views, all.found += t.found, all.mirrored += t.mirrored;
            all.samples.insert(all.samples.end(), t.samples.begin(), t.samples.end());
        }
        printRow(list[s].name, all);
    }
    std::printf("\n%s, by condition\n", lensName);
    for (size_t c = 0; c < std::size(CONDITIONS); c++)
        for (size_t s = 0; s < list.size(); s++)
            printRow(std::string(CONDITIONS[c].name) + ": " + list[s].name.substr(0, 12), tallies[s][c]);
    printBands((std::string(lensName) + ", by tilt").c_str(), list, tallies,
               {{"0-10", 0, 10}, {"10-30", 10, 30}, {"30-50", 30, 50}, {"50-70", 50, 70.1}}, &Sample::tilt);
    printBands((std::string(lensName) + ", by width (px)").c_str(), list, tallies,
               {{"30-60", 30, 60}, {"60-120", 60, 120}, {"120-300", 120, 301}}, &Sample::size);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "boards") {
        measureBoards(argc > 2 ? std::max(1, std::atoi(argv[2])) : 100);
        return 0;
    }
    const int views = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    measure("Distortion-free lens", 0, views, 7);
    measure("Radial lens (factor 30)", 30, views, 7);
    measureRealPhotos();
    measureBoards(std::max(1, views / 4));
    return 0;
}
