#include "pose/pose_estimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "camera/camera_params.h"
#include "pose/initial_rotation.h"
#include "tests/support/pose_fixtures.h"

using zelk::MarkerRecord;

namespace {

const double ORIGIN[2] = {0, 0};

class PoseEstimation : public testing::Test {
protected:
    void SetUp() override { camera = pinholeCamera(); }
    MarkerRecord markerAt(double tilt, double inPlane, int direction = 0) {
        viewPose(25, -15, 500, tilt, 30, inPlane, truth);
        return markerFromPose(camera.projection, truth, 80, direction);
    }
    zelk::CameraParams camera;
    double truth[3][4];
};

// (distance, tilt, in-plane) over the working range; every stored direction.
using View = std::tuple<double, double, double>;
class ExactMarker : public PoseEstimation, public testing::WithParamInterface<View> {};

// Corners are ideal coordinates, so a lens with a strong radial term must not move the fit.
TEST_P(ExactMarker, ComesBackWithTheTruePoseThroughAnyLens) {
    const auto [distance, tilt, inPlane] = GetParam();
    double truthPose[3][4];
    viewPose(-40, 30, distance, tilt, 70, inPlane, truthPose);
    zelk::CameraParams distorted = camera;
    const double radial[4] = {330, 250, 30, 1.01};
    std::memcpy(distorted.distortion, radial, sizeof radial);
    for (int run = 0; run < 8; run++) {
        const int direction = run % 4;
        const MarkerRecord marker = markerFromPose(camera.projection, truthPose, 80, direction);
        double pose[3][4];
        const double error = zelk::estimateMarkerPose(&marker, run < 4 ? &camera : &distorted, ORIGIN, 80, pose);
        EXPECT_GE(error, 0);
        EXPECT_LT(error, 1e-3) << direction;
        EXPECT_LT(rotationDifferenceDegrees(pose, truthPose), 0.05) << direction;
        for (int r = 0; r < 3; r++) EXPECT_NEAR(pose[r][3], truthPose[r][3], 1e-3 * distance) << direction;
    }
}

INSTANTIATE_TEST_SUITE_P(Views, ExactMarker,
                         testing::Combine(testing::Values(300.0, 800.0, 1500.0), testing::Values(0.0, 20.0, 45.0, 60.0),
                                          testing::Values(0.0, 37.0, 90.0, -130.0)));

// Through a lens without distortion the default fit gives the bits it gave when it took every
// corner through the lens model, (x - c) + c, whatever the centre c.
TEST_F(PoseEstimation, ALensWithoutDistortionKeepsTheBitsOfTheFitOnObservedCorners) {
    for (const double cx : {320.0, 319.7, 0.1, 1e6}) {
        camera.distortion[0] = cx;
        camera.distortion[1] = cx / 3;
        for (int view = 0; view < 6; view++) {
            const MarkerRecord marker = markerAt(10 * view, 25 * view, view % 4);
            double pose[3][4], rotation[3][3], model[4][2], observed[4][2], expected[3][4];
            ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, ORIGIN, 80, pose), 0);
            ASSERT_EQ(zelk::computeInitialRotation(&marker, camera.projection, rotation), 0);
            for (int j = 0; j < 4; j++) {
                const double* corner = marker.corners[zelk::patternCornerIndex(marker.direction, j)];
                model[j][0] = (j == 0 || j == 3 ? -40 : 40);
                model[j][1] = (j < 2 ? 40 : -40);
                for (int k = 0; k < 2; k++) observed[j][k] = (corner[k] - camera.distortion[k]) + camera.distortion[k];
            }
            for (int cycle = 0; cycle < 5; cycle++)
                if (zelk::refineCentredPose(rotation, observed, model, 4, expected, camera.projection) < 1) break;
            EXPECT_EQ(std::memcmp(pose, expected, sizeof pose), 0) << cx << " " << view;
        }
    }
}

// Seen squarely, with opposite image sides exactly parallel.
class SquareOnMarker : public PoseEstimation, public testing::WithParamInterface<double> {};

TEST_P(SquareOnMarker, ComesBackWithTheTruePose) {
    viewPose(0, 0, 600, 0, 0, GetParam(), truth);
    MarkerRecord marker = markerFromPose(camera.projection, truth, 80, 1);
    makeOppositeSideParallel(&marker, 2);
    makeOppositeSideParallel(&marker, 3);
    double pose[3][4];
    EXPECT_LT(zelk::estimateMarkerPose(&marker, &camera, ORIGIN, 80, pose), 1e-3);
    EXPECT_LT(rotationDifferenceDegrees(pose, truth), 0.05);
    for (int r = 0; r < 3; r++) EXPECT_NEAR(pose[r][3], truth[r][3], 0.5);
}

INSTANTIATE_TEST_SUITE_P(Spins, SquareOnMarker, testing::Values(0.0, 15.0, 45.0, 90.0, 180.0, -100.0));

TEST_F(PoseEstimation, AnOffCentreModelMovesTheTranslationAlongTheMarkerAxis) {
    const MarkerRecord marker = markerAt(30, 20);
    const double shifted[2] = {10, 0};
    double centred[3][4], pose[3][4];
    ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, ORIGIN, 80, centred), 0);
    ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, shifted, 80, pose), 0);
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) EXPECT_EQ(pose[r][c], centred[r][c]);
        EXPECT_NEAR(pose[r][3], centred[r][3] - 10 * centred[r][0], 1e-9);
    }
}

TEST_F(PoseEstimation, DoublingTheWidthDoublesTheTranslation) {
    const MarkerRecord marker = markerAt(40, -60);
    double single[3][4], twice[3][4];
    ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, ORIGIN, 80, single), 0);
    ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, ORIGIN, 160, twice), 0);
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) EXPECT_EQ(twice[r][c], single[r][c]);
        EXPECT_NEAR(twice[r][3], 2 * single[r][3], 1e-9 * std::fabs(single[r][3]) + 1e-9);
    }
}

TEST_F(PoseEstimation, AnUnidentifiedMarkerTakesItsCornersFromOne) {
    MarkerRecord marker = markerAt(25, 10, 3);  // direction 3 reads corners 1, 2, 3, 0 as well
    double asThree[3][4], asUnknown[3][4];
    ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, ORIGIN, 80, asThree), 0);
    marker.direction = -1;
    ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, ORIGIN, 80, asUnknown), 0);
    EXPECT_EQ(std::memcmp(asThree, asUnknown, sizeof asThree), 0);
}

TEST_F(PoseEstimation, FailureReturnsMinusOneAndLeavesThePoseUntouched) {
    const MarkerRecord good = markerAt(20, 5);
    MarkerRecord sameLines = good;
    std::memcpy(sameLines.edgeLines[3], sameLines.edgeLines[1], sizeof sameLines.edgeLines[1]);
    MarkerRecord oneCorner = good;  // lines fine, but all four corners in one spot
    for (auto& corner : oneCorner.corners) std::memcpy(corner, good.corners[0], sizeof corner);
    MarkerRecord notANumber = good;
    notANumber.corners[2][0] = NAN;

    const MarkerRecord* failing[] = {&sameLines, &oneCorner, &notANumber, nullptr};
    for (const MarkerRecord* marker : failing) {
        double pose[3][4];
        for (auto& row : pose)
            for (double& v : row) v = 9;
        EXPECT_EQ(zelk::estimateMarkerPose(marker, &camera, ORIGIN, 80, pose), -1.0);
        for (auto& row : pose)
            for (double v : row) EXPECT_EQ(v, 9);
    }

    const zelk::CameraParams none{};  // a camera record never loaded
    double pose[3][4] = {};
    EXPECT_EQ(zelk::estimateMarkerPose(&good, &none, ORIGIN, 80, pose), -1.0);
    EXPECT_EQ(zelk::estimateMarkerPose(&good, nullptr, ORIGIN, 80, pose), -1.0);
}

}  // namespace
