#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "numeric/pca.h"
#include "tests/numeric/matrix_fixture.h"
#include "tests/support/plain_fits.h"

using namespace zelk;

namespace {

struct PcaResult {
    int status;
    MatrixPtr axes;
    VectorPtr ratios;
    VectorPtr mean;
};

PcaResult runPca(int n, int m, const std::vector<double>& coordinates) {
    MatrixPtr points = makeMatrix(n, m);
    for (size_t i = 0; i < coordinates.size(); i++) points->data[i] = coordinates[i];
    PcaResult r{0, makeMatrix(m, m), makeVector(m), makeVector(m)};
    r.status = computePca(points.get(), r.axes.get(), r.ratios.get(), r.mean.get());
    return r;
}

std::vector<double> elements(const DenseMatrix* m) { return {m->data, m->data + m->rows * m->cols}; }
std::vector<double> elements(const DenseVector* v) { return {v->data, v->data + v->length}; }

}  // namespace

struct ExactCase {
    const char* name;
    std::vector<double> points;  // two 2-D points
    std::vector<double> axes;
    std::vector<double> ratios;
    std::vector<double> mean;
};
void PrintTo(const ExactCase& c, std::ostream* os) { *os << c.name; }

class PcaExactTest : public testing::TestWithParam<ExactCase> {};

TEST_P(PcaExactTest, AxesRatiosAndMeanAreExact) {
    const ExactCase& c = GetParam();
    PcaResult r = runPca(static_cast<int>(c.points.size() / 2), 2, c.points);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(elements(r.axes.get()), c.axes);
    EXPECT_EQ(elements(r.ratios.get()), c.ratios);
    EXPECT_EQ(elements(r.mean.get()), c.mean);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PcaExactTest,
    testing::Values(ExactCase{"AlongX", {-1, 0, 1, 0}, {1, 0, 0, 0}, {1, 0}, {0, 0}},
                    ExactCase{"AlongYSortSwapsRows", {0, -1, 0, 1}, {0, 1, 0, 0}, {1, 0}, {0, 0}},
                    ExactCase{"EqualPointsHaveNoAxes", {3, 5, 3, 5, 3, 5}, {0, 0, 0, 0}, {0, 0}, {3, 5}},
                    ExactCase{"EqualSpreadKeepsOrder", {-1, 0, 1, 0, 0, -1, 0, 1}, {1, 0, 0, 1}, {0.5, 0.5}, {0, 0}}),
    [](const testing::TestParamInfo<ExactCase>& info) { return info.param.name; });

TEST(Pca, RefusesTooFewPointsAndWrongShapes) {
    EXPECT_EQ(runPca(1, 2, {4, 5}).status, -1);
    EXPECT_EQ(runPca(2, 3, {1, 2, 3, 4, 5, 6}).status, -1);  // fewer points than coordinates
    EXPECT_EQ(runPca(3, 1, {1, 2, 3}).status, -1);

    MatrixPtr points = makeMatrix(3, 2, {0, 0, 1, 1, 2, 2});
    MatrixPtr axes = makeMatrix(2, 2);
    VectorPtr ratios = makeVector(2);
    VectorPtr mean = makeVector(2);
    MatrixPtr wideAxes = makeMatrix(2, 3);
    VectorPtr longRatios = makeVector(3);
    VectorPtr shortMean = makeVector(1);
    EXPECT_EQ(computePca(points.get(), wideAxes.get(), ratios.get(), mean.get()), -1);
    EXPECT_EQ(computePca(points.get(), axes.get(), longRatios.get(), mean.get()), -1);
    EXPECT_EQ(computePca(points.get(), axes.get(), ratios.get(), shortMean.get()), -1);
    EXPECT_EQ(computePca(nullptr, axes.get(), ratios.get(), mean.get()), -1);
    EXPECT_EQ(computePca(points.get(), axes.get(), nullptr, mean.get()), -1);
    EXPECT_EQ(computePca(points.get(), axes.get(), ratios.get(), mean.get()), 0);
}

TEST(Pca, RefusesNonFiniteOrOverflowingPoints) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(runPca(3, 2, {0, 0, nan, 1, 2, 2}).status, -1);
    EXPECT_EQ(runPca(3, 2, {0, 0, inf, 1, 2, 2}).status, -1);
    EXPECT_EQ(runPca(2, 2, {-1e300, 0, 1e300, 0}).status, -1);
}

namespace {

// Point sets of two coordinates as the line fits and hostile callers hand them over.
std::vector<double> randomPairs(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> pick(0, 9);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const int kind = pick(rng);
    const double magnitude[10] = {640, 1e6, 1e-300, 4.9e-324, 1e154, 1e300, 1, 640, 640, 640};
    const double offset = kind == 1 ? 1e6 : kind == 6 ? 3.0 : 0.0;
    const double angle = 3.2 * unit(rng), noise = kind == 7 ? 0.0 : 0.3;
    std::vector<double> xy(2 * n);
    for (int i = 0; i < n; i++) {
        const double t = magnitude[kind] * unit(rng);
        xy[2 * i] = offset + t * std::cos(angle) + noise * unit(rng);
        xy[2 * i + 1] = offset + t * std::sin(angle) + noise * unit(rng);
        if (kind == 6) xy[2 * i] = xy[2 * i + 1] = i % 2 ? -0.0 : 0.0;  // equal points, signed zeros
        if (kind == 8) xy[2 * i] = std::round(xy[2 * i]);               // a vertical run of pixels
    }
    if (kind == 9) xy[pick(rng) % (2 * n)] = pick(rng) % 2 ? nan : -inf;
    return xy;
}

}  // namespace

// The two-column path against the plain computation, bit for bit in every output, also
// those a failure leaves written: ordinary, clustered, tiny, subnormal, overflowing,
// equal and non-finite points, two to a few hundred of them.
TEST(Pca, TwoColumnsMatchThePlainComputationBitForBit) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> size(2, 300);
    for (int set = 0; set < 3000; set++) {
        const int n = set % 3 == 0 ? 2 + set % 5 : size(rng);
        const std::vector<double> xy = randomPairs(rng, n);
        PcaResult fast = runPca(n, 2, xy);
        MatrixPtr points = makeMatrix(n, 2);
        std::copy(xy.begin(), xy.end(), points->data);
        PcaResult plain{0, makeMatrix(2, 2), makeVector(2), makeVector(2)};
        // Unwritten outputs must stay alike too.
        for (DenseVector* v : {fast.ratios.get(), fast.mean.get(), plain.ratios.get(), plain.mean.get()})
            v->data[0] = v->data[1] = -7.5;
        for (int i = 0; i < 4; i++) fast.axes->data[i] = plain.axes->data[i] = -7.5;
        fast.status = computePca(points.get(), fast.axes.get(), fast.ratios.get(), fast.mean.get());
        plain.status = plainPca(points.get(), plain.axes.get(), plain.ratios.get(), plain.mean.get());
        ASSERT_EQ(fast.status, plain.status) << "set " << set;
        ASSERT_EQ(0, std::memcmp(fast.axes->data, plain.axes->data, 4 * sizeof(double))) << "set " << set;
        ASSERT_EQ(0, std::memcmp(fast.ratios->data, plain.ratios->data, 2 * sizeof(double))) << "set " << set;
        ASSERT_EQ(0, std::memcmp(fast.mean->data, plain.mean->data, 2 * sizeof(double))) << "set " << set;
    }
}

// The mean may be written over the points themselves: the result is that of separate storage.
TEST(Pca, MeanWrittenOverThePointsChangesNothing) {
    const std::vector<double> xy = {3, 1, 7, 2.5, 12, 4, 15.25, 5};
    PcaResult apart = runPca(4, 2, xy);
    MatrixPtr points = makeMatrix(4, 2);
    std::copy(xy.begin(), xy.end(), points->data);
    MatrixPtr axes = makeMatrix(2, 2);
    VectorPtr ratios = makeVector(2);
    DenseVector overFirstPoint = {points->data, 2};
    ASSERT_EQ(computePca(points.get(), axes.get(), ratios.get(), &overFirstPoint), 0);
    EXPECT_EQ(elements(axes.get()), elements(apart.axes.get()));
    EXPECT_EQ(elements(ratios.get()), elements(apart.ratios.get()));
    EXPECT_EQ(elements(&overFirstPoint), elements(apart.mean.get()));
}
