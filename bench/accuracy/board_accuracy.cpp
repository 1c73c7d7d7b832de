// A board of six markers 50 wide (the tests' board), 500-1300 units away, tilted 0-60 degrees,
// turned at random, wholly inside a 640 x 480 frame through a pinhole camera (f = 700), with
// noise 2 and blur 0.6. Each view is rendered with all, three and one of the markers (the
// same hidden ones for every system): our markers for us, ArUco 4x4 markers (ids 0-5, same
// places) for OpenCV's detectMarkers (sub-pixel corners) and estimatePoseBoard. OpenCV's
// solvePnP (iterative) on our own precise corners checks our least-squares fit on the same
// points. "single" is each visible marker's own pose (in the same mode) against its own truth.
#include "bench/accuracy/board_accuracy.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <opencv2/aruco.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench/peers/grey_face.h"
#include "detect/detector.h"
#include "pose/board_pose.h"
#include "pose/initial_rotation.h"
#include "pose/pose_optimisation.h"
#include "pose/pose_tracking.h"
#include "tests/support/board_scene.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/pose_fixtures.h"

namespace {

constexpr int MARKERS = 6;
constexpr int WIDTH = 640, HEIGHT = 480;
constexpr double PI = 3.141592653589793;
const int IN_VIEW[] = {6, 3, 1};

struct Errors {
    std::vector<double> rotation, translation;  // degrees, % of the distance
    int tries = 0, posed = 0;
    void add(const double pose[3][4], const double truth[3][4]) {
        posed++;
        rotation.push_back(zelk::rotationAngleBetween(pose, truth) * 180 / PI);
        const double d = std::hypot(pose[0][3] - truth[0][3], pose[1][3] - truth[1][3], pose[2][3] - truth[2][3]);
        translation.push_back(100 * d / std::hypot(truth[0][3], truth[1][3], truth[2][3]));
    }
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1) + 0.5)];
}

// A random board pose whose markers lie at least 10 px inside the frame.
void randomBoardPose(std::mt19937& random, const zelk::BoardFile& board, const double P[3][4], double pose[3][4]) {
    std::uniform_real_distribution<double> unit(0, 1);
    for (;;) {
        const double distance = 500 + 800 * unit(random);
        viewPose((unit(random) - 0.5) * distance * 0.3, (unit(random) - 0.5) * distance * 0.2, distance,
                 60 * unit(random), 360 * unit(random), 360 * unit(random), pose);
        bool inside = true;
        for (const zelk::BoardMarker& marker : board.markers) {
            double corners[4][2];
            zelk::boardMarkerCorners(marker, corners);
            for (const auto& corner : corners) {
                double image[2];
                projectMarkerPoint(P, pose, corner[0], corner[1], image);
                inside &= image[0] > 10 && image[0] < WIDTH - 10 && image[1] > 10 && image[1] < HEIGHT - 10;
            }
        }
        if (inside) return;
    }
}

void fromVectors(const cv::Vec3d& rvec, const cv::Vec3d& tvec, double pose[3][4]) {
    cv::Matx33d R;
    cv::Rodrigues(rvec, R);
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) pose[r][c] = R(r, c);
        pose[r][3] = tvec[r];
    }
}

struct Ours {
    std::unique_ptr<zelk::Detector> detector = std::make_unique<zelk::Detector>();
    zelk::BoardModel model;
};

// Detects the frame; seen[i] is the board's marker i, or null.
void detect(Ours& ours, const std::vector<unsigned char>& frame, const zelk::MarkerRecord* seen[MARKERS]) {
    zelk::resetDetector(ours.detector.get());
    const zelk::FrameImage image{frame.data(), WIDTH, HEIGHT, WIDTH * 4};
    for (int i = 0; i < MARKERS; i++) seen[i] = nullptr;
    if (zelk::detectMarkers(ours.detector.get(), &image, 100) != 0) return;
    for (int32_t m = 0; m < ours.detector->markers.count; m++) {
        const zelk::MarkerRecord& record = ours.detector->markers.records[m];
        if (record.patternId >= 0 && record.patternId < MARKERS && record.direction >= 0)
            seen[record.patternId] = &record;
    }
}

void printRow(const char* name, const Errors* byView) {
    std::printf("%-30s", name);
    for (int v = 0; v < 3; v++)
        std::printf("  %5.1f%% %6.3f %6.2f %6.3f", byView[v].tries ? 100.0 * byView[v].posed / byView[v].tries : 0.0,
                    percentile(byView[v].rotation, 0.5), percentile(byView[v].rotation, 0.95),
                    percentile(byView[v].translation, 0.5));
    std::printf("\n");
}

}  // namespace

void measureBoards(int views) {
    const zelk::BoardFile board = testBoard(MARKERS);
    const zelk::CameraParams camera = pinholeCamera();
    const std::string boardFile = writeBoardFiles(board);
    Ours plain, precise;
    precise.detector->poseSettings.precise = true;
    int32_t ids[MARKERS];
    for (Ours* ours : {&plain, &precise}) {
        ours->detector->camera = camera;
        for (int i = 0; i < MARKERS; i++)
            ids[i] = zelk::loadPattern(&ours->detector->patterns,
                                       zelk::boardPatternPath(boardFile.c_str(), board.markers[i].pattern).c_str());
        zelk::makeBoardModel(board, ids, &ours->model);
    }
    // The same board in ArUco markers.
    const cv::Ptr<cv::aruco::Dictionary> dictionary = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50);
    std::vector<zelk::synth::MarkerFace> arucoFaces;
    std::vector<std::vector<cv::Point3f>> objectPoints;
    std::vector<int> arucoIds;
    for (int i = 0; i < MARKERS; i++) {
        cv::Mat image;
        cv::aruco::drawMarker(dictionary, i, 6, image, 1);
        arucoFaces.push_back(greyFace(image));
        double corners[4][2];
        zelk::boardMarkerCorners(board.markers[i], corners);
        objectPoints.push_back({});
        for (const auto& c : corners) objectPoints.back().emplace_back(float(c[0]), float(c[1]), 0.0f);
        arucoIds.push_back(i);
    }
    const cv::Ptr<cv::aruco::Board> arucoBoard = cv::aruco::Board::create(objectPoints, dictionary, arucoIds);
    const cv::Ptr<cv::aruco::DetectorParameters> parameters = cv::aruco::DetectorParameters::create();
    parameters->cornerRefinementMethod = cv::aruco::CORNER_REFINE_SUBPIX;
    const cv::Matx33d K(700, 0, 320, 0, 700, 240, 0, 0, 1);

    enum { BOARD_DEFAULT, SINGLE_DEFAULT, BOARD_PRECISE, SINGLE, PNP, ARUCO, SYSTEMS };
    Errors errors[SYSTEMS][3];
    int beatBest[3] = {}, beatMedian[3] = {}, compared[3] = {};
    zelk::synth::RenderOptions options;
    options.noise = 2;
    options.blur = 0.6;
    zelk::synth::Renderer renderer(camera);
    std::mt19937 random(11);
    std::vector<unsigned char> frame(size_t(WIDTH) * HEIGHT * 4);
    for (int view = 0; view < views; view++) {
        double truth[3][4];
        randomBoardPose(random, board, camera.projection, truth);
        for (int v = 0; v < 3; v++) {
            std::vector<int> order = {0, 1, 2, 3, 4, 5};
            std::shuffle(order.begin(), order.end(), random);
            std::vector<bool> shown(MARKERS, false);
            for (int k = 0; k < IN_VIEW[v]; k++) shown[size_t(order[size_t(k)])] = true;
            options.seed = uint64_t(view * 3 + v + 1);
            for (int s = 0; s < SYSTEMS; s++) errors[s][v].tries += s == SINGLE || s == SINGLE_DEFAULT ? IN_VIEW[v] : 1;

            // Ours: the board rendered in our markers, without the hidden ones.
            unsigned hidden = 0;
            for (int i = 0; i < MARKERS; i++) hidden |= shown[size_t(i)] ? 0u : 1u << i;
            frame = renderBoard(camera, board, truth, hidden, options);
            std::vector<double> singles;  // this frame's single-marker rotation errors
            for (Ours* ours : {&plain, &precise}) {
                const zelk::MarkerRecord* seen[MARKERS];
                detect(*ours, frame, seen);
                double pose[3][4];
                const zelk::BoardPoseResult fit = zelk::estimateBoardPose(&ours->model, seen, &camera, nullptr, pose);
                if (fit.fitError < 0) continue;
                errors[ours == &plain ? BOARD_DEFAULT : BOARD_PRECISE][v].add(pose, truth);
                // Each marker alone (in the detector's mode), and solvePnP on the same corners as the precise board's fit.
                const int single = ours == &plain ? SINGLE_DEFAULT : SINGLE;
                std::vector<cv::Point3d> model;
                std::vector<cv::Point2d> image;
                for (int i = 0; i < MARKERS; i++) {
                    if (!seen[i]) continue;
                    const double centre[2] = {0, 0};
                    double alone[3][4], markerTruth[3][4];
                    boardMarkerPose(board.markers[size_t(i)], truth, markerTruth);
                    if (zelk::markerPose(nullptr, &ours->detector->poseSettings, &camera, seen[i], 1, centre,
                                         board.markers[size_t(i)].width, alone) >= 0) {
                        errors[single][v].add(alone, markerTruth);
                        if (single == SINGLE) singles.push_back(errors[SINGLE][v].rotation.back());
                    }
                    for (int j = 0; j < 4; j++) {
                        const double* c = seen[i]->corners[zelk::patternCornerIndex(seen[i]->direction, j)];
                        model.emplace_back(ours->model.corners[i][j][0], ours->model.corners[i][j][1], 0);
                        image.emplace_back(c[0], c[1]);
                    }
                }
                if (ours == &plain) continue;
                cv::Vec3d rvec, tvec;
                if (model.size() >= 4 && cv::solvePnP(model, image, K, cv::noArray(), rvec, tvec, false,
                                                      model.size() == 4 ? cv::SOLVEPNP_IPPE : cv::SOLVEPNP_ITERATIVE)) {
                    double pnp[3][4];
                    fromVectors(rvec, tvec, pnp);
                    errors[PNP][v].add(pnp, truth);
                }
                if (singles.empty()) continue;
                const double board = errors[BOARD_PRECISE][v].rotation.back();
                compared[v]++;
                beatBest[v] += board < *std::min_element(singles.begin(), singles.end());
                beatMedian[v] += board < percentile(singles, 0.5);
            }

            // ArUco: the same places in ArUco markers.
            std::vector<zelk::synth::SceneMarker> placed;
            for (int i = 0; i < MARKERS; i++) {
                if (!shown[size_t(i)]) continue;
                zelk::synth::SceneMarker marker;
                marker.face = &arucoFaces[size_t(i)];
                marker.width = board.markers[size_t(i)].width;
                boardMarkerPose(board.markers[size_t(i)], truth, marker.pose);
                placed.push_back(marker);
            }
            renderer.render(placed, options, options.seed, frame.data());
            cv::Mat grey;
            cv::cvtColor(cv::Mat(HEIGHT, WIDTH, CV_8UC4, frame.data()), grey, cv::COLOR_BGRA2GRAY);
            std::vector<std::vector<cv::Point2f>> corners;
            std::vector<int> found;
            cv::aruco::detectMarkers(grey, dictionary, corners, found, parameters);
            cv::Vec3d rvec, tvec;
            if (!found.empty() &&
                cv::aruco::estimatePoseBoard(corners, found, arucoBoard, K, cv::noArray(), rvec, tvec) > 0) {
                double pose[3][4];
                fromVectors(rvec, tvec, pose);
                errors[ARUCO][v].add(pose, truth);
            }
        }
    }
    std::printf(
        "\nBoards of six markers 50 wide, %d views (500-1300 away, tilt 0-60 deg, noise 2, blur 0.6), "
        "the same hidden markers for every system\n",
        views);
    std::printf("%-30s", "markers in view:");
    for (int v = 0; v < 3; v++) std::printf("  %-28d", IN_VIEW[v]);
    std::printf("\n%-30s", "system");
    for (int v = 0; v < 3; v++) std::printf("  %6s %6s %6s %6s", "posed", "rot", "rot95", "trans%");
    std::printf("\n");
    printRow("Zelk board (default corners)", errors[BOARD_DEFAULT]);
    printRow("Zelk single marker (default)", errors[SINGLE_DEFAULT]);
    printRow("Zelk board (precise corners)", errors[BOARD_PRECISE]);
    printRow("Zelk single marker (precise)", errors[SINGLE]);
    printRow("solvePnP on Zelk's corners", errors[PNP]);
    printRow("ArUco estimatePoseBoard", errors[ARUCO]);
    std::printf(
        "precise board's rotation nearer the truth than the frame's median / best single marker's: "
        "%d / %d of %d frames (6 in view), %d / %d of %d (3 in view)\n",
        beatMedian[0], beatBest[0], compared[0], beatMedian[1], beatBest[1], compared[1]);
}
