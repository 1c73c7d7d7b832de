#include "pose/refinement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "pose/pose_estimation.h"
#include "tests/support/pose_fixtures.h"

namespace {

const double PI = 3.141592653589793;
const double START_STEP = PI / 18;
const zelk::CameraParams camera = pinholeCamera();
const auto& P = camera.projection;

void expectSameMatrix(const double a[3][3], const double b[3][3], double tolerance) {
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) EXPECT_NEAR(a[r][c], b[r][c], tolerance) << r << "," << c;
}

void expectUntouched(const double* values, int count, double fill) {
    for (int i = 0; i < count; i++) EXPECT_EQ(values[i], fill) << i;
}

TEST(AnglesToMatrix, TurnsAboutZThenYThenZ) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> angle(-PI, PI);
    for (int i = 0; i < 50; i++) {
        const double a = angle(random), b = angle(random), c = angle(random);
        double za[3][3], yb[3][3], zc[3][3], expected[3][3], R[3][3];
        axisRotation(0, 0, 1, a * 180 / PI, za);
        axisRotation(0, 1, 0, b * 180 / PI, yb);
        axisRotation(0, 0, 1, (c - a) * 180 / PI, zc);
        multiply3(za, yb, expected);
        multiply3(expected, zc, expected);
        zelk::anglesToMatrix(a, b, c, R);
        expectSameMatrix(R, expected, 1e-12);
    }
}

TEST(MatrixToAngles, RecoversEveryRandomRotation) {
    std::mt19937 random(11);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> turn(-180, 180);
    for (int i = 0; i < 2000; i++) {
        double R[3][3], back[3][3], a, b, c;
        axisRotation(gauss(random), gauss(random), gauss(random), turn(random), R);
        zelk::matrixToAngles(R, &a, &b, &c);
        EXPECT_TRUE(b >= 0 && b <= PI);
        zelk::anglesToMatrix(a, b, c, back);
        expectSameMatrix(back, R, 1e-7);
    }
}

TEST(MatrixToAngles, ReadsATurnAboutTheCameraAxisAsC) {
    for (double c = -PI + 0.25; c <= PI; c += 0.25) {
        for (double angle : {c, PI}) {
            double R[3][3], a, b, back;
            zelk::anglesToMatrix(0, 0, angle, R);
            zelk::matrixToAngles(R, &a, &b, &back);
            EXPECT_EQ(a, 0);
            EXPECT_EQ(b, 0);
            EXPECT_NEAR(back, angle, 1e-12);
        }
    }
    double overOne[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1 + 4e-16}};
    double a, b, c;
    zelk::matrixToAngles(overOne, &a, &b, &c);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(c, 0);
}

// A marker facing the camera squarely: its z axis exactly, or within rounding, against the
// camera's, where the general formula divides noise by sin b.
class HalfTurnInPlane : public testing::TestWithParam<double> {};

TEST_P(HalfTurnInPlane, GivesFiniteAnglesOfTheSameRotation) {
    const double axis = GetParam() * PI / 180;
    double exact[3][3], nudge[3][3], nudged[3][3];
    axisRotation(std::cos(axis), std::sin(axis), 0, 180, exact);
    exact[0][2] = exact[1][2] = exact[2][0] = exact[2][1] = 0;
    exact[2][2] = -1;
    axisRotation(1, 2, 0, 3e-7, nudge);  // a few nanoradians off
    multiply3(nudge, exact, nudged);
    for (const auto* R : {exact, nudged}) {
        double back[3][3], a, b, c;
        zelk::matrixToAngles(R, &a, &b, &c);
        ASSERT_TRUE(std::isfinite(a) && std::isfinite(b) && std::isfinite(c));
        zelk::anglesToMatrix(a, b, c, back);
        expectSameMatrix(back, R, 1e-8);
    }
}

INSTANTIATE_TEST_SUITE_P(InPlaneAxes, HalfTurnInPlane, testing::Values(0.0, 30.0, 45.0, 90.0, 135.0, -60.0));

// Exact corner data of a tilted marker and the tools to run the search on it.
class ExactCorners : public testing::Test {
protected:
    void SetUp() override {
        viewPose(20, -10, 400, 35, 20, 25, pose);
        const double h = 40;
        const double corners[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
        for (int i = 0; i < 4; i++) {
            model[i][0] = corners[i][0];
            model[i][1] = corners[i][1];
            model[i][2] = 0;
            projectMarkerPoint(P, pose, corners[i][0], corners[i][1], image[i]);
        }
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++) truth[r][c] = pose[r][c];
            translation[r] = pose[r][3];
        }
        zelk::matrixToAngles(truth, &a, &b, &c);
    }
    double pose[3][4], truth[3][3], translation[3];
    double model[4][3], image[4][2];
    double a, b, c;
};

TEST_F(ExactCorners, SolveTranslationFindsTheTrueTranslation) {
    double t[3];
    ASSERT_EQ(zelk::solveTranslation(truth, model, image, 4, P, t), 0);
    for (int r = 0; r < 3; r++) EXPECT_NEAR(t[r], translation[r], 1e-9);
}

TEST_F(ExactCorners, SolveTranslationRefusesASingularSystem) {
    const double samePoint[4][2] = {{300, 200}, {300, 200}, {300, 200}, {300, 200}};
    double t[3] = {5, 5, 5};
    EXPECT_EQ(zelk::solveTranslation(truth, model, samePoint, 4, P, t), -1);
    expectUntouched(t, 3, 5);
}

TEST_F(ExactCorners, SearchKeepsTheCentreWhenItIsBest) {
    double R[3][3], expected[3][3];
    zelk::anglesToMatrix(a, b, c, R);
    zelk::anglesToMatrix(a, b, c, expected);
    EXPECT_LT(zelk::searchRotationAngles(R, translation, P, model, image, 4), 1e-18);
    expectSameMatrix(R, expected, 0);
}

// The step halves on every kept centre: after nine halvings it is pi/18/512, so an offset
// in c below half of that is kept and one above it is taken back in the tenth iteration.
TEST_F(ExactCorners, SearchHalvesTheStepOnEveryKeptCentre) {
    const double lastStep = START_STEP / 512;
    for (const auto& [share, corrected] : {std::pair{0.45, false}, std::pair{0.7, true}}) {
        double R[3][3], start[3][3];
        zelk::anglesToMatrix(a, b, c + share * lastStep, R);
        zelk::anglesToMatrix(a, b, c + share * lastStep, start);
        const double error = zelk::searchRotationAngles(R, translation, P, model, image, 4);
        double expected[3][3];
        zelk::anglesToMatrix(a, b, corrected ? c + (share - 1) * lastStep : c + share * lastStep, expected);
        expectSameMatrix(R, expected, 1e-15);
        EXPECT_GT(error, 0);
    }
}

TEST_F(ExactCorners, SearchKeepsTheEarliestOfEqualCandidates) {
    // Model points at the origin project alike under every rotation: all 27 candidates tie,
    // the first (-1, -1, -1) wins every iteration and the step never halves.
    const double origin[4][3] = {};
    double R[3][3], expected[3][3];
    zelk::anglesToMatrix(a, b, c, R);
    zelk::searchRotationAngles(R, translation, P, origin, image, 4);
    zelk::anglesToMatrix(a - 10 * START_STEP, b - 10 * START_STEP, c - 10 * START_STEP, expected);
    expectSameMatrix(R, expected, 1e-12);
}

TEST_F(ExactCorners, SearchWithoutAnyFiniteErrorFallsBackToZeroAngles) {
    const double nowhere[4][2] = {{NAN, NAN}, {NAN, NAN}, {NAN, NAN}, {NAN, NAN}};
    double R[3][3];
    zelk::anglesToMatrix(a, b, c, R);
    EXPECT_EQ(zelk::searchRotationAngles(R, translation, P, model, nowhere, 4), 1e9 / 4);
    const double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    expectSameMatrix(R, identity, 0);
}

// The search as first written, kept here as the reference: every candidate's rotation from
// the whole formula, projected and summed point by point, the first smallest error kept.
void plainRotation(double a, double b, double c, double R[3][3]) {
    const double sa = std::sin(a), ca = std::cos(a), sb = std::sin(b), cb = std::cos(b), sc = std::sin(c),
                 cc = std::cos(c);
    R[0][0] = ca * ca * cb * cc + sa * sa * cc + sa * ca * cb * sc - sa * ca * sc;
    R[0][1] = -ca * ca * cb * sc - sa * sa * sc + sa * ca * cb * cc - sa * ca * cc;
    R[0][2] = ca * sb;
    R[1][0] = sa * ca * cb * cc - sa * ca * cc + ca * ca * sc + sa * sa * cb * sc;
    R[1][1] = sa * ca * sc - sa * ca * cb * sc + ca * ca * cc + sa * sa * cb * cc;
    R[1][2] = sa * sb;
    R[2][0] = -ca * sb * cc - sa * sb * sc;
    R[2][1] = ca * sb * sc - sa * sb * cc;
    R[2][2] = cb;
}

double plainSearch(double rotation[3][3], const double t[3], const double (*model)[3], const double (*fit)[2], int n) {
    double a, b, c, step = START_STEP, best[3] = {0, 0, 0}, minimum = 0;
    int offset[3] = {0, 0, 0};
    zelk::matrixToAngles(rotation, &a, &b, &c);
    for (int iteration = 0; iteration < 10; iteration++) {
        minimum = 1e9;
        for (int j = -1; j <= 1; j++)
            for (int k = -1; k <= 1; k++)
                for (int l = -1; l <= 1; l++) {
                    double R[3][3], M[3][4], e = 0;
                    plainRotation(a + j * step, b + k * step, c + l * step, R);
                    for (int r = 0; r < 3; r++) {
                        for (int col = 0; col < 3; col++)
                            M[r][col] = P[r][0] * R[0][col] + P[r][1] * R[1][col] + P[r][2] * R[2][col];
                        M[r][3] = P[r][0] * t[0] + P[r][1] * t[1] + P[r][2] * t[2] + P[r][3];
                    }
                    for (int i = 0; i < n; i++) {
                        double h[3];
                        for (int r = 0; r < 3; r++)
                            h[r] = M[r][0] * model[i][0] + M[r][1] * model[i][1] + M[r][2] * model[i][2] + M[r][3];
                        const double dx = fit[i][0] - h[0] / h[2], dy = fit[i][1] - h[1] / h[2];
                        e += dx * dx + dy * dy;
                    }
                    if (minimum > e) {
                        minimum = e;
                        best[0] = a + j * step, best[1] = b + k * step, best[2] = c + l * step;
                        offset[0] = j, offset[1] = k, offset[2] = l;
                    }
                }
        if (offset[0] == 0 && offset[1] == 0 && offset[2] == 0) step /= 2;
        a = best[0], b = best[1], c = best[2];
    }
    plainRotation(best[0], best[1], best[2], rotation);
    return minimum / n;
}

// The search shares sines, cosines and products among candidates, skips candidates that
// cannot win and works on vectors of points; none of it may change a bit. Random poses,
// n points on the marker plane or off it, fits from noiseless to far off, every vector width's
// remainder (n = 1 ... 9), and starts whose angles come out as -0.
class SearchBits : public testing::TestWithParam<int> {};

TEST_P(SearchBits, AreThoseOfThePlainSearch) {
    const int n = GetParam();
    std::mt19937 random(100 + n);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int trial = 0; trial < 60; trial++) {
        double pose[3][4];
        viewPose(150 * unit(random), 100 * unit(random), 600 + 400 * unit(random), 35 + 35 * unit(random),
                 180 * unit(random), 180 * unit(random), pose);
        const double noise = trial % 4 == 0 ? 0 : std::pow(10.0, 1.5 * unit(random));
        double model[9][3], fit[9][2];
        for (int i = 0; i < n; i++) {
            model[i][0] = 50 * unit(random);
            model[i][1] = 50 * unit(random);
            model[i][2] = trial % 3 == 0 ? 20 * unit(random) : 0;
            double camera[3];
            for (int r = 0; r < 3; r++)
                camera[r] = pose[r][0] * model[i][0] + pose[r][1] * model[i][1] + pose[r][2] * model[i][2] + pose[r][3];
            for (int k = 0; k < 2; k++)
                fit[i][k] = (P[k][0] * camera[0] + P[k][1] * camera[1] + P[k][2] * camera[2]) / camera[2] +
                            noise * unit(random);
        }
        double fast[3][3], plain[3][3];
        if (trial % 10 == 9) {
            // A marker squarely turned about the camera axis: c is read as -0.
            const double start[3][3] = {{1, 0, 0}, {-1e-300, 1, 0}, {0, 0, 1}};
            std::memcpy(fast, start, sizeof fast);
        } else {
            double truth[3][3];
            for (int r = 0; r < 3; r++)
                for (int k = 0; k < 3; k++) truth[r][k] = pose[r][k];
            axisRotation(unit(random), unit(random), unit(random), 20 * unit(random), fast);
            multiply3(fast, truth, fast);
        }
        std::memcpy(plain, fast, sizeof fast);
        double t[3] = {pose[0][3], pose[1][3], pose[2][3]};
        const double fastError = zelk::searchRotationAngles(fast, t, P, model, fit, n);
        const double plainError = plainSearch(plain, t, model, fit, n);
        ASSERT_EQ(std::memcmp(&fastError, &plainError, sizeof fastError), 0) << trial;
        ASSERT_EQ(std::memcmp(fast, plain, sizeof fast), 0) << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(PointCounts, SearchBits, testing::Range(1, 10));

TEST_F(ExactCorners, RefinePoseConvergesFromAFewDegreesOff) {
    double R[3][3], out[3][4], start[3][3];
    zelk::anglesToMatrix(a + 0.05, b - 0.04, c + 0.03, R);
    zelk::anglesToMatrix(a + 0.05, b - 0.04, c + 0.03, start);
    double error = zelk::refinePose(R, image, model, 4, out, P);
    EXPECT_LT(error, 0.5);
    EXPECT_LT(rotationDifferenceDegrees(out, pose), rotationDifferenceDegrees(start, truth) / 4);
    for (int r = 0; r < 3; r++)
        for (int k = 0; k < 3; k++) EXPECT_EQ(R[r][k], out[r][k]);  // the refined rotation comes back
    for (int call = 0; call < 4; call++) error = zelk::refinePose(R, image, model, 4, out, P);
    EXPECT_LT(error, 1e-3);
    EXPECT_LT(rotationDifferenceDegrees(out, pose), 0.1);
    for (int r = 0; r < 3; r++) EXPECT_NEAR(out[r][3], pose[r][3], 0.2);
}

TEST_F(ExactCorners, RefinePoseFailureLeavesRotationAndPoseUntouched) {
    const double samePoint[4][2] = {{300, 200}, {300, 200}, {300, 200}, {300, 200}};
    struct Case {
        const double (*points)[2];
        int n;
    } cases[] = {{samePoint, 4}, {image, 0}, {image, zelk::POSE_MAX_POINTS + 1}};
    for (const Case& k : cases) {
        double R[3][3], out[3][4];
        for (auto& row : R)
            for (double& v : row) v = 3;
        for (auto& row : out)
            for (double& v : row) v = 3;
        EXPECT_EQ(zelk::refinePose(R, k.points, model, k.n, out, P), -1.0) << k.n;
        expectUntouched(&R[0][0], 9, 3);
        expectUntouched(&out[0][0], 12, 3);
    }
}

}  // namespace
