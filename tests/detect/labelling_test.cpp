#include "detect/labelling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/frames.h"
#include "tests/support/test_detector.h"

using namespace zelk;

namespace {

// One detector's buffers serve every test.
LabelBuffers* buffers() {
    static const auto shared = newDetector();
    return &shared->labels;
}

Labelling label(const TestFrame& frame, int threshold) {
    const FrameImage image = frame.image();
    return labelFrame(buffers(), &image, threshold);
}

// The plain definition: dark interior pixels grouped by 8-connected flood fill, regions
// numbered in raster order of their first pixels.
struct Region {
    int32_t area = 0;
    int64_t sumX = 0, sumY = 0;
    int32_t xMin, xMax, yMin, yMax;
};
struct FloodFill {
    std::vector<int32_t> regionOf;  // per pixel, 0 = none
    std::vector<Region> regions;
};

bool isDark(const TestFrame& f, int x, int y, int threshold) {
    const uint8_t* p = f.data() + (size_t(y) * f.width + x) * 4;
    return p[0] + p[1] + p[2] <= 3 * threshold;
}

// The flood fill with any rule for dark pixels.
template <typename Dark>
FloodFill floodFillWhere(const TestFrame& f, Dark isDarkAt) {
    const int w = f.width, h = f.height;
    FloodFill out;
    out.regionOf.assign(size_t(w) * h, 0);
    std::vector<int> stack;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            if (out.regionOf[y * w + x] || !isDarkAt(x, y)) continue;
            const int32_t id = int32_t(out.regions.size()) + 1;
            Region r{0, 0, 0, x, x, y, y};
            out.regionOf[y * w + x] = id;
            stack.push_back(y * w + x);
            while (!stack.empty()) {
                const int i = stack.back();
                stack.pop_back();
                const int px = i % w, py = i / w;
                r.area++;
                r.sumX += px;
                r.sumY += py;
                r.xMin = std::min(r.xMin, px);
                r.xMax = std::max(r.xMax, px);
                r.yMin = std::min(r.yMin, py);
                r.yMax = std::max(r.yMax, py);
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = px + dx, ny = py + dy;
                        if (nx < 1 || ny < 1 || nx > w - 2 || ny > h - 2) continue;
                        if (out.regionOf[ny * w + nx] || !isDarkAt(nx, ny)) continue;
                        out.regionOf[ny * w + nx] = id;
                        stack.push_back(ny * w + nx);
                    }
            }
            out.regions.push_back(r);
        }
    return out;
}

FloodFill floodFill(const TestFrame& f, int threshold) {
    return floodFillWhere(f, [&](int x, int y) { return isDark(f, x, y, threshold); });
}

// The reference labelling: the per-pixel scan in which every merge rewrites the whole
// table. The fast version must match it bit for bit.
struct Reference {
    bool ok = false;
    std::vector<LabelPixel> image;
    std::vector<int32_t> table;  // raw label -> region number, n entries
    std::vector<int32_t> area;
    std::vector<RegionCentroid> centroid;
    std::vector<RegionBounds> bounds;
};

Reference referenceLabelling(const TestFrame& f, int threshold) {
    const int w = f.width, h = f.height;
    Reference ref;
    ref.image.assign(size_t(w) * h, 0);
    std::vector<int32_t>& table = ref.table;
    struct Stats {
        int32_t area;
        int64_t sumX, sumY;
        int32_t xMin, xMax, yMin, yMax;
    };
    std::vector<Stats> stats;
    auto at = [&](int x, int y) -> LabelPixel& { return ref.image[size_t(y) * w + x]; };
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            if (!isDark(f, x, y, threshold)) continue;
            const int32_t u = at(x, y - 1), ur = at(x + 1, y - 1), ul = at(x - 1, y - 1), l = at(x - 1, y);
            auto merge = [&](int32_t A, int32_t B) {
                const int32_t a = table[A - 1], b = table[B - 1];
                const int32_t keep = std::min(a, b), drop = std::max(a, b);
                if (a != b)
                    for (int32_t& e : table) {
                        if (e == drop) e = keep;
                    }
                return keep;
            };
            int32_t lab;
            if (u) {
                lab = u;
                stats[lab - 1].yMax = y;
            } else if (ur && ul) {
                lab = merge(ur, ul);
                stats[lab - 1].yMax = y;
            } else if (ur && l) {
                lab = merge(ur, l);
            } else if (ur) {
                lab = ur;
                stats[lab - 1].xMin = std::min(stats[lab - 1].xMin, x);
                stats[lab - 1].yMax = y;
            } else if (ul) {
                lab = ul;
                stats[lab - 1].xMax = std::max(stats[lab - 1].xMax, x);
                stats[lab - 1].yMax = y;
            } else if (l) {
                lab = l;
                stats[lab - 1].xMax = std::max(stats[lab - 1].xMax, x);
            } else {
                if (table.size() == size_t(RAW_LABEL_CAPACITY)) return ref;
                table.push_back(int32_t(table.size()) + 1);
                stats.push_back({0, 0, 0, x, x, y, y});
                lab = int32_t(table.size());
            }
            stats[lab - 1].area++;
            stats[lab - 1].sumX += x;
            stats[lab - 1].sumY += y;
            at(x, y) = LabelPixel(lab);
        }
    int32_t next = 1;
    for (size_t r = 1; r <= table.size(); ++r)
        table[r - 1] = table[r - 1] == int32_t(r) ? next++ : table[table[r - 1] - 1];
    const int32_t n = next - 1;
    ref.area.assign(n, 0);
    ref.centroid.assign(n, {0.0, 0.0});
    ref.bounds.assign(n, {w, 0, h, 0});
    for (size_t r = 0; r < table.size(); ++r) {
        const int k = table[r] - 1;
        ref.area[k] += stats[r].area;
        ref.centroid[k].x += double(stats[r].sumX);
        ref.centroid[k].y += double(stats[r].sumY);
        ref.bounds[k].xMin = std::min(ref.bounds[k].xMin, stats[r].xMin);
        ref.bounds[k].xMax = std::max(ref.bounds[k].xMax, stats[r].xMax);
        ref.bounds[k].yMin = std::min(ref.bounds[k].yMin, stats[r].yMin);
        ref.bounds[k].yMax = std::max(ref.bounds[k].yMax, stats[r].yMax);
    }
    for (int k = 0; k < n; ++k) {
        ref.centroid[k].x /= ref.area[k];
        ref.centroid[k].y /= ref.area[k];
    }
    ref.ok = true;
    return ref;
}

// Three bytes that sum to exactly `sum` (0 ... 765), spread at random.
void setSum(TestFrame& f, int x, int y, int sum, std::mt19937& rng) {
    const int b0 = std::uniform_int_distribution<int>(std::max(0, sum - 510), std::min(255, sum))(rng);
    const int rest = sum - b0;
    const int b1 = std::uniform_int_distribution<int>(std::max(0, rest - 255), std::min(255, rest))(rng);
    f.set(x, y, Bgra{uint8_t(b0), uint8_t(b1), uint8_t(rest - b1), uint8_t(rng())});
}

// Dark pixels sum to exactly 3 x threshold, bright ones to one more, or (a share clearBright
// of them) have every colour byte above the threshold, as paper does: runs of those are
// bright without being summed. Structured frames add random bars and blobs over the noise,
// so that regions merge in many places.
TestFrame randomFrame(int w, int h, double density, bool structured, double clearBright, int threshold,
                      std::mt19937& rng) {
    TestFrame f = blankFrame(w, h);
    std::vector<uint8_t> dark(size_t(w) * h);
    std::bernoulli_distribution noise(density);
    for (auto& d : dark) d = noise(rng);
    if (structured) {
        const int shapes = 1 + w * h / 400;
        for (int s = 0; s < shapes; ++s) {
            const int cx = int(rng() % w), cy = int(rng() % h), r = 1 + int(rng() % 6);
            const bool bar = rng() % 2;
            for (int y = std::max(0, cy - r); y < std::min(h, cy + r + 1); ++y)
                for (int x = std::max(0, cx - r); x < std::min(w, cx + r + 1); ++x)
                    if (bar ? (x == cx || y == cy) : (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                        dark[size_t(y) * w + x] = 1;
        }
    }
    std::bernoulli_distribution paper(clearBright);
    std::uniform_int_distribution<int> above(threshold + 1, 255);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!dark[size_t(y) * w + x] && paper(rng))
                f.set(x, y, Bgra{uint8_t(above(rng)), uint8_t(above(rng)), uint8_t(above(rng)), uint8_t(rng())});
            else
                setSum(f, x, y, 3 * threshold + (dark[size_t(y) * w + x] ? 0 : 1), rng);
        }
    return f;
}

struct RandomCase {
    int width, height;
    double density;
    bool structured;
    double clearBright = 0.0;
};

class LabellingOracle : public ::testing::TestWithParam<RandomCase> {};

// The labelling has the flood fill's regions, numbered alike, and its pixels.
void expectSameRegions(const Labelling& l, const FloodFill& oracle) {
    ASSERT_NE(l.image, nullptr);
    ASSERT_EQ(l.regionCount, int32_t(oracle.regions.size()));
    for (int32_t k = 0; k < l.regionCount; ++k) {
        const Region& r = oracle.regions[k];
        ASSERT_EQ(l.regionArea[k], r.area) << "region " << k + 1;
        EXPECT_EQ(l.regionCentroid[k].x, double(r.sumX) / r.area);
        EXPECT_EQ(l.regionCentroid[k].y, double(r.sumY) / r.area);
        EXPECT_EQ(l.regionBounds[k].xMin, r.xMin);
        EXPECT_EQ(l.regionBounds[k].xMax, r.xMax);
        EXPECT_EQ(l.regionBounds[k].yMin, r.yMin);
        EXPECT_EQ(l.regionBounds[k].yMax, r.yMax);
    }
    for (size_t i = 0; i < oracle.regionOf.size(); ++i) {
        if (!oracle.regionOf[i]) {
            ASSERT_EQ(l.image[i], 0) << "pixel " << i;
        } else {
            ASSERT_GT(l.image[i], 0) << "pixel " << i;
            ASSERT_EQ(l.labelTable[l.image[i] - 1], oracle.regionOf[i]) << "pixel " << i;
        }
    }
}

TEST_P(LabellingOracle, MatchesFloodFillAndTheWholeTableRewrite) {
    const RandomCase c = GetParam();
    std::mt19937 rng(unsigned(c.width * 7919 + c.height * 104729 + int(c.density * 1000) + c.structured));
    for (int round = 0; round < 6; ++round) {
        const int threshold = std::uniform_int_distribution<int>(0, 254)(rng);
        const TestFrame f = randomFrame(c.width, c.height, c.density, c.structured, c.clearBright, threshold, rng);
        const Labelling l = label(f, threshold);
        ASSERT_NE(l.image, nullptr);

        expectSameRegions(l, floodFill(f, threshold));
        if (HasFatalFailure()) return;

        const Reference ref = referenceLabelling(f, threshold);
        ASSERT_TRUE(ref.ok);
        ASSERT_TRUE(std::equal(ref.image.begin(), ref.image.end(), l.image));
        ASSERT_EQ(int32_t(ref.area.size()), l.regionCount);
        for (int32_t k = 0; k < l.regionCount; ++k) {
            ASSERT_EQ(ref.area[k], l.regionArea[k]);
            ASSERT_EQ(ref.centroid[k].x, l.regionCentroid[k].x);
            ASSERT_EQ(ref.centroid[k].y, l.regionCentroid[k].y);
            ASSERT_EQ(0, std::memcmp(&ref.bounds[k], &l.regionBounds[k], sizeof(RegionBounds))) << "region " << k + 1;
        }
        if (l.regionCount > 0) {
            ASSERT_TRUE(std::equal(ref.table.begin(), ref.table.end(), l.labelTable));
        }
    }
}

// With the automatic threshold's tile bounds (random here, 0 and above 765 included), every
// pixel sums to just below or exactly its own bound, or is paper whose bytes all reach a
// third of it: the labelling still has the flood fill's regions.
TEST_P(LabellingOracle, LocalBoundsMatchFloodFill) {
    const RandomCase c = GetParam();
    std::mt19937 rng(unsigned(c.width * 31 + c.height * 17 + int(c.density * 1000)));
    const TileGrid grid = thresholdTiles(c.width, c.height);
    uint16_t* tileBound = buffers()->tiles.bound;
    for (int round = 0; round < 4; ++round) {
        for (int32_t t = 0; t < grid.columns * grid.rows; ++t) {
            const int b = std::uniform_int_distribution<int>(-40, 805)(rng);
            tileBound[t] = uint16_t(b > 765 ? 766 : b > 725 || b < 0 ? 0 : b);
        }
        std::vector<uint16_t> bound(size_t(c.width) * c.height, 0), columnBound(grid.columns);
        for (int y = 1; y < c.height - 1; ++y) {
            rowBounds(tileBound, grid, y, columnBound.data());
            for (int x = 1; x < c.width - 1; ++x)
                bound[size_t(y) * c.width + x] = columnBound[(x - 1) / THRESHOLD_TILE];
        }
        const TestFrame shape = randomFrame(c.width, c.height, c.density, c.structured, 0.0, 0, rng);
        TestFrame f = blankFrame(c.width, c.height);
        std::bernoulli_distribution paper(c.clearBright);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const int b = bound[size_t(y) * c.width + x];
                const uint8_t* s = shape.data() + (size_t(y) * c.width + x) * 4;
                const bool dark = s[0] + s[1] + s[2] == 0 && b > 0;
                if (!dark && paper(rng) && b <= 765) {
                    const uint8_t least = uint8_t((b + 2) / 3);
                    f.set(x, y, Bgra{uint8_t(std::max<int>(least, rng() % 256)), least, uint8_t(255), 0});
                } else {
                    setSum(f, x, y, std::min(dark ? b - 1 : b, 765), rng);
                }
            }
        const FrameImage image = f.image();
        expectSameRegions(labelFrameLocally(buffers(), &image, false), floodFillWhere(f, [&](int x, int y) {
                              const uint8_t* p = f.data() + (size_t(y) * c.width + x) * 4;
                              return p[0] + p[1] + p[2] < bound[size_t(y) * c.width + x];
                          }));
        if (HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, LabellingOracle,
    ::testing::Values(RandomCase{3, 3, 0.5, false}, RandomCase{3, 9, 0.7, false}, RandomCase{9, 3, 0.7, false},
                      RandomCase{4, 4, 0.9, false}, RandomCase{13, 7, 0.5, false}, RandomCase{64, 48, 0.05, false},
                      RandomCase{64, 48, 0.3, false}, RandomCase{64, 48, 0.5, false}, RandomCase{64, 48, 0.7, false},
                      RandomCase{64, 48, 0.95, false}, RandomCase{201, 77, 0.02, true}, RandomCase{201, 77, 0.2, true},
                      RandomCase{160, 120, 0.45, true}, RandomCase{160, 120, 0.6, true},
                      RandomCase{18, 9, 0.05, false, 0.99}, RandomCase{33, 20, 0.01, true, 0.9},
                      RandomCase{201, 77, 0.002, true, 0.98}, RandomCase{160, 120, 0.001, true, 1.0},
                      // Rows of exactly one and just over one 64-pixel word, and long runs across words.
                      RandomCase{66, 20, 0.9, false}, RandomCase{67, 20, 0.9, false}, RandomCase{130, 30, 0.8, true},
                      RandomCase{1000, 12, 0.97, false}),
    [](const auto& info) {
        const RandomCase& c = info.param;
        return std::to_string(c.width) + "x" + std::to_string(c.height) + "_" + std::to_string(int(c.density * 1000)) +
               (c.structured ? "_shapes" : "_noise") +
               (c.clearBright > 0 ? "_paper" + std::to_string(int(c.clearBright * 100)) : "");
    });

TEST(Labelling, BrightFrameHasNoRegionsAndDarkFrameOne) {
    const TestFrame bright = blankFrame(20, 10);
    const Labelling b = label(bright, 100);
    ASSERT_NE(b.image, nullptr);
    EXPECT_EQ(b.regionCount, 0);
    EXPECT_TRUE(std::all_of(b.image, b.image + 200, [](LabelPixel p) { return p == 0; }));

    const Labelling d = label(blankFrame(20, 10, kBlack), 0);
    ASSERT_NE(d.image, nullptr);
    ASSERT_EQ(d.regionCount, 1);
    EXPECT_EQ(d.regionArea[0], 18 * 8);
    EXPECT_EQ(d.regionCentroid[0].x, 9.5);
    EXPECT_EQ(d.regionCentroid[0].y, 4.5);
    EXPECT_EQ(d.regionBounds[0].xMin, 1);
    EXPECT_EQ(d.regionBounds[0].xMax, 18);
    EXPECT_EQ(d.regionBounds[0].yMin, 1);
    EXPECT_EQ(d.regionBounds[0].yMax, 8);
    for (int x = 0; x < 20; ++x) EXPECT_EQ(d.image[x] | d.image[9 * 20 + x], 0);
    for (int y = 0; y < 10; ++y) EXPECT_EQ(d.image[y * 20] | d.image[y * 20 + 19], 0);
}

TEST(Labelling, ThresholdOutsideTheByteRangeIsClamped) {
    for (const int width : {5, 40}) {  // pixel by pixel, and sixteen at a time
        TestFrame f = blankFrame(width, 5, Bgra{255, 255, 254, 0});
        f.set(2, 2, kBlack);
        EXPECT_EQ(label(f, -1).regionCount, 0);
        EXPECT_EQ(label(f, -2000000000).regionCount, 0);
        EXPECT_EQ(label(f, 0).regionArea[0], 1);
        EXPECT_EQ(label(f, 254).regionArea[0], 1);
        EXPECT_EQ(label(f, 255).regionCount, 1);
        EXPECT_EQ(label(f, 2000000000).regionCount, 1);
        EXPECT_EQ(label(f, 2000000000).regionArea[0], (width - 2) * 3);
    }
}

TEST(Labelling, UShapeIsOneRegionNumberedByItsFirstArm) {
    TestFrame f = blankFrame(30, 20);
    fillRect(f, 10, 3, 11, 12, kBlack);  // right arm, met first
    fillRect(f, 3, 5, 4, 12, kBlack);    // left arm, starts lower
    fillRect(f, 3, 13, 11, 14, kBlack);  // the bottom joins them
    fillRect(f, 20, 4, 22, 6, kBlack);   // a separate blob whose first pixel comes between
    const Labelling l = label(f, 50);
    ASSERT_EQ(l.regionCount, 2);
    EXPECT_EQ(l.regionArea[0], 2 * 10 + 2 * 8 + 9 * 2);
    EXPECT_EQ(l.regionBounds[0].xMin, 3);
    EXPECT_EQ(l.regionBounds[0].yMin, 3);
    EXPECT_EQ(l.regionArea[1], 9);
    EXPECT_EQ(l.labelTable[l.image[5 * 30 + 3] - 1], 1);  // left arm maps to region 1
}

TEST(Labelling, RefusesSizesOutsideTheLabelImage) {
    const TestFrame f = blankFrame(1024, 1025, kBlack);
    struct Size {
        int w, h;
        bool fits;
    };
    for (const Size s : {Size{2, 5, true}, Size{5, 2, true}, Size{1, 1, true}, Size{1048576, 1, true},
                         Size{0, 0, false}, Size{-3, -4, false}, Size{0, 5, false}, Size{1024, 1025, false},
                         Size{1048577, 1, false}, Size{3, 3, true}, Size{1024, 1024, true}, Size{349525, 3, true}}) {
        SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
        EXPECT_EQ(labelImageFits(s.w, s.h), s.fits);
        const FrameImage sized = {f.data(), s.w, s.h, 4 * s.w};
        const Labelling l = labelFrame(buffers(), &sized, 10);
        EXPECT_EQ(l.image != nullptr, s.fits);
        // A side below 3 leaves no pixel inside the border ring.
        const bool inner = s.fits && s.w >= 3 && s.h >= 3;
        ASSERT_EQ(l.regionCount, inner ? 1 : 0);
        if (inner) {
            EXPECT_EQ(l.regionArea[0], (s.w - 2) * (s.h - 2));
        } else if (s.fits) {
            EXPECT_TRUE(std::all_of(l.image, l.image + size_t(s.w) * s.h, [](LabelPixel p) { return p == 0; }));
        }
    }
    EXPECT_EQ(labelFrame(buffers(), nullptr, 10).image, nullptr);
    const FrameImage noPixels = {nullptr, 5, 5, 20};
    EXPECT_EQ(labelFrame(buffers(), &noPixels, 10).image, nullptr);
    const FrameImage shortRows = {f.data(), 5, 5, 19};
    EXPECT_EQ(labelFrame(buffers(), &shortRows, 10).image, nullptr);
}

TEST(Labelling, WideFrameSumsDoNotOverflow) {
    const TestFrame f = blankFrame(349525, 3, kBlack);
    const Labelling l = label(f, 0);
    ASSERT_EQ(l.regionCount, 1);
    EXPECT_EQ(l.regionCentroid[0].x, 349524 / 2.0);
    EXPECT_EQ(l.regionCentroid[0].y, 1.0);
}

// Isolated dots on every other row and column, each its own raw label.
TestFrame dotLattice(int columns, int rows, int extra) {
    TestFrame f = blankFrame(2 * columns + 1, 2 * rows + 1 + (extra ? 2 : 0));
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) f.set(2 * i + 1, 2 * j + 1, kBlack);
    for (int i = 0; i < extra; ++i) f.set(2 * i + 1, 2 * rows + 1, kBlack);
    return f;
}

TEST(Labelling, AllRawLabelsFitAndOneMoreFails) {
    const Labelling full = label(dotLattice(256, 128, 0), 10);
    ASSERT_NE(full.image, nullptr);
    EXPECT_EQ(full.regionCount, RAW_LABEL_CAPACITY);
    EXPECT_EQ(full.image[255 * 513 + 511], RAW_LABEL_CAPACITY);
    EXPECT_EQ(full.labelTable[RAW_LABEL_CAPACITY - 1], RAW_LABEL_CAPACITY);

    const Labelling over = label(dotLattice(256, 128, 1), 10);
    EXPECT_EQ(over.image, nullptr);
    EXPECT_EQ(over.regionCount, 0);
}

}  // namespace
