#include "detect/edge_lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "camera/camera_params.h"
#include "detect/detector.h"
#include "tests/support/frames.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/plain_fits.h"
#include "tests/support/test_detector.h"

using namespace zelk;

namespace {

const double IDENTITY[4] = {0.0, 0.0, 0.0, 1.0};

// A closed outline through four integer corners, each side walked in unit or diagonal
// steps (so every point lies exactly on its side), corners at v(0) ... v(3).
std::unique_ptr<SquareCandidate> outline(const int corners[4][2], int area = 1000) {
    auto candidate = std::make_unique<SquareCandidate>();
    int n = 0;
    for (int i = 0; i < 4; i++) {
        candidate->vertexIndex[i] = n;
        const int* from = corners[i];
        const int* to = corners[(i + 1) % 4];
        const int steps = std::max(std::abs(to[0] - from[0]), std::abs(to[1] - from[1]));
        for (int k = 0; k < steps; k++, n++) {
            candidate->contourX[n] = from[0] + (to[0] - from[0]) * k / steps;
            candidate->contourY[n] = from[1] + (to[1] - from[1]) * k / steps;
        }
    }
    candidate->contourX[n] = candidate->contourX[0];
    candidate->contourY[n] = candidate->contourY[0];
    candidate->vertexIndex[4] = n;
    candidate->contourLength = n + 1;
    candidate->pixelArea = area;
    candidate->centre[0] = corners[0][0];
    candidate->centre[1] = corners[0][1];
    return candidate;
}

// One detector's buffers serve every test.
Detector& detector() {
    static const auto shared = newDetector();
    return *shared;
}

int fit(const SquareCandidate& c, double lines[4][3], double corners[4][2], const double* factors = IDENTITY) {
    return fitEdgeLines(c.contourX, c.contourY, c.vertexIndex, factors, &detector().sidePoints, lines, corners);
}

TEST(EdgeLines, TrimsFivePercentAtEachEndOfASide) {
    const int square[4][2] = {{10, 10}, {109, 10}, {109, 109}, {10, 109}};
    auto candidate = outline(square);
    ASSERT_EQ(candidate->vertexIndex[1], 99);  // n = 100: points 5 ... 93 are fitted
    // Points the trim drops are pulled far off the line; the first and last kept ones
    // are lifted by 1, which moves the line to y = 10 + 2 / 89 only if both are used.
    for (int j = 1; j < 99; j++) candidate->contourY[j] = (j < 5 || j > 93) ? 40 : (j == 5 || j == 93) ? 11 : 10;
    double lines[4][3], corners[4][2];
    ASSERT_EQ(fit(*candidate, lines, corners), 0);
    EXPECT_NEAR(lines[0][0], 0.0, 1e-12);
    EXPECT_NEAR(std::fabs(lines[0][1]), 1.0, 1e-12);
    EXPECT_NEAR(-lines[0][2] / lines[0][1], 10.0 + 2.0 / 89.0, 1e-9);
}

struct StraightCase {
    const char* name;
    int corners[4][2];
    double factors[4];
};
class StraightOutline : public ::testing::TestWithParam<StraightCase> {};
TEST_P(StraightOutline, LinesRunThroughTheSidesAndMeetAtTheSharedEnds) {
    const StraightCase& p = GetParam();
    auto candidate = outline(p.corners);
    double lines[4][3], corners[4][2];
    ASSERT_EQ(fit(*candidate, lines, corners, p.factors), 0);
    // The outline is straight in ideal coordinates: observed offsets from the centre / scale.
    auto ideal = [&](double observed, int axis) {
        return (observed - p.factors[axis]) / p.factors[3] + p.factors[axis];
    };
    for (int i = 0; i < 4; i++) {
        EXPECT_NEAR(std::hypot(lines[i][0], lines[i][1]), 1.0, 1e-12);
        for (int k = candidate->vertexIndex[i]; k <= candidate->vertexIndex[i + 1]; k++)
            EXPECT_NEAR(lines[i][0] * ideal(candidate->contourX[k], 0) +
                            lines[i][1] * ideal(candidate->contourY[k], 1) + lines[i][2],
                        0.0, 1e-9);
        EXPECT_NEAR(corners[i][0], ideal(p.corners[i][0], 0), 1e-9);
        EXPECT_NEAR(corners[i][1], ideal(p.corners[i][1], 1), 1e-9);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Shapes, StraightOutline,
    ::testing::Values(StraightCase{"Square", {{110, 110}, {20, 110}, {20, 20}, {110, 20}}, {0, 0, 0, 1}},
                      StraightCase{"Diamond", {{60, 10}, {110, 60}, {60, 110}, {10, 60}}, {0, 0, 0, 1}},
                      StraightCase{"Oblong", {{10, 10}, {200, 10}, {200, 50}, {10, 50}}, {0, 0, 0, 1}},
                      StraightCase{"HalvedAroundACentre", {{110, 110}, {20, 110}, {20, 20}, {110, 20}}, {5, 7, 0, 2}}),
    [](const ::testing::TestParamInfo<StraightCase>& info) { return std::string(info.param.name); });

struct DroppedCase {
    const char* name;
    int corners[4][2];
};
class DroppedOutline : public ::testing::TestWithParam<DroppedCase> {};
TEST_P(DroppedOutline, IsRefused) {
    auto candidate = outline(GetParam().corners);
    double lines[4][3], corners[4][2];
    EXPECT_EQ(fit(*candidate, lines, corners), -1);
}
INSTANTIATE_TEST_SUITE_P(
    Shapes, DroppedOutline,
    ::testing::Values(DroppedCase{"TwoPointSide", {{10, 10}, {11, 10}, {11, 60}, {10, 60}}},
                      DroppedCase{"ParallelNeighbours", {{10, 10}, {60, 10}, {110, 10}, {60, 60}}}),
    [](const ::testing::TestParamInfo<DroppedCase>& info) { return std::string(info.param.name); });

// Lenses for the comparisons below: none, radial terms, a scale with and without an exact
// reciprocal, and a hostile one whose distances overflow.
const double LENSES[][4] = {{0, 0, 0, 1},
                            {320, 240, 0, 1},
                            {318.5, 263.5, 26.2, 1.0127},
                            {100, 50, -3000, 0.97},
                            {320.5, 239.25, -12.75, 0.998},
                            {320, 240, 0, 0.5},
                            {1e200, 0, 0, 1}};

// The fit against the one computed from its formulas: the same outcome, the same lines (a
// line's sign is free) and the same corners, to rounding (met: 3e-13 and 2e-11 relative).
void expectFitsLikeThePlainComputation(const SquareCandidate& c, const char* what, int index) {
    for (const auto& lens : LENSES) {
        double lines[4][3], corners[4][2], plainLines[4][3], plainCorners[4][2];
        const int status = fit(c, lines, corners, lens);
        const int plainStatus = plainEdgeLines(c.contourX, c.contourY, c.vertexIndex, lens, plainLines, plainCorners);
        ASSERT_EQ(status, plainStatus) << what << " " << index << ", lens " << lens[2];
        if (status < 0) continue;
        for (int i = 0; i < 4; i++) {
            const double sign = lines[i][0] * plainLines[i][0] + lines[i][1] * plainLines[i][1] < 0 ? -1 : 1;
            for (int k = 0; k < 3; k++) {
                const double off = std::fabs(lines[i][k] - sign * plainLines[i][k]) / (1 + std::fabs(lines[i][k]));
                EXPECT_LT(off, 1e-9) << what << " " << index << ", lens " << lens[2] << ", line " << i << "." << k;
            }
            for (int k = 0; k < 2; k++) {
                const double off = std::fabs(corners[i][k] - plainCorners[i][k]) / (1 + std::fabs(corners[i][k]));
                EXPECT_LT(off, 1e-8) << what << " " << index << ", lens " << lens[2] << ", corner " << i << "." << k;
            }
        }
    }
}

// The fit (vector point conversion, two-column PCA) against the plain computation, bit for
// bit: random quadrilaterals with jittered outlines, and the outlines traced from drawn markers.
TEST(EdgeLines, RandomOutlinesFitLikeThePlainComputation) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> position(-50, 700), jitter(-2, 2);
    for (int shape = 0; shape < 300; shape++) {
        int corners[4][2];
        for (auto& corner : corners) corner[0] = position(rng), corner[1] = position(rng);
        auto candidate = outline(corners);
        for (int k = 1; k < candidate->vertexIndex[4]; k++)
            if (shape % 2) candidate->contourX[k] += jitter(rng), candidate->contourY[k] += jitter(rng);
        expectFitsLikeThePlainComputation(*candidate, "shape", shape);
    }
}

TEST(EdgeLines, TracedMarkersFitLikeThePlainComputation) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> size(20, 300), angle(0, 6.3), shift(-60, 60);
    int traced = 0;
    for (int frame = 0; frame < 40; frame++) {
        TestFrame f = blankFrame(640, 480);
        drawMarkerBorder(f, 320 + shift(rng), 240 + shift(rng), size(rng), angle(rng));
        const FrameImage image = f.image();
        const Labelling labelling = labelFrame(&detector().labels, &image, 100);
        CandidateList& list = detector().candidates;
        const int32_t count = extractCandidates(&labelling, &detector().settings.candidateLimits, &list);
        for (int32_t k = 0; k < count; k++) expectFitsLikeThePlainComputation(list.entries[k], "frame", frame);
        traced += count;
    }
    EXPECT_GE(traced, 35);
}

class MarkerList : public ::testing::Test {
protected:
    void SetUp() override {
        for (size_t n = 0; n < frame.bytes.size(); n += 4) frame.bytes[n] = static_cast<uint8_t>(n / 4 % 200);
    }
    int32_t build() {
        const FrameImage image = frame.image();
        return buildMarkerList(&image, &detector->camera, &detector->patterns, &detector->candidates,
                               &detector->sidePoints, &detector->markers);
    }
    std::unique_ptr<Detector> detector = newDetector();  // no pattern registered
    TestFrame frame = blankFrame(200, 200);
};

TEST_F(MarkerList, DroppedCandidatesLeaveNoGap) {
    const int broken[4][2] = {{10, 10}, {11, 10}, {11, 60}, {10, 60}};
    const int square[4][2] = {{150, 150}, {50, 150}, {50, 50}, {150, 50}};
    CandidateList& candidates = detector->candidates;
    candidates.entries[0] = *outline(broken, 111);
    candidates.entries[1] = *outline(square, 222);
    candidates.entries[2] = *outline(broken, 333);
    candidates.count = 3;
    ASSERT_EQ(build(), 1);
    const MarkerRecord* list = detector->markers.records;
    ASSERT_EQ(detector->markers.count, 1);
    EXPECT_EQ(list[0].pixelArea, 222);
    EXPECT_EQ(list[0].centre[0], 150.0);
    EXPECT_NEAR(list[0].corners[2][0], 50.0, 1e-9);
    // No pattern registered: unidentified, but kept.
    EXPECT_EQ(list[0].patternId, -1);
    EXPECT_EQ(list[0].direction, -1);
    EXPECT_EQ(list[0].confidence, 0.0);
}

// The count says the list is empty; the records are left as they were.
TEST_F(MarkerList, NoCandidatesNoMarkers) {
    zelk::MarkerList& markers = detector->markers;
    std::memset(markers.records, 0x5A, sizeof markers.records);
    markers.count = 7;
    const zelk::MarkerList before = markers;
    EXPECT_EQ(build(), 0);
    EXPECT_EQ(markers.count, 0);
    EXPECT_EQ(0, std::memcmp(markers.records, before.records, sizeof markers.records));
}

}  // namespace
