// The fine unwarp against the plain one, a sample at a time: the same bytes for any
// transform, whether its samples land inside the frame, across its edges, or nowhere.
#include "detect/fine_identification.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "tests/support/frames.h"

using namespace zelk;

namespace {

// Each pattern pixel: its 2 x 2 samples, each forming its place and its four weighted
// neighbours from scratch (places to 1/128 of a pixel, sums in integers), skipping the
// neighbours outside the frame.
void plainFineSample(const TestFrame& frame, const double h[3][3], PatternImage* image) {
    for (int row = 0; row < PATTERN_SIZE; ++row)
        for (int column = 0; column < PATTERN_SIZE; ++column) {
            int32_t colour[3] = {0, 0, 0};
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i) {
                    const double X = 102.5 + 5.0 * (column * 2 + i + 0.5) / 32;
                    const double Y = 102.5 + 5.0 * (row * 2 + j + 0.5) / 32;
                    const double r = 1.0 / (h[2][0] * X + h[2][1] * Y + h[2][2]);
                    const double fx = (h[0][0] * X + h[0][1] * Y + h[0][2]) * r;
                    const double fy = (h[1][0] * X + h[1][1] * Y + h[1][2]) * r;
                    if (!(fx > -1.0 && fx < frame.width && fy > -1.0 && fy < frame.height)) continue;
                    const double x0 = std::floor(fx), y0 = std::floor(fy);
                    const int32_t ax = int32_t((fx - x0) * 128 + 0.5), ay = int32_t((fy - y0) * 128 + 0.5);
                    const int32_t weights[4] = {(128 - ax) * (128 - ay), ax * (128 - ay), (128 - ax) * ay, ax * ay};
                    for (int k = 0; k < 4; ++k) {
                        const int x = int(x0) + (k & 1), y = int(y0) + (k >> 1);
                        if (x < 0 || y < 0 || x >= frame.width || y >= frame.height) continue;
                        for (int b = 0; b < 3; ++b)
                            colour[b] += weights[k] * frame.bytes[(size_t(y) * frame.width + x) * 4 + b];
                    }
                }
            for (int b = 0; b < 3; ++b)
                image->value[(row * PATTERN_SIZE + column) * 3 + b] =
                    static_cast<unsigned char>((colour[b] + 32768) >> 16);
        }
}

class FineUnwarp : public ::testing::TestWithParam<std::pair<int, int>> {};

// Maps of the plane square onto about the frame in perspective, some with entries replaced
// by zeros, huge values, infinities or NaN, and some axis-aligned on whole pixels.
TEST_P(FineUnwarp, MatchesSamplingOneAtATime) {
    const int width = GetParam().first, height = GetParam().second;
    TestFrame frame = blankFrame(width, height);
    std::mt19937 rng(5);
    for (auto& byte : frame.bytes) byte = uint8_t(rng());
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const double special[6] = {0.0, -0.0, 1e300, inf, -inf, nan};
    for (int round = 0; round < 600; ++round) {
        const double scale = width * uniform(0.02, 0.3), tilt = uniform(-0.003, 0.003);
        double h[3][3] = {{scale * uniform(0.5, 1.5), scale * uniform(-0.5, 0.5), uniform(-110, 10) * scale},
                          {scale * uniform(-0.5, 0.5), scale * uniform(0.5, 1.5), uniform(-110, 10) * scale},
                          {tilt, uniform(-0.003, 0.003), 1.0}};
        if (round % 5 == 1) h[int(uniform(0, 3))][int(uniform(0, 3))] = special[int(uniform(0, 6))];
        if (round % 5 == 2) {
            h[0][0] = h[1][1] = 32.0;
            h[0][1] = h[1][0] = h[2][0] = h[2][1] = 0.0;
            h[0][2] = std::round(uniform(-3300, width - 3200));
            h[1][2] = std::round(uniform(-3300, height - 3200));
        }
        PatternImage fast, plain;
        const FrameImage view = frame.image();
        sampleFinely(&view, h, &fast);
        plainFineSample(frame, h, &plain);
        for (int n = 0; n < PATTERN_VALUES; ++n)
            ASSERT_EQ(fast.value[n], plain.value[n]) << "round " << round << " value " << n;
    }
}
// An ordinary frame, and a tiny one that nearly every sample misses.
INSTANTIATE_TEST_SUITE_P(Frames, FineUnwarp, ::testing::Values(std::make_pair(600, 450), std::make_pair(7, 3)));

}  // namespace
