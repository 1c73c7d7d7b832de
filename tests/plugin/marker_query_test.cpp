#include "plugin/marker_query.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "camera/camera_params.h"
#include "pose/pose_estimation.h"
#include "tests/support/pose_fixtures.h"

using zelk::MarkerRecord;

namespace {

const double PI = 3.141592653589793;
const double C30 = std::cos(PI / 6), S30 = std::sin(PI / 6);
const double C90 = std::cos(PI / 2), S90 = std::sin(PI / 2), C7 = std::cos(PI * 7 / 180), S7 = std::sin(PI * 7 / 180);

struct Conversion {
    const char* name;
    double pose[3][4];
    bool invert;
    HostVector position;
    HostAngle angles;
};

const Conversion conversions[] = {
    {"identity", {{1, 0, 0, 10}, {0, 1, 0, 20}, {0, 0, 1, 30}}, false, {30720, -10240, -20480}, {0, 0, 0}},
    {"inverted", {{1, 0, 0, 10}, {0, 1, 0, 20}, {0, 0, 1, 30}}, true, {-30720, 10240, 20480}, {0, 0, 0}},
    {"aboutX", {{1, 0, 0, 0}, {0, C30, -S30, 0}, {0, S30, C30, 500}}, false, {512000, 0, 0}, {0, 30720, 0}},
    {"aboutY", {{C30, 0, S30, 0}, {0, 1, 0, 0}, {-S30, 0, C30, 0}}, false, {0, 0, 0}, {-30720, 0, 0}},
    {"aboutZ", {{C30, -S30, 0, 0}, {S30, C30, 0, 0}, {0, 0, 1, 0}}, false, {0, 0, 0}, {0, 0, -30720}},
    // Rz(90) Rx(7): the roll's sine rounds to 1 + 2.2e-16, clamped to 1 for a right angle.
    {"rollSinePastOne",
     {{C90, -S90* C7, S90* S7, 0}, {S90, C90* C7, -C90* S7, 0}, {0, S7, C7, 0}},
     false,
     {0, 0, 0},
     {180657, 180657, -92160}},
};

class HostConversion : public testing::TestWithParam<Conversion> {};

TEST_P(HostConversion, WritesTheHostsPositionAndAngles) {
    const Conversion& c = GetParam();
    double pose[3][4];
    for (int r = 0; r < 3; r++)
        for (int k = 0; k < 4; k++) pose[r][k] = c.pose[r][k];
    if (c.invert) {
        ASSERT_EQ(zelk::invertPose(pose, pose), 0);
    }
    HostVector position{7, 7, 7};
    HostAngle angles{7, 7, 7};
    zelk::poseToHostRecords(pose, &position, &angles);
    EXPECT_EQ(position.x, c.position.x);
    EXPECT_EQ(position.y, c.position.y);
    EXPECT_EQ(position.z, c.position.z);
    EXPECT_EQ(angles.pan, c.angles.pan);
    EXPECT_EQ(angles.tilt, c.angles.tilt);
    EXPECT_EQ(angles.roll, c.angles.roll);
}

void hostOrientation(const HostAngle& angles, double M[3][3]);

// The orientation read back from the host angles is the pose's rotation, rearranged alike
// for every pose: the angle between two poses survives the conversion.
TEST(HostConversion, KeepsTheAngleBetweenRotations) {
    std::mt19937 random(8);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> turn(-180, 180);
    for (int i = 0; i < 200; i++) {
        double pose[2][3][4] = {}, M[2][3][3];
        for (int k = 0; k < 2; k++) {
            double R[3][3];
            axisRotation(gauss(random), gauss(random), gauss(random), turn(random), R);
            for (int r = 0; r < 3; r++)
                for (int c = 0; c < 3; c++) pose[k][r][c] = R[r][c];
            HostAngle angles;
            zelk::poseToHostRecords(pose[k], nullptr, &angles);
            hostOrientation(angles, M[k]);
        }
        EXPECT_NEAR(rotationDifferenceDegrees(M[0], M[1]), rotationDifferenceDegrees(pose[0], pose[1]), 0.01);
    }
}

INSTANTIATE_TEST_SUITE_P(Poses, HostConversion, testing::ValuesIn(conversions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostConversion, SkipsMissingRecords) {
    const double pose[3][4] = {{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}};
    HostVector position{7, 7, 7};
    HostAngle angles{7, 7, 7};
    zelk::poseToHostRecords(pose, &position, nullptr);
    zelk::poseToHostRecords(pose, nullptr, &angles);
    zelk::poseToHostRecords(pose, nullptr, nullptr);
    EXPECT_EQ(position.x, 3072);
    EXPECT_EQ(angles.pan, 0);
}

MarkerRecord withId(int32_t id, double confidence) {
    MarkerRecord marker{};
    marker.patternId = id;
    marker.confidence = confidence;
    return marker;
}

TEST(SelectMarker, TakesTheMostConfidentAndTheEarliestOfEquals) {
    const MarkerRecord list[] = {withId(2, 0.9), withId(1, 0.5), withId(1, 0.7), withId(1, 0.7),
                                 withId(1, NAN), withId(3, NAN), withId(3, 0.8)};
    EXPECT_EQ(zelk::selectMarker(list, 7, 1), &list[2]);
    EXPECT_EQ(zelk::selectMarker(list, 2, 1), &list[1]);
    EXPECT_EQ(zelk::selectMarker(list, 7, 2), &list[0]);
    EXPECT_EQ(zelk::selectMarker(list, 7, 3), &list[5]);  // a later number never beats a NaN choice
    EXPECT_EQ(zelk::selectMarker(list, 7, 4), nullptr);
    EXPECT_EQ(zelk::selectMarker(list, 0, 1), nullptr);
    EXPECT_EQ(zelk::selectMarker(nullptr, 3, 1), nullptr);
    const MarkerRecord unidentified[] = {withId(-1, 0.9), withId(-1, 0.0)};
    EXPECT_EQ(zelk::selectMarker(unidentified, 2, -1), nullptr);
}

// The rotation the quaternion stands for; its vector part is the usual one negated.
void rotationOfQuaternion(const double q[4], double R[3][3]) {
    const double x = -q[0], y = -q[1], z = -q[2], w = q[3];
    const double M[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) R[r][c] = M[r][c];
}

void expectQuaternionOf(const double R[3][3]) {
    double pose[3][4], q[4] = {NAN, NAN, NAN, NAN}, p[3] = {NAN, NAN, NAN}, back[3][3];
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) pose[r][c] = R[r][c];
        pose[r][3] = r + 1;
    }
    EXPECT_EQ(zelk::poseToQuaternion(pose, q, p), 0);
    EXPECT_GE(q[3], 0);
    EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1, 1e-12);
    rotationOfQuaternion(q, back);
    for (int r = 0; r < 3; r++) {
        EXPECT_EQ(p[r], r + 1);
        for (int c = 0; c < 3; c++) EXPECT_NEAR(back[r][c], R[r][c], 1e-12) << r << "," << c;
    }
}

TEST(PoseToQuaternion, HoldsEveryRotation) {
    std::mt19937 random(3);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> turn(-180, 180);
    for (int i = 0; i < 1000; i++) {
        double R[3][3];
        axisRotation(gauss(random), gauss(random), gauss(random), turn(random), R);
        expectQuaternionOf(R);
    }
    // Half turns and turns just either side of the switch between the two formulas.
    for (double degrees : {180.0, -180.0, 179.9, 178.2, 178.1, 177.0}) {
        for (double axisDegrees = 0; axisDegrees < 360; axisDegrees += 15) {
            const double axis = axisDegrees * PI / 180;
            double R[3][3];
            axisRotation(std::cos(axis), std::sin(axis), 0.3 * (degrees != 180), degrees, R);
            expectQuaternionOf(R);
        }
    }
}

// The squarely seen marker: a half turn about an axis in the image plane, 1 + trace = 0.
class SquarelySeen : public testing::TestWithParam<double> {};

// The host orientation of the angles (pan, tilt, roll) in degrees, against that of the angles
// written, whatever names the same orientation (roll is kept within +-90 degrees).
void expectHostOrientation(const HostAngle& written, double pan, double tilt, double roll, double degrees) {
    double found[3][3], expected[3][3];
    hostOrientation(written, found);
    hostOrientation(HostAngle{HostFixed(pan * 1024), HostFixed(tilt * 1024), HostFixed(roll * 1024)}, expected);
    EXPECT_LT(rotationDifferenceDegrees(found, expected), degrees)
        << "written " << written.pan / 1024.0 << ", " << written.tilt / 1024.0 << ", " << written.roll / 1024.0;
}

// Facing the camera upright is a tilt of half a turn; the half turn about the in-plane axis
// at angle a is that view turned about the line of sight by 2a, a roll of -2a.
TEST_P(SquarelySeen, HalfTurnPosesGiveTheirPositionAndAngles) {
    const double axis = GetParam() * PI / 180;
    double R[3][3];
    axisRotation(std::cos(axis), std::sin(axis), 0, 180, R);
    const double pose[3][4] = {
        {R[0][0], R[0][1], R[0][2], 12}, {R[1][0], R[1][1], R[1][2], -7}, {R[2][0], R[2][1], R[2][2], 640}};
    HostVector position{7, 7, 7};
    HostAngle angles{7, 7, 7};
    zelk::poseToHostRecords(pose, &position, &angles);
    EXPECT_EQ(position.x, 640 * 1024);
    EXPECT_EQ(position.y, -12 * 1024);
    EXPECT_EQ(position.z, 7 * 1024);
    expectHostOrientation(angles, 0, 180, -2 * GetParam(), 0.01);
}

INSTANTIATE_TEST_SUITE_P(InPlaneAxes, SquarelySeen, testing::Values(0.0, 30.0, 45.0, 90.0, 123.0, -60.0));

// The host angles are the z-y-x Euler angles (tilt, -roll, pan) of the quaternion with its
// components rearranged as (q1, -q2, -q0; q3). The rearrangement is orthogonal, so the angle
// between two such matrices is the angle between the two poses' rotations, and triples that
// name one orientation in two ways (at a right-angle roll) compare equal.
void hostOrientation(const HostAngle& angles, double M[3][3]) {
    double z[3][3], y[3][3], x[3][3];
    axisRotation(0, 0, 1, angles.tilt / 1024.0, z);
    axisRotation(0, 1, 0, -angles.roll / 1024.0, y);
    axisRotation(1, 0, 0, angles.pan / 1024.0, x);
    multiply3(z, y, M);
    multiply3(M, x, M);
}

// Facing the camera 700 ahead, turned in its plane by a: the host sees it 700 forward,
// upright and rolled by a.
TEST_P(SquarelySeen, MarkerWithParallelSidesGivesTheTrueHostPose) {
    const zelk::CameraParams camera = pinholeCamera();
    double truth[3][4];
    viewPose(0, 0, 700, 0, 0, GetParam(), truth);
    MarkerRecord marker = markerFromPose(camera.projection, truth, zelk::MARKER_WIDTH, 2);
    makeOppositeSideParallel(&marker, 0);
    makeOppositeSideParallel(&marker, 1);
    double pose[3][4];
    const double centre[2] = {0, 0};
    ASSERT_GE(zelk::estimateMarkerPose(&marker, &camera, centre, zelk::MARKER_WIDTH, pose), 0);
    HostVector position;
    HostAngle angles;
    zelk::poseToHostRecords(pose, &position, &angles);
    EXPECT_NEAR(position.x, 700 * 1024, 1024);
    EXPECT_NEAR(position.y, 0, 1024);
    EXPECT_NEAR(position.z, 0, 1024);
    expectHostOrientation(angles, 0, 180, GetParam(), 0.1);
}

TEST(InvertPose, UndoesThePoseInPlace) {
    double pose[3][4];
    viewPose(30, -40, 900, 35, 10, 70, pose);
    double inverse[3][4];
    ASSERT_EQ(zelk::invertPose(pose, inverse), 0);
    // inverse . pose = identity on homogeneous points
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 4; c++) {
            double v = inverse[r][0] * pose[0][c] + inverse[r][1] * pose[1][c] + inverse[r][2] * pose[2][c];
            if (c == 3) v += inverse[r][3];
            EXPECT_NEAR(v, r == c ? 1 : 0, 1e-9);
        }
    }
    ASSERT_EQ(zelk::invertPose(pose, pose), 0);
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) EXPECT_EQ(pose[r][c], inverse[r][c]);

    double flat[3][4] = {};  // no rigid transform: refused, destination untouched
    double untouched[3][4] = {{5}};
    EXPECT_EQ(zelk::invertPose(flat, untouched), -1);
    EXPECT_EQ(untouched[0][0], 5);
}

TEST(GetMarker, WithoutSuchAMarkerWritesNothing) {
    HostVector position{7, 7, 7};
    HostAngle angles{7, 7, 7};
    EXPECT_EQ(Zelk_getMarker(123456, &position, &angles, 0), -1024);
    EXPECT_EQ(Zelk_getMarker(123456, nullptr, nullptr, 1), -1024);
    EXPECT_EQ(position.x, 7);
    EXPECT_EQ(angles.tilt, 7);
}

}  // namespace
