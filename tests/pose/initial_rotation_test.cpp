#include "pose/initial_rotation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <tuple>

#include "tests/support/pose_fixtures.h"

using zelk::MarkerRecord;

namespace {

struct Rotation {
    double m[3][3];
};
Rotation rotationOf(const double pose[3][4]) {
    Rotation R;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) R.m[r][c] = pose[r][c];
    return R;
}
double rotationDifferenceDegrees(const double a[3][3], const Rotation& b) {
    return ::rotationDifferenceDegrees(a, b.m);
}

const zelk::CameraParams camera = pinholeCamera();
const auto& P = camera.projection;

TEST(PatternCornerIndex, FollowsTheStoredDirectionAndStaysInRange) {
    const int expected[5][4] = {{1, 2, 3, 0}, {0, 1, 2, 3}, {3, 0, 1, 2}, {2, 3, 0, 1}, {1, 2, 3, 0}};
    for (int d = -1; d <= 3; d++)
        for (int j = 0; j < 4; j++) EXPECT_EQ(zelk::patternCornerIndex(d, j), expected[d + 1][j]) << d << " " << j;
    for (int32_t d : {-7, 9, INT32_MIN, INT32_MAX}) {
        for (int j = 0; j < 4; j++) {
            const int k = zelk::patternCornerIndex(d, j);
            EXPECT_TRUE(k >= 0 && k < 4) << d;
        }
    }
}

// (distance, tilt, tilt axis, in-plane) of a marker in view.
using View = std::tuple<double, double, double, double>;
class InitialRotation : public testing::TestWithParam<View> {};

TEST_P(InitialRotation, IsTheTrueRotationWhateverTheStoredDirection) {
    const auto [distance, tilt, tiltAxis, inPlane] = GetParam();
    double pose[3][4];
    viewPose(30, -20, distance, tilt, tiltAxis, inPlane, pose);
    for (int direction = 0; direction < 4; direction++) {
        const MarkerRecord marker = markerFromPose(P, pose, 80, direction);
        double R[3][3];
        ASSERT_EQ(zelk::computeInitialRotation(&marker, P, R), 0) << direction;
        EXPECT_LT(rotationDifferenceDegrees(R, rotationOf(pose)), 1e-5) << direction;
    }
}

INSTANTIATE_TEST_SUITE_P(Views, InitialRotation,
                         testing::Values(View{500, 0, 0, 0}, View{500, 0, 0, 30}, View{300, 40, 0, 0},
                                         View{800, 25, 60, 110}, View{1500, 60, 135, -70}, View{400, 10, 90, 180}));

// Square-on views: opposite image sides exactly parallel, whatever the marker's spin.
class SquareOnView : public testing::TestWithParam<double> {};

TEST_P(SquareOnView, GivesTheFacingRotation) {
    double pose[3][4];
    viewPose(0, 0, 500, 0, 0, GetParam(), pose);
    MarkerRecord marker = markerFromPose(P, pose, 80, 0);
    makeOppositeSideParallel(&marker, 2);
    makeOppositeSideParallel(&marker, 3);
    double R[3][3];
    ASSERT_EQ(zelk::computeInitialRotation(&marker, P, R), 0);
    EXPECT_LT(rotationDifferenceDegrees(R, rotationOf(pose)), 1e-5);
    for (int i = 0; i < 2; i++) EXPECT_DOUBLE_EQ(R[2][i], 0.0);  // both axes in the camera's plane
}

// Every step of 7.5 degrees: some of these leave the discriminant a rounding error below zero.
INSTANTIATE_TEST_SUITE_P(Spins, SquareOnView, testing::Range(-180.0, 180.0, 7.5));

TEST(SquareOnView, UprightIsTheHalfTurnAboutX) {
    double pose[3][4];
    viewPose(0, 0, 500, 0, 0, 0, pose);
    const MarkerRecord marker = markerFromPose(P, pose, 80, 0);
    EXPECT_EQ(marker.edgeLines[0][0] * marker.edgeLines[2][1] - marker.edgeLines[2][0] * marker.edgeLines[0][1], 0.0);
    double R[3][3];
    ASSERT_EQ(zelk::computeInitialRotation(&marker, P, R), 0);
    const double facing[3][3] = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) EXPECT_NEAR(R[r][c], facing[r][c], 1e-15);
}

TEST(InitialRotationFailure, LeavesTheRotationUntouched) {
    double pose[3][4];
    viewPose(0, 0, 500, 20, 0, 10, pose);
    const MarkerRecord good = markerFromPose(P, pose, 80, 0);

    MarkerRecord sameLines = good;  // opposite sides on one line: no direction
    std::memcpy(sameLines.edgeLines[2], sameLines.edgeLines[0], sizeof sameLines.edgeLines[0]);
    MarkerRecord notANumber = good;
    notANumber.edgeLines[1][2] = std::nan("");
    zelk::CameraParams flat = camera;  // no camera: its left block is singular
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) flat.projection[r][c] = 0;

    using Case = std::pair<const MarkerRecord*, const zelk::CameraParams*>;
    for (const auto& [marker, projection] :
         {Case{&sameLines, &camera}, Case{&notANumber, &camera}, Case{&good, &flat}}) {
        double R[3][3];
        for (auto& row : R)
            for (double& v : row) v = 7;
        EXPECT_EQ(zelk::computeInitialRotation(marker, projection->projection, R), -1);
        for (auto& row : R)
            for (double v : row) EXPECT_EQ(v, 7);
    }
}

TEST(OrientAxis, PointsTheProjectionFromCornerToCorner) {
    const double from[2] = {100, 100}, right[2] = {200, 100}, left[2] = {0, 100}, below[2] = {100, 200};
    struct Case {
        const double* to;
        double expectedX;
    } cases[] = {{right, 1}, {left, -1}, {below, 1}};  // straight below: exactly 0, the sign stays
    for (const Case& c : cases) {
        double axis[3] = {1, 0, 0};
        EXPECT_EQ(zelk::orientAxis(axis, from, c.to, P), 0);
        EXPECT_EQ(axis[0], c.expectedX);
    }
}

TEST(OrientAxis, FailsWhenAPointProjectsToInfinity) {
    // The corner's ray point has depth 10; a step of -10 in z reaches the camera's plane.
    const double from[2] = {0, 100}, to[2] = {1, 100};
    double axis[3] = {0.5, 0.25, -10};
    EXPECT_EQ(zelk::orientAxis(axis, from, to, P), -1);
    EXPECT_EQ(axis[0], 0.5);
}

double dot(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

TEST(OrthogonalizeAxes, TurnsBothAxesEquallyWithinTheirPlane) {
    for (double degreesApart : {60.0, 80.0, 89.0, 95.0, 120.0}) {
        const double angle = degreesApart * 3.141592653589793 / 180;
        // Two unit vectors in a tilted plane.
        double basis[3][3];
        axisRotation(1, 2, 3, 40, basis);
        double axes[6], original[6];
        for (int i = 0; i < 3; i++) {
            axes[i] = basis[i][0];
            axes[3 + i] = std::cos(angle) * basis[i][0] + std::sin(angle) * basis[i][1];
        }
        std::memcpy(original, axes, sizeof axes);
        ASSERT_EQ(zelk::orthogonalizeAxes(axes), 0) << degreesApart;
        EXPECT_NEAR(dot(axes, axes + 3), 0, 1e-12) << degreesApart;
        EXPECT_NEAR(dot(axes, axes), 1, 1e-12);
        EXPECT_NEAR(dot(axes + 3, axes + 3), 1, 1e-12);
        const double normal[3] = {basis[0][2], basis[1][2], basis[2][2]};
        EXPECT_NEAR(dot(axes, normal), 0, 1e-12);
        EXPECT_NEAR(dot(axes + 3, normal), 0, 1e-12);
        const double turnX = std::acos(std::min(1.0, dot(axes, original)));
        const double turnY = std::acos(std::min(1.0, dot(axes + 3, original + 3)));
        EXPECT_NEAR(turnX, turnY, 1e-9) << degreesApart;
        EXPECT_NEAR(turnX, std::fabs(degreesApart - 90) / 2 * 3.141592653589793 / 180, 1e-9) << degreesApart;
    }
}

TEST(OrthogonalizeAxes, KeepsPerpendicularAxesAndRefusesParallelOnes) {
    double perpendicular[6] = {0.6, 0.8, 0, 0, 0, 1};
    ASSERT_EQ(zelk::orthogonalizeAxes(perpendicular), 0);
    const double expected[6] = {0.6, 0.8, 0, 0, 0, 1};
    for (int i = 0; i < 6; i++) EXPECT_NEAR(perpendicular[i], expected[i], 1e-15);

    double parallel[6] = {0.6, 0.8, 0, -0.6, -0.8, 0};
    EXPECT_EQ(zelk::orthogonalizeAxes(parallel), -1);
    EXPECT_EQ(parallel[3], -0.6);
}

}  // namespace
