#include "detect/candidates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/support/frames.h"
#include "tests/support/test_detector.h"

using namespace zelk;

namespace {

// One detector's buffers serve every test.
Detector& detector() {
    static const auto shared = newDetector();
    return *shared;
}

Labelling labelled(const TestFrame& frame) {
    const FrameImage image = frame.image();
    const Labelling l = labelFrame(&detector().labels, &image, 100);
    EXPECT_NE(l.image, nullptr);
    return l;
}

std::vector<const SquareCandidate*> candidates(const TestFrame& frame, int32_t maxArea = 100000, int32_t minArea = 70) {
    const Labelling l = labelled(frame);
    const CandidateLimits limits = {maxArea, minArea, 1.0};
    CandidateList& list = detector().candidates;
    const int32_t count = extractCandidates(&l, &limits, &list);
    EXPECT_EQ(count, list.count);
    std::vector<const SquareCandidate*> out;
    for (int32_t i = 0; i < count; ++i) out.push_back(&list.entries[i]);
    return out;
}

struct Corner {
    int x, y;
};

std::vector<Corner> vertexPoints(const SquareCandidate& c) {
    std::vector<Corner> out;
    for (int i = 0; i < 4; ++i) out.push_back({c.contourX[c.vertexIndex[i]], c.contourY[c.vertexIndex[i]]});
    return out;
}

// The outline is closed, starts at v(0) = 0, ends at v(4), moves one pixel at a time and
// runs clockwise on screen (positive shoelace area with y downwards).
void expectWellFormed(const SquareCandidate& c) {
    const int n = c.contourLength;
    ASSERT_GE(n, 5);
    EXPECT_EQ(c.contourX[0], c.contourX[n - 1]);
    EXPECT_EQ(c.contourY[0], c.contourY[n - 1]);
    EXPECT_EQ(c.vertexIndex[0], 0);
    EXPECT_EQ(c.vertexIndex[4], n - 1);
    double twiceArea = 0;
    for (int i = 0; i + 1 < n; ++i) {
        EXPECT_LE(std::abs(c.contourX[i + 1] - c.contourX[i]), 1);
        EXPECT_LE(std::abs(c.contourY[i + 1] - c.contourY[i]), 1);
        twiceArea += double(c.contourX[i]) * c.contourY[i + 1] - double(c.contourX[i + 1]) * c.contourY[i];
    }
    EXPECT_GT(twiceArea, 0);
    for (int i = 0; i < 4; ++i) EXPECT_LT(c.vertexIndex[i], c.vertexIndex[i + 1]);
}

void expectNear(const std::vector<Corner>& got, const std::vector<Corner>& want, int tolerance) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, want[i].x, tolerance) << "vertex " << i;
        EXPECT_NEAR(got[i].y, want[i].y, tolerance) << "vertex " << i;
    }
}

TEST(Candidates, AxisAlignedSquareStartsBottomRightAndRunsClockwise) {
    TestFrame f = blankFrame(100, 80);
    fillRect(f, 20, 10, 59, 49, kBlack);
    const auto list = candidates(f);
    ASSERT_EQ(list.size(), 1u);
    const SquareCandidate& c = *list[0];
    expectWellFormed(c);
    EXPECT_EQ(c.pixelArea, 1600);
    EXPECT_EQ(c.centre[0], 39.5);
    EXPECT_EQ(c.centre[1], 29.5);
    EXPECT_EQ(c.contourLength, 4 * 39 + 1);
    expectNear(vertexPoints(c), {{59, 49}, {20, 49}, {20, 10}, {59, 10}}, 0);
}

struct ShapeCase {
    std::string name;
    std::vector<Point2> corners;   // empty: a disc
    std::vector<Corner> vertices;  // empty: rejected
};

class CandidateShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(CandidateShapes, AcceptsQuadrilateralsOnly) {
    const ShapeCase& s = GetParam();
    TestFrame f = blankFrame(160, 90);
    if (s.corners.empty())
        fillDisc(f, 80, 45, 30, kBlack);
    else
        fillPolygon(f, s.corners, kBlack);
    const auto list = candidates(f);
    if (s.vertices.empty()) {
        EXPECT_TRUE(list.empty());
        return;
    }
    ASSERT_EQ(list.size(), 1u);
    expectWellFormed(*list[0]);
    expectNear(vertexPoints(*list[0]), s.vertices, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CandidateShapes,
    ::testing::Values(
        // The long base is longer than the diagonals: the far point is a neighbouring corner.
        ShapeCase{
            "WideTrapezoid", {{20, 70}, {140, 70}, {105, 10}, {55, 10}}, {{140, 70}, {20, 70}, {55, 10}, {105, 10}}},
        ShapeCase{"ShortTopTrapezoid", {{20, 70}, {140, 70}, {90, 10}, {70, 10}}, {}},
        ShapeCase{"TurnedSquare", {{80, 10}, {115, 45}, {80, 80}, {45, 45}}, {{80, 80}, {45, 45}, {80, 10}, {115, 45}}},
        ShapeCase{"Triangle", {{20, 75}, {140, 75}, {80, 10}}, {}}, ShapeCase{"Disc", {}, {}}),
    [](const auto& info) { return info.param.name; });

struct AreaCase {
    int32_t minArea, maxArea;
    bool kept;
};

class CandidateAreaLimits : public ::testing::TestWithParam<AreaCase> {};

TEST_P(CandidateAreaLimits, AreInclusive) {
    TestFrame f = blankFrame(60, 60);
    fillRect(f, 10, 10, 29, 29, kBlack);  // area 400
    EXPECT_EQ(candidates(f, GetParam().maxArea, GetParam().minArea).size(), GetParam().kept ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Limits, CandidateAreaLimits,
                         ::testing::Values(AreaCase{400, 400, true}, AreaCase{401, 100000, false},
                                           AreaCase{70, 399, false}, AreaCase{70, 100000, true}));

TEST(Candidates, DriverAreaLimitsKeep70To100000) {
    TestFrame f = blankFrame(900, 560);
    fillRect(f, 10, 10, 16, 19, kBlack);    // 7 x 10 = 70
    fillRect(f, 30, 10, 35, 21, kBlack);    // 6 x 12 = 72 minus 3 below
    fillRect(f, 35, 19, 35, 21, kWhite);    // 69
    fillRect(f, 50, 50, 449, 299, kBlack);  // 400 x 250 = 100,000
    fillRect(f, 460, 50, 859, 299, kBlack);
    f.set(660, 300, kBlack);  // 100,001
    const auto list = candidates(f);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->pixelArea, 70);
    EXPECT_EQ(list[1]->pixelArea, 100000);
}

class CandidateBorder : public ::testing::TestWithParam<int> {};

// A square against the outermost labelled ring is skipped; one pixel further in it is kept.
TEST_P(CandidateBorder, TouchingTheLabelledRingIsSkipped) {
    const int side = GetParam();
    for (int gap : {0, 1}) {
        TestFrame f = blankFrame(60, 50);
        const int x0 = side == 0 ? 1 + gap : side == 1 ? 58 - 20 - gap : 20;
        const int y0 = side == 2 ? 1 + gap : side == 3 ? 48 - 20 - gap : 15;
        fillRect(f, x0, y0, x0 + 20, y0 + 20, kBlack);
        EXPECT_EQ(candidates(f).size(), size_t(gap)) << "side " << side << " gap " << gap;
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, CandidateBorder, ::testing::Values(0, 1, 2, 3));

TEST(Candidates, NestedCandidatesAreDropped) {
    // A marker border with a small dark square inside: the inner one goes.
    TestFrame ring = blankFrame(120, 120);
    drawMarkerBorder(ring, 60, 60, 80, 0);
    fillRect(ring, 55, 55, 66, 66, kBlack);
    auto list = candidates(ring);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->pixelArea, 81 * 81 - 41 * 41);

    // Two inner squares in a row are both dropped.
    fillRect(ring, 45, 45, 54, 54, kBlack);
    list = candidates(ring);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->pixelArea, 81 * 81 - 41 * 41);

    // Equal areas: the earlier (the ring, met first in the scan) goes.
    TestFrame equal = blankFrame(120, 120);
    fillRect(equal, 10, 10, 59, 59, kBlack);  // 50 x 50 ring around a 40 x 40 hole: 900
    fillRect(equal, 15, 15, 54, 54, kWhite);
    fillRect(equal, 20, 20, 49, 49, kBlack);  // 30 x 30 = 900
    list = candidates(equal);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->pixelArea, 900);
    EXPECT_EQ(list[0]->contourX[0], 49);
}

// A candidate is dropped only when its centre lies strictly closer to a larger (or, for
// equal areas, the later) one's centre than the square root of a quarter of that area:
// at exactly that distance both stay, one pixel nearer the smaller goes.
struct NearCase {
    const char* name;
    int hole;          // the ring is 100 pixels wide
    int side, dx, dy;  // the inner square and its centre's offset from the ring's
    bool nearer;       // moved one pixel toward the ring's centre
    size_t kept;
};

class DuplicateBoundary : public ::testing::TestWithParam<NearCase> {};

TEST_P(DuplicateBoundary, DropsOnlyStrictlyNearerCandidates) {
    const NearCase& c = GetParam();
    TestFrame f = blankFrame(160, 160);
    fillRect(f, 30, 30, 129, 129, kBlack);  // centre (79.5, 79.5)
    const int h0 = 80 - c.hole / 2;
    fillRect(f, h0, h0, h0 + c.hole - 1, h0 + c.hole - 1, kWhite);
    const int x0 = 80 + c.dx - c.side / 2 - (c.nearer ? 1 : 0), y0 = 80 + c.dy - c.side / 2;
    fillRect(f, x0, y0, x0 + c.side - 1, y0 + c.side - 1, kBlack);
    const auto list = candidates(f);
    ASSERT_EQ(list.size(), c.kept);
    EXPECT_EQ(list[0]->pixelArea, 10000 - c.hole * c.hole);
}

INSTANTIATE_TEST_SUITE_P(
    Distances, DuplicateBoundary,
    ::testing::Values(  // ring 3600: a quarter is 900 = 18^2 + 24^2; ring 784 = inner 28 x 28: 196 = 14^2
        NearCase{"SmallerAtTheDistance", 80, 20, 18, 24, false, 2}, NearCase{"SmallerNearer", 80, 20, 18, 24, true, 1},
        NearCase{"EqualAtTheDistance", 96, 28, 14, 0, false, 2}, NearCase{"EqualNearer", 96, 28, 14, 0, true, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Candidates, OnlyTheFirstThirtyAreTraced) {
    TestFrame f = blankFrame(200, 200);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 6; ++col)
            fillRect(f, 10 + 30 * col, 10 + 30 * row, 24 + 30 * col, 24 + 30 * row, kBlack);
    auto list = candidates(f);
    ASSERT_EQ(list.size(), 30u);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(list[i]->centre[0], 17 + 30 * (i % 6));
        EXPECT_EQ(list[i]->centre[1], 17 + 30 * (i / 6));
    }
    // The first square nested in a ring: the cap still counts it, suppression drops it.
    drawMarkerBorder(f, 17, 17, 26, 0, kBlack, kWhite);
    fillRect(f, 13, 13, 21, 21, kBlack);
    list = candidates(f);
    EXPECT_EQ(list.size(), 29u);
}

std::string traced(const TestFrame& f, int32_t region, SquareCandidate* slot, int* result,
                   const RegionBounds* bounds = nullptr) {
    const Labelling l = labelled(f);
    testing::internal::CaptureStdout();
    *result = traceContour(&l, region, bounds ? bounds : &l.regionBounds[region - 1], slot);
    return testing::internal::GetCapturedStdout();
}

TEST(Candidates, OutlinesCloseWithin9998Points) {
    static SquareCandidate slot;
    int result = 0;
    // A 2 x 4999 bar has 9,998 outline points.
    TestFrame bar = blankFrame(6, 5003);
    fillRect(bar, 2, 2, 3, 5000, kBlack);
    EXPECT_EQ(traced(bar, 1, &slot, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(slot.contourLength, 9999);
    EXPECT_EQ(slot.contourX[0], 3);
    EXPECT_EQ(slot.contourY[0], 5000);

    // A 3 x 4999 bar without its top-right pixel has 9,999.
    TestFrame longer = blankFrame(7, 5003);
    fillRect(longer, 2, 2, 4, 5000, kBlack);
    longer.set(4, 2, kWhite);
    EXPECT_EQ(traced(longer, 1, &slot, &result), "??? 3\n");
    EXPECT_EQ(result, -1);
}

TEST(Candidates, TracingFailuresPrintTheirMessage) {
    static SquareCandidate slot;
    int result = 0;
    TestFrame dot = blankFrame(20, 20);
    dot.set(5, 5, kBlack);
    EXPECT_EQ(traced(dot, 1, &slot, &result), "??? 2\n");
    EXPECT_EQ(result, -1);

    TestFrame square = blankFrame(20, 20);
    fillRect(square, 5, 5, 10, 10, kBlack);
    for (const RegionBounds b : {RegionBounds{5, 10, 12, 14}, RegionBounds{-100, 100, 5, 10},
                                 RegionBounds{5, 10, -1, 10}, RegionBounds{5, 10, 20, 30}}) {
        const std::string out = traced(square, 1, &slot, &result, &b);
        if (b.xMin < 0) {
            EXPECT_EQ(out, "");  // the search is clipped to the image and still finds the start
            EXPECT_EQ(result, 0);
        } else {
            EXPECT_EQ(out, "??? 1\n");
            EXPECT_EQ(result, -1);
        }
    }
}

// The reference split: recurse first, check the list afterwards, with a list large
// enough for anything.
int plainSplit(const std::vector<int32_t>& x, const std::vector<int32_t>& y, int st, int ed, double t,
               std::vector<int32_t>& list) {
    const double a = double(y[ed]) - y[st], b = double(x[st]) - x[ed];
    const double c = double(int64_t(x[ed]) * y[st] - int64_t(y[ed]) * x[st]);
    double best = 0.0;
    int at = -1;
    for (int i = st + 1; i < ed; ++i) {
        const double v = a * x[i] + b * y[i] + c;
        if (v * v > best) {
            best = v * v;
            at = i;
        }
    }
    if (at < 0 || !(best / (a * a + b * b) > t)) return 0;
    if (plainSplit(x, y, st, at, t, list) < 0) return -1;
    if (list.size() > 5) return -1;
    list.push_back(at);
    return plainSplit(x, y, at, ed, t, list);
}

// A random walk: anything from a straight run to a zigzag, with steps of `stride` pixels
// from `origin`.
void randomWalk(std::mt19937& rng, int n, int32_t origin, int32_t stride, std::vector<int32_t>& x,
                std::vector<int32_t>& y) {
    x.assign(1, origin);
    y.assign(1, -origin);
    const int turnEvery = 1 + int(rng() % 12);
    int dx = 1, dy = 0;
    for (int i = 1; i < n; ++i) {
        if (i % turnEvery == 0) {
            dx = int(rng() % 3) - 1;
            dy = int(rng() % 3) - 1;
        }
        x.push_back(x.back() + dx * stride);
        y.push_back(y.back() + dy * stride);
    }
}

// Walks near the origin, far out, and spread so widely that squared distances pass 2^53.
void randomWalk(std::mt19937& rng, int round, int n, std::vector<int32_t>& x, std::vector<int32_t>& y) {
    const int32_t origins[4] = {0, 1 << 29, -(1 << 29), 12345};
    const int32_t strides[4] = {1, 1, 1 << 21, 3 << 19};
    randomWalk(rng, n, origins[round % 4], strides[(round / 4) % 4], x, y);
}

TEST(Candidates, SplitSegmentMatchesThePlainSplitAndKeepsToItsList) {
    std::mt19937 rng(7);
    int failures = 0, successes = 0;
    for (int round = 0; round < 3000; ++round) {
        const int n = 3 + int(rng() % (round % 2 ? 60 : 300));
        std::vector<int32_t> x, y;
        randomWalk(rng, round, n, x, y);
        const double t = (0.1 + (rng() % 100) / 20.0) * (round / 4 % 4 > 1 ? 1e12 : 1.0);
        std::vector<int32_t> want;
        const int expected = plainSplit(x, y, 0, n - 1, t, want);
        std::vector<int32_t> list(SPLIT_LIST_CAPACITY + 4, -7);
        int32_t count = 0;
        ASSERT_EQ(splitSegment(x.data(), y.data(), 0, n - 1, t, list.data(), &count), expected) << "round " << round;
        for (int i = SPLIT_LIST_CAPACITY; i < SPLIT_LIST_CAPACITY + 4; ++i) ASSERT_EQ(list[i], -7);
        if (expected == 0) {
            ASSERT_EQ(std::vector<int32_t>(list.begin(), list.begin() + count), want) << "round " << round;
            ++successes;
        } else {
            ++failures;
        }
    }
    EXPECT_GT(failures, 100);
    EXPECT_GT(successes, 100);
}

// The reference corner search, on the plain split and the plain farthest point.
int plainFarthest(const std::vector<int32_t>& x, const std::vector<int32_t>& y, int first, int last) {
    int best = 0;
    int64_t bestDistance = 0;
    for (int i = first; i <= last; ++i) {
        const int64_t dx = int64_t(x[i]) - x[0], dy = int64_t(y[i]) - y[0];
        if (dx * dx + dy * dy > bestDistance) {
            bestDistance = dx * dx + dy * dy;
            best = i;
        }
    }
    return best;
}

bool plainSplitsOnce(const std::vector<int32_t>& x, const std::vector<int32_t>& y, int st, int ed, double t,
                     int32_t* vertex) {
    std::vector<int32_t> list;
    if (plainSplit(x, y, st, ed, t, list) < 0 || list.size() != 1) return false;
    *vertex = list[0];
    return true;
}

int plainFindVertices(const std::vector<int32_t>& x, const std::vector<int32_t>& y, double t, int32_t v[5]) {
    const int n = int(x.size());
    const int f = plainFarthest(x, y, 1, n - 2);
    std::vector<int32_t> first, second;
    if (plainSplit(x, y, 0, f, t, first) < 0 || plainSplit(x, y, f, n - 1, t, second) < 0) return -1;
    v[0] = 0;
    v[4] = n - 1;
    if (first.size() == 1 && second.size() == 1) {
        v[1] = first[0], v[2] = f, v[3] = second[0];
        return 0;
    }
    if (first.size() > 1 && second.empty()) {
        v[3] = f;
        return plainSplitsOnce(x, y, 0, f / 2, t, &v[1]) && plainSplitsOnce(x, y, f / 2, f, t, &v[2]) ? 0 : -1;
    }
    if (first.empty() && second.size() > 1) {
        const int m = (f + n - 1) / 2;
        v[1] = f;
        return plainSplitsOnce(x, y, f, m, t, &v[2]) && plainSplitsOnce(x, y, m, n - 1, t, &v[3]) ? 0 : -1;
    }
    return -1;
}

// The corners of closed random walks, near and far from the origin and spread widely,
// against the plain search: the same result and the same corners.
TEST(Candidates, FindVerticesMatchesThePlainSearch) {
    static SquareCandidate slot;
    std::mt19937 rng(3);
    int quadrilaterals = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<int32_t> x, y;
        const int n = 4 + int(rng() % 400);
        if (round % 3 == 0) {
            // A square outline, possibly far out or stretched.
            const int side = 1 + n / 4, stride = round % 2 ? 1 : 1 << 20;
            x.assign(1, (round % 5) << 28);
            y.assign(1, 0);
            const int moves[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
            for (const auto& m : moves)
                for (int k = 0; k < side; ++k) {
                    x.push_back(x.back() + m[0] * stride);
                    y.push_back(y.back() + m[1] * stride);
                }
        } else {
            randomWalk(rng, round, n, x, y);
            x.push_back(x[0]);
            y.push_back(y[0]);
        }
        slot.contourLength = int32_t(x.size());
        std::copy(x.begin(), x.end(), slot.contourX);
        std::copy(y.begin(), y.end(), slot.contourY);
        const int32_t area = int32_t(rng() % 5000);
        const double factor = x[1] - x[0] > 1 || y[1] - y[0] > 1 ? 1e12 : 1.0;
        int32_t want[5] = {-1, -1, -1, -1, -1};
        const int expected = plainFindVertices(x, y, area / 0.75 * 0.01 * factor, want);
        ASSERT_EQ(findVertices(area, &slot, factor), expected) << "round " << round;
        if (expected == 0) {
            ASSERT_EQ(std::vector<int32_t>(slot.vertexIndex, slot.vertexIndex + 5),
                      std::vector<int32_t>(want, want + 5))
                << "round " << round;
            ++quadrilaterals;
        }
    }
    EXPECT_GT(quadrilaterals, 200);
}

// Squared distances of 2^55 and 2^55 + 2 are the same double: the exact one must still win.
TEST(Candidates, FarthestPointIsExactBeyondDoublePrecision) {
    static SquareCandidate slot;
    const int32_t e = 1 << 27;
    const std::vector<int32_t> x = {0, e, e, e + 1, 0, 0}, y = {0, 0, e, e - 1, e, 0};
    slot.contourLength = 6;
    std::copy(x.begin(), x.end(), slot.contourX);
    std::copy(y.begin(), y.end(), slot.contourY);
    int32_t want[5] = {-1, -1, -1, -1, -1};
    ASSERT_EQ(plainFindVertices(x, y, 100 / 0.75 * 0.01, want), 0);
    ASSERT_EQ(findVertices(100, &slot, 1.0), 0);
    EXPECT_EQ(std::vector<int32_t>(slot.vertexIndex, slot.vertexIndex + 5), std::vector<int32_t>(want, want + 5));
    EXPECT_EQ(slot.vertexIndex[2], 3);
}

}  // namespace
