#include "pose/pose_optimisation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "pose/planar_pose.h"
#include "tests/support/pose_fixtures.h"

namespace {

const zelk::CameraParams camera = pinholeCamera();
const auto& P = camera.projection;
const double SQUARE[4][2] = {{-40, 40}, {40, 40}, {40, -40}, {-40, -40}};

void project(const double pose[3][4], const double (*model)[2], int n, double (*image)[2]) {
    for (int i = 0; i < n; i++) projectMarkerPoint(P, pose, model[i][0], model[i][1], image[i]);
}

// (distance, tilt, in-plane) over the working range, square-on views included.
using View = std::tuple<double, double, double>;
class ExactViews : public testing::TestWithParam<View> {};

// Exact image points of the square, and of a 3 x 3 board away from its origin, give back the
// true pose; one of the two planar starts is already that pose.
TEST_P(ExactViews, GiveBackTheTruePose) {
    const auto [distance, tilt, inPlane] = GetParam();
    double truth[3][4];
    viewPose(30, -20, distance, tilt, 60, inPlane, truth);
    const double board[9][2] = {{100, 0},  {140, 0},  {180, 0},  {100, 40}, {140, 40},
                                {180, 40}, {100, 80}, {140, 80}, {180, 80}};
    const struct {
        const double (*model)[2];
        int n;
    } models[] = {{SQUARE, 4}, {board, 9}};
    for (const auto& m : models) {
        double image[9][2], starts[2][3][4], pose[3][4];
        project(truth, m.model, m.n, image);
        ASSERT_EQ(zelk::planarPoseCandidates(m.model, image, m.n, P, starts), 0);
        EXPECT_LT(std::fmin(rotationDifferenceDegrees(starts[0], truth), rotationDifferenceDegrees(starts[1], truth)),
                  1e-4);
        const double error = zelk::fitPlanarPose(m.model, image, m.n, P, nullptr, pose);
        EXPECT_GE(error, 0);
        EXPECT_LT(error, 1e-12);
        EXPECT_LT(rotationDifferenceDegrees(pose, truth), 1e-5) << m.n;
        for (int r = 0; r < 3; r++) EXPECT_NEAR(pose[r][3], truth[r][3], 1e-6 * distance) << m.n;
    }
}

INSTANTIATE_TEST_SUITE_P(Views, ExactViews,
                         testing::Combine(testing::Values(200.0, 900.0, 4000.0), testing::Values(0.0, 5.0, 30.0, 70.0),
                                          testing::Values(0.0, 45.0, -120.0)));

// A small, distant marker with noisy corners has two poses of about the same error, tilted
// either way: the one nearer the previous frame's pose is kept, whichever that is.
TEST(AmbiguousView, KeepsTheSolutionNearerThePreviousPose) {
    double truth[3][4];
    viewPose(0, 0, 3000, 12, 30, 20, truth);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 0.05);
    for (int trial = 0; trial < 10; trial++) {
        double image[4][2], starts[2][3][4];
        project(truth, SQUARE, 4, image);
        for (auto& point : image) point[0] += noise(random), point[1] += noise(random);
        ASSERT_EQ(zelk::planarPoseCandidates(SQUARE, image, 4, P, starts), 0);
        for (auto& start : starts) {
            double pose[3][4];
            ASSERT_GE(zelk::optimisePose(SQUARE, image, 4, P, start), 0);
            ASSERT_GE(zelk::fitPlanarPose(SQUARE, image, 4, P, start, pose), 0);
            EXPECT_LT(zelk::rotationAngleBetween(pose, start), 1e-6) << trial;
        }
    }
}

// Bad input fails with -1 and writes nothing.
struct Hostile {
    const char* name;
    double image[4][2];
    int n;
};
class HostileInput : public testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, FailsAndWritesNothing) {
    const Hostile& h = GetParam();
    double pose[3][4], starts[2][3][4];
    for (auto& row : pose)
        for (double& v : row) v = 7;
    EXPECT_EQ(zelk::fitPlanarPose(SQUARE, h.image, h.n, P, nullptr, pose), -1.0);
    EXPECT_EQ(zelk::planarPoseCandidates(SQUARE, h.image, h.n, P, starts), -1);
    for (auto& row : pose)
        for (double v : row) EXPECT_EQ(v, 7);
}

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();
INSTANTIATE_TEST_SUITE_P(Inputs, HostileInput,
                         testing::Values(Hostile{"NaN", {{NaN, 1}, {2, 1}, {2, 2}, {1, 2}}, 4},
                                         Hostile{"Infinite", {{1, 1}, {INF, 1}, {2, 2}, {1, 2}}, 4},
                                         Hostile{"OnePoint", {{5, 5}, {5, 5}, {5, 5}, {5, 5}}, 4},
                                         Hostile{"Collinear", {{1, 1}, {2, 2}, {3, 3}, {4, 4}}, 4},
                                         Hostile{"TooFew", {{1, 1}, {200, 1}, {200, 200}, {1, 200}}, 3}),
                         [](const testing::TestParamInfo<Hostile>& info) { return info.param.name; });

TEST(HostileInput, ASingularCameraOrABadStartFails) {
    double truth[3][4], image[4][2], pose[3][4];
    viewPose(0, 0, 500, 20, 0, 0, truth);
    project(truth, SQUARE, 4, image);
    zelk::CameraParams flat = camera;
    for (double& v : flat.projection[2]) v = 0;
    EXPECT_EQ(zelk::fitPlanarPose(SQUARE, image, 4, flat.projection, nullptr, pose), -1.0);
    double behind[3][4];
    viewPose(0, 0, -500, 0, 0, 0, behind);
    EXPECT_EQ(zelk::optimisePose(SQUARE, image, 4, P, behind), -1.0);
    behind[0][0] = NaN;
    EXPECT_EQ(zelk::optimisePose(SQUARE, image, 4, P, behind), -1.0);
}

}  // namespace
