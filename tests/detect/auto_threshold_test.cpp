#include "detect/auto_threshold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "detect/labelling.h"
#include "tests/support/frames.h"
#include "tests/support/test_detector.h"

using namespace zelk;

namespace {

// Labels with the bounds measured in the pass, and checks them against measuring first.
Labelling labelLocally(const TestFrame& f, ThresholdTiles* measured) {
    static const auto detector = newDetector();
    const FrameImage image = f.image();
    measureTileBounds(&image, measured);
    const Labelling l = labelFrameLocally(&detector->labels, &image, true);
    const TileGrid grid = thresholdTiles(f.width, f.height);
    EXPECT_TRUE(std::equal(measured->bound, measured->bound + grid.columns * grid.rows, detector->labels.tiles.bound));
    return l;
}

struct Uniform {
    int width, height;
    Bgra colour;
};

class UniformFrame : public ::testing::TestWithParam<Uniform> {};

// A frame of one level, from black to white, of any shape down to 3 x 3 and up to the
// tallest: every bound is that level less the offset, and nothing is dark.
TEST_P(UniformFrame, HasNothingDark) {
    const Uniform u = GetParam();
    auto tiles = std::make_unique<ThresholdTiles>();
    const Labelling l = labelLocally(blankFrame(u.width, u.height, u.colour), tiles.get());
    ASSERT_NE(l.image, nullptr);
    EXPECT_EQ(l.regionCount, 0);
    const TileGrid grid = thresholdTiles(u.width, u.height);
    ASSERT_LE(grid.columns * grid.rows, TILE_CAPACITY);
    const int expected = std::max(u.colour.b + u.colour.g + u.colour.r - AUTO_THRESHOLD_OFFSET, 0);
    for (int32_t t = 0; t < grid.columns * grid.rows; ++t) ASSERT_EQ(tiles->bound[t], expected) << "tile " << t;
}

INSTANTIATE_TEST_SUITE_P(Frames, UniformFrame,
                         ::testing::Values(Uniform{3, 3, kBlack}, Uniform{3, 3, kWhite},
                                           Uniform{17, 5, Bgra{7, 7, 7, 0}}, Uniform{18, 18, Bgra{1, 0, 0, 9}},
                                           Uniform{35, 49, Bgra{200, 40, 90, 0}},
                                           Uniform{640, 480, Bgra{128, 128, 128, 255}},
                                           Uniform{3, 349525, Bgra{255, 255, 254, 0}},
                                           Uniform{349525, 3, Bgra{60, 61, 62, 0}}));

// Light falling from one side: the black of the bright side is lighter than the paper of
// the dim side, so no single threshold separates them, but each square is one region.
TEST(AutoThreshold, SeparatesSquaresFromPaperUnderUnevenLight) {
    TestFrame f = blankFrame(320, 120);
    for (int x = 0; x < f.width; ++x) {
        const uint8_t paper = uint8_t(60 + 190 * x / (f.width - 1));
        fillRect(f, x, 0, x, f.height - 1, Bgra{paper, paper, paper, 0});
    }
    std::vector<double> centres;
    for (double cx = 30; cx < 320; cx += 65) {
        const uint8_t ink = uint8_t(10 + 70 * cx / 320);
        const uint8_t paper = f.pixel(int(cx), 0)[0];
        drawMarkerBorder(f, cx, 60, 40, 0.3, Bgra{ink, ink, ink, 0}, Bgra{paper, paper, paper, 0});
        centres.push_back(cx);
    }
    auto tiles = std::make_unique<ThresholdTiles>();
    const Labelling l = labelLocally(f, tiles.get());
    // Specks where the frame's edge cuts the window short are far below a candidate's size.
    std::vector<int32_t> large;
    for (int32_t k = 0; k < l.regionCount; ++k)
        if (l.regionArea[k] >= 70) large.push_back(k);
    ASSERT_EQ(large.size(), centres.size());
    for (size_t i = 0; i < large.size(); ++i) {
        EXPECT_NEAR(l.regionCentroid[large[i]].x, centres[i], 1.0);
        EXPECT_NEAR(l.regionCentroid[large[i]].y, 60, 1.0);
        EXPECT_NEAR(l.regionArea[large[i]], 0.75 * 40 * 40, 0.05 * 40 * 40);
    }
}

}  // namespace

namespace {

class TileBounds : public ::testing::TestWithParam<std::pair<int, int>> {};

// Random frames of shapes with one or many tiles, narrow last ones and edges: the bounds and
// their interpolation are those of the plain sums, a tile and pixel at a time.
TEST_P(TileBounds, AreThePlainMeansLessTheOffset) {
    const int width = GetParam().first, height = GetParam().second;
    TestFrame f = blankFrame(width, height);
    std::mt19937 rng(unsigned(width * 7 + height));
    for (auto& byte : f.bytes) byte = uint8_t(rng() % 2 ? rng() : 200 + rng() % 56);
    auto tiles = std::make_unique<ThresholdTiles>();
    const FrameImage image = f.image();
    measureTileBounds(&image, tiles.get());
    const TileGrid grid = thresholdTiles(width, height);
    std::vector<int> mean(size_t(grid.columns) * grid.rows);
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.columns; ++c) {
            int sum = 0, count = 0;
            for (int y = 1 + 16 * r; y < std::min(17 + 16 * r, height - 1); y += 8)
                for (int x = 1 + 16 * c; x < std::min(17 + 16 * c, width - 1); ++x, ++count)
                    for (int b = 0; b < 3; ++b) sum += f.pixel(x, y)[b];
            mean[size_t(r) * grid.columns + c] = sum / count;
        }
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.columns; ++c) {
            int sum = 0, count = 0;
            for (int i = std::max(r - 1, 0); i <= std::min(r + 1, grid.rows - 1); ++i)
                for (int j = std::max(c - 1, 0); j <= std::min(c + 1, grid.columns - 1); ++j, ++count)
                    sum += mean[size_t(i) * grid.columns + j];
            ASSERT_EQ(tiles->bound[r * grid.columns + c], std::max(sum / count - AUTO_THRESHOLD_OFFSET, 0))
                << "tile " << c << ", " << r;
        }
    // Any bounds up to just above the largest sum, interpolated at every row.
    for (int t = 0; t < grid.columns * grid.rows; ++t) tiles->bound[t] = uint16_t(rng() % 767);
    std::vector<uint16_t> columnBound(grid.columns);
    for (int y = 1; y < height - 1; ++y) {
        rowBounds(tiles->bound, grid, y, columnBound.data());
        const int middle = 2 * (y - (y - 1) % BOUND_ROWS) + 3 - 17;
        const int r = std::min(std::max(middle, 0) / 32, grid.rows - 1);
        const int fraction = r == grid.rows - 1 ? 0 : std::max(middle, 0) % 32;
        for (int c = 0; c < grid.columns; ++c) {
            const int upper = tiles->bound[r * grid.columns + c];
            const int lower = fraction ? tiles->bound[(r + 1) * grid.columns + c] : upper;
            ASSERT_EQ(columnBound[c], (upper * (32 - fraction) + lower * fraction + 16) / 32) << c << ", " << y;
        }
    }
}
INSTANTIATE_TEST_SUITE_P(Frames, TileBounds,
                         ::testing::Values(std::make_pair(3, 3), std::make_pair(18, 40), std::make_pair(161, 17),
                                           std::make_pair(200, 35), std::make_pair(640, 480),
                                           std::make_pair(1282, 90)));

}  // namespace
