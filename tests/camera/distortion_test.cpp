#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <random>
#include <vector>

#include "camera/distortion.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

using namespace zelk;

namespace {
const double CAMERA[4] = {318.5, 263.5, 26.2, 1.0127};
}

TEST(Distortion, KnownPointBothWays) {
    double ox = 0, oy = 0;
    ASSERT_EQ(idealToObserved(CAMERA, 400, 300, &ox, &oy), 0);
    EXPECT_NEAR(ox, 400.8582001106686, 1e-10);
    EXPECT_NEAR(oy, 300.384347288827, 1e-10);
    double ix = 0, iy = 0;
    ASSERT_EQ(observedToIdeal(CAMERA, ox, oy, &ix, &iy), 0);
    EXPECT_NEAR(ix, 400, 1e-9);
    EXPECT_NEAR(iy, 300, 1e-9);
}

TEST(Distortion, CentreMapsToItself) {
    double x = -1, y = -1;
    ASSERT_EQ(idealToObserved(CAMERA, CAMERA[0], CAMERA[1], &x, &y), 0);
    EXPECT_EQ(x, CAMERA[0]);
    EXPECT_EQ(y, CAMERA[1]);
    ASSERT_EQ(observedToIdeal(CAMERA, CAMERA[0], CAMERA[1], &x, &y), 0);
    EXPECT_EQ(x, CAMERA[0]);
    EXPECT_EQ(y, CAMERA[1]);
}

struct ScaleCase {
    double scale;
    double observedFactor;  // observed offset / ideal offset
};
void PrintTo(const ScaleCase& c, std::ostream* os) { *os << "scale " << c.scale; }

class DistortionScaleTest : public testing::TestWithParam<ScaleCase> {};

TEST_P(DistortionScaleTest, WithoutRadialTermOffsetsScale) {
    const double factors[4] = {100, 50, 0, GetParam().scale};
    const double f = GetParam().observedFactor;
    double ox = 0, oy = 0, ix = 0, iy = 0;
    ASSERT_EQ(idealToObserved(factors, 130, 10, &ox, &oy), 0);
    EXPECT_DOUBLE_EQ(ox, 100 + 30 * f);
    EXPECT_DOUBLE_EQ(oy, 50 - 40 * f);
    ASSERT_EQ(observedToIdeal(factors, 130, 10, &ix, &iy), 0);
    EXPECT_DOUBLE_EQ(ix, 100 + 30 / f);
    EXPECT_DOUBLE_EQ(iy, 50 - 40 / f);
}

INSTANTIATE_TEST_SUITE_P(Scales, DistortionScaleTest, testing::Values(ScaleCase{1, 1}, ScaleCase{2, 2}));

TEST(Distortion, ScaleZeroOrNullIsAFailure) {
    const double flat[4] = {100, 50, 26.2, 0};
    double x = 0, y = 0;
    EXPECT_EQ(observedToIdeal(flat, 130, 10, &x, &y), -1);
    EXPECT_FALSE(std::isfinite(x));
    // Ideal to observed collapses every point onto the centre: a finite answer.
    EXPECT_EQ(idealToObserved(flat, 130, 10, &x, &y), 0);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(idealToObserved(CAMERA, NAN, 10, &x, &y), -1);
    EXPECT_EQ(idealToObserved(nullptr, 1, 1, &x, &y), -1);
    EXPECT_EQ(observedToIdeal(CAMERA, 1, 1, nullptr, &y), -1);
}

// A radial factor of 300 folds observed radii back at 1 / sqrt(3 x 3e-6) = 333.3 pixels;
// a negative one never does.
TEST(Distortion, LensRangeEndsWhereObservedRadiiTurnBack) {
    const double folding[4] = {100, 50, 300, 1}, barrel[4] = {100, 50, -300, 1};
    EXPECT_EQ(idealPointInLensRange(folding, 100, 50), 0);
    EXPECT_EQ(idealPointInLensRange(folding, 100 + 333, 50), 0);
    EXPECT_EQ(idealPointInLensRange(folding, 100, 50 - 334), -1);
    EXPECT_EQ(idealPointInLensRange(barrel, 1e6, -1e6), 0);
    EXPECT_EQ(idealPointInLensRange(barrel, NAN, 0), -1);
    EXPECT_EQ(idealPointInLensRange(nullptr, 0, 0), -1);
}

TEST(Distortion, RoundTripOverTheFrame) {
    // Every 4th pixel of a 640 x 480 frame, both ways round.
    double worstFromIdeal = 0;
    double worstFromObserved = 0;
    for (int y = 0; y <= 480; y += 4) {
        for (int x = 0; x <= 640; x += 4) {
            double ox = 0, oy = 0, ix = 0, iy = 0;
            ASSERT_EQ(idealToObserved(CAMERA, x, y, &ox, &oy), 0);
            ASSERT_EQ(observedToIdeal(CAMERA, ox, oy, &ix, &iy), 0);
            worstFromIdeal = std::max(worstFromIdeal, std::hypot(ix - x, iy - y));
            ASSERT_EQ(observedToIdeal(CAMERA, x, y, &ix, &iy), 0);
            ASSERT_EQ(idealToObserved(CAMERA, ix, iy, &ox, &oy), 0);
            worstFromObserved = std::max(worstFromObserved, std::hypot(ox - x, oy - y));
        }
    }
    RecordProperty("worst_from_ideal", testing::PrintToString(worstFromIdeal));
    RecordProperty("worst_from_observed", testing::PrintToString(worstFromObserved));
    std::cout << "worst round-trip error (pixel): ideal first " << worstFromIdeal << ", observed first "
              << worstFromObserved << "\n";
    EXPECT_LT(worstFromIdeal, 1e-9);
    EXPECT_LT(worstFromObserved, 1e-9);
}

// The vector conversion against the one-point one, bit for bit: cameras with and without a
// radial term (negative too), scales with and without an exact reciprocal, hostile factors
// (overflowing distances, NaN, infinities, a zero scale), points at the centre (distance 0),
// far out and at the ends of the int32 range, and every count up to two blocks of vectors
// and a remainder.
const double HOSTILE_CAMERAS[][4] = {{318.5, 263.5, 26.2, 1.0127},
                                     {320, 240, 0, 1},
                                     {100, 50, -3000, 0.97},
                                     {0.25, 7, 1e6, 1.3},
                                     {320, 240, 0, 2},
                                     {320, 240, 0, 0.5},
                                     {320, 240, -0.0, -1},
                                     {320, 240, 26.2, 1},
                                     {320, 240, 1e-300, 1},
                                     {0.25, 0.5, 0, 0x1p1022},
                                     {320, 240, 0, 0x1p1023},
                                     {320, 240, 0, 0x1p-1022},
                                     {320, 240, 0, 4.9e-324},
                                     {320, 240, 0, 0},
                                     {1e200, 0, 0, 1},
                                     {1e200, 0, 26.2, 1},
                                     {NAN, 240, 0, 1},
                                     {320, 240, INFINITY, 1},
                                     {320, 240, 0, INFINITY},
                                     {320, 240, 0, 1.0000000000000002}};

void expectBatchesMatchSinglePoints() {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> coordinate(-4000, 4000);
    for (const auto& camera : HOSTILE_CAMERAS) {
        for (int32_t count = 0; count <= 40; count += count < 18 ? 1 : 11) {
            std::vector<int32_t> xs(count), ys(count);
            for (int32_t j = 0; j < count; j++) {
                const bool centre =
                    j % 5 == 3 && camera[0] == std::floor(camera[0]) && camera[1] == std::floor(camera[1]);
                xs[j] = centre ? int32_t(camera[0]) : coordinate(rng) / (j % 2 ? 1 : 10);
                ys[j] = centre ? int32_t(camera[1]) : coordinate(rng) / (j % 3 ? 1 : 10);
                if (j % 7 == 6) xs[j] = j % 2 ? INT32_MAX : INT32_MIN;
            }
            std::vector<double> batch(2 * count + 2, -7.0), single(2 * count + 2, -7.0);
            observedToIdealPoints(camera, xs.data(), ys.data(), count, batch.data());
            for (int32_t j = 0; j < count; j++)
                observedToIdeal(camera, xs[j], ys[j], &single[2 * j], &single[2 * j + 1]);
            ASSERT_EQ(0, std::memcmp(batch.data(), single.data(), batch.size() * sizeof(double)))
                << "camera " << camera[0] << ", " << camera[1] << ", " << camera[2] << ", " << camera[3] << "; "
                << count << " points";
        }
    }
}

TEST(Distortion, PointBatchesMatchSinglePointsBitForBit) { expectBatchesMatchSinglePoints(); }

#if defined(__SSE2__)
// A host may flush denormals to zero, in results and in operands; the shortcuts hold then too.
TEST(Distortion, PointBatchesMatchSinglePointsWithDenormalsFlushed) {
    struct FlushDenormals {
        const unsigned int saved = _mm_getcsr();
        FlushDenormals() { _mm_setcsr(saved | 0x8040); }  // flush to zero, denormals are zero
        ~FlushDenormals() { _mm_setcsr(saved); }
    } flushed;
    expectBatchesMatchSinglePoints();
}
#endif
