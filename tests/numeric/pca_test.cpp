#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "numeric/pca.h"
#include "tests/numeric/matrix_fixture.h"

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
