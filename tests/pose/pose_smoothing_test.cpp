#include "pose/pose_smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "tests/support/pose_fixtures.h"

namespace {

constexpr double WIDTH = 80;

// A marker drifting sideways at `speed` marker widths per frame and turning at `turn`
// degrees per frame, with jitter of `jitter` units and tenths of a degree.
void movingPose(int frame, double speed, double turn, double jitter, std::mt19937& random, double pose[3][4]) {
    std::normal_distribution<double> noise(0, jitter);
    viewPose(frame * speed * WIDTH + noise(random), noise(random), 600 + 5 * noise(random), 20 + 0.1 * noise(random),
             30, frame * turn + 0.1 * noise(random), pose);
}

// At rest the jitter's variance shrinks at least fourfold; in steady motion the lag stays below the
// documented bounds (3.5 frames at rest, one frame when fast).
struct Motion {
    const char* name;
    double speed, turn, lagFrames;
};
class Smoothing : public testing::TestWithParam<Motion> {};

TEST_P(Smoothing, SteadiesAStillMarkerAndFollowsAMovingOne) {
    const Motion m = GetParam();
    zelk::PoseFilter filter;
    const zelk::SmoothingSettings settings;
    std::mt19937 random(4);
    double rawSpread = 0, smoothSpread = 0, lag = 0, truth[3][4], pose[3][4];
    const int frames = 200;
    for (int f = 0; f < frames; f++) {
        movingPose(f, m.speed, m.turn, 1.0, random, pose);
        zelk::smoothPose(&filter, settings, WIDTH, pose);
        std::mt19937 none(0);
        movingPose(f, m.speed, m.turn, 0, none, truth);
        if (f < frames / 2) continue;
        if (m.speed == 0 && m.turn == 0) {
            smoothSpread += std::pow(pose[0][3] - truth[0][3], 2);
            rawSpread += 1;
            continue;
        }
        // How many frames back the smoothed pose stands, on average.
        lag += (m.speed > 0 ? (truth[0][3] - pose[0][3]) / (m.speed * WIDTH)
                            : rotationDifferenceDegrees(pose, truth) / m.turn) /
               (frames / 2);
    }
    EXPECT_LE(lag, m.lagFrames);
    if (rawSpread > 0) {
        EXPECT_LT(smoothSpread, rawSpread / 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Motions, Smoothing,
                         testing::Values(Motion{"Still", 0, 0, 0}, Motion{"SlowDrift", 0.002, 0, 3.5},
                                         Motion{"FastDrift", 0.1, 0, 1.0}, Motion{"SlowTurn", 0, 0.2, 3.5},
                                         Motion{"FastTurn", 0, 6, 1.0}),
                         [](const testing::TestParamInfo<Motion>& info) { return std::string(info.param.name); });

// The first pose after a reset, and a pose that is not finite, pass through unchanged.
TEST(Smoothing, PassesThroughAfterAResetAndOnBadPoses) {
    zelk::PoseFilter filter;
    const zelk::SmoothingSettings settings;
    double a[3][4], b[3][4], pose[3][4];
    viewPose(0, 0, 500, 10, 0, 0, a);
    viewPose(100, 50, 900, 40, 70, 90, b);
    std::memcpy(pose, a, sizeof pose);
    zelk::smoothPose(&filter, settings, WIDTH, pose);
    std::memcpy(pose, b, sizeof pose);
    zelk::smoothPose(&filter, settings, WIDTH, pose);
    EXPECT_GT(std::fabs(pose[0][3] - b[0][3]), 1);  // held back towards a
    zelk::resetPoseFilter(&filter);
    std::memcpy(pose, b, sizeof pose);
    zelk::smoothPose(&filter, settings, WIDTH, pose);
    EXPECT_EQ(std::memcmp(pose, b, sizeof pose), 0);
    pose[1][1] = NAN;
    zelk::smoothPose(&filter, settings, WIDTH, pose);
    EXPECT_TRUE(std::isnan(pose[1][1]));
    std::memcpy(pose, a, sizeof pose);
    zelk::smoothPose(&filter, settings, WIDTH, pose);
    EXPECT_EQ(std::memcmp(pose, a, sizeof pose), 0);
}

}  // namespace
