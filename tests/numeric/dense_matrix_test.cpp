#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/numeric/matrix_fixture.h"

using namespace zelk;

TEST(DenseMatrix, CreateSetsSizesAndRefusesNegativeOrHugeSizes) {
    MatrixPtr m(createMatrix(3, 4));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->rows, 3);
    EXPECT_EQ(m->cols, 4);
    MatrixPtr empty(createMatrix(0, 5));
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(empty->data, nullptr);
    EXPECT_EQ(createMatrix(-1, 3), nullptr);
    EXPECT_EQ(createMatrix(3, -1), nullptr);
    // 2^31-1 squared doubles cannot be allocated: the size must not wrap to something small.
    EXPECT_EQ(createMatrix(INT32_MAX, INT32_MAX), nullptr);
    EXPECT_EQ(createVector(-1), nullptr);
    VectorPtr v(createVector(0));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->length, 0);
    EXPECT_EQ(destroyMatrix(nullptr), 0);
    EXPECT_EQ(destroyVector(nullptr), 0);
}

TEST(DenseMatrix, CloneAndCopyHoldTheSameElements) {
    MatrixPtr a = makeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    MatrixPtr b(cloneMatrix(a.get()));
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b->data, a->data);
    EXPECT_EQ(std::vector<double>(b->data, b->data + 6), std::vector<double>({1, 2, 3, 4, 5, 6}));

    MatrixPtr c = makeMatrix(2, 3, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(copyMatrixInto(c.get(), a.get()), 0);
    EXPECT_EQ(at(c.get(), 1, 2), 6);

    MatrixPtr wrong = makeMatrix(3, 2, {9, 9, 9, 9, 9, 9});
    EXPECT_EQ(copyMatrixInto(wrong.get(), a.get()), -1);
    EXPECT_EQ(wrong->data[0], 9);
    EXPECT_EQ(copyMatrixInto(nullptr, a.get()), -1);
    EXPECT_EQ(cloneMatrix(nullptr), nullptr);
}

TEST(DenseMatrix, MultiplyComputesTheProduct) {
    MatrixPtr a = makeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
    MatrixPtr b = makeMatrix(3, 2, {7, 8, 9, 10, 11, 12});
    MatrixPtr c = makeMatrix(2, 2);
    ASSERT_EQ(multiplyMatrices(c.get(), a.get(), b.get()), 0);
    EXPECT_EQ(std::vector<double>(c->data, c->data + 4), std::vector<double>({58, 64, 139, 154}));
}

struct ProductShape {
    int destRows, destCols, aRows, aCols, bRows, bCols;
};
void PrintTo(const ProductShape& s, std::ostream* os) {
    *os << s.destRows << "x" << s.destCols << " = " << s.aRows << "x" << s.aCols << " * " << s.bRows << "x" << s.bCols;
}

class MultiplyShapeTest : public testing::TestWithParam<ProductShape> {};

TEST_P(MultiplyShapeTest, MismatchIsRefusedWithoutWriting) {
    const ProductShape s = GetParam();
    MatrixPtr a = makeMatrix(s.aRows, s.aCols);
    MatrixPtr b = makeMatrix(s.bRows, s.bCols);
    MatrixPtr d = makeMatrix(s.destRows, s.destCols);
    for (int i = 0; i < s.aRows * s.aCols; i++) a->data[i] = 1;
    for (int i = 0; i < s.bRows * s.bCols; i++) b->data[i] = 1;
    for (int i = 0; i < s.destRows * s.destCols; i++) d->data[i] = -5;
    EXPECT_EQ(multiplyMatrices(d.get(), a.get(), b.get()), -1);
    for (int i = 0; i < s.destRows * s.destCols; i++) EXPECT_EQ(d->data[i], -5);
}

INSTANTIATE_TEST_SUITE_P(Shapes, MultiplyShapeTest,
                         testing::Values(ProductShape{2, 3, 2, 3, 2, 3},    // inner sizes differ
                                         ProductShape{3, 3, 2, 3, 3, 3},    // destination rows
                                         ProductShape{2, 2, 2, 3, 3, 3}));  // destination cols

TEST(DenseMatrix, MultiplyRefusesAnOperandAsDestination) {
    MatrixPtr a = makeMatrix(2, 2, {1, 2, 3, 4});
    MatrixPtr b = makeMatrix(2, 2, {1, 0, 0, 1});
    EXPECT_EQ(multiplyMatrices(a.get(), a.get(), b.get()), -1);
    EXPECT_EQ(multiplyMatrices(b.get(), a.get(), b.get()), -1);
    EXPECT_EQ(a->data[3], 4);
}

struct InverseCase {
    const char* name;
    int n;
    std::vector<double> input;
    std::vector<double> inverse;  // empty: inversion fails
};
void PrintTo(const InverseCase& c, std::ostream* os) { *os << c.name; }

class InverseTest : public testing::TestWithParam<InverseCase> {};

TEST_P(InverseTest, InvertsOrFails) {
    const InverseCase& c = GetParam();
    MatrixPtr m = makeMatrix(c.n, c.n);
    for (size_t i = 0; i < c.input.size(); i++) m->data[i] = c.input[i];
    const int result = invertMatrixInPlace(m.get());
    if (c.inverse.empty()) {
        EXPECT_EQ(result, -1);
        return;
    }
    ASSERT_EQ(result, 0);
    for (size_t i = 0; i < c.inverse.size(); i++) EXPECT_NEAR(m->data[i], c.inverse[i], 1e-12) << i;
}

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, InverseTest,
    testing::Values(InverseCase{"TwoByTwo", 2, {4, 7, 2, 6}, {0.6, -0.7, -0.2, 0.4}},
                    InverseCase{"Permutation", 2, {0, 1, 1, 0}, {0, 1, 1, 0}},
                    InverseCase{"ThreeByThree", 3, {2, 0, 0, 0, 0, 4, 0, 1, 0}, {0.5, 0, 0, 0, 0, 1, 0, 0.25, 0}},
                    InverseCase{"PivotAtThreshold", 2, {1.0e-10, 0, 0, 1}, {}},
                    InverseCase{"PivotAboveThreshold", 2, {1.1e-10, 0, 0, 1}, {1 / 1.1e-10, 0, 0, 1}},
                    InverseCase{"LaterPivotAtThreshold", 2, {1, 0, 0, 1.0e-10}, {}},
                    InverseCase{"TwoEqualRows", 3, {1, 2, 3, 4, 5, 6, 1, 2, 3}, {}},
                    InverseCase{"AllZero", 2, {0, 0, 0, 0}, {}}, InverseCase{"NaNElement", 2, {1, 0, 0, kNaN}, {}},
                    InverseCase{"InfiniteElement", 2, {kInf, 0, 0, 1}, {}}, InverseCase{"OneByOne", 1, {4}, {0.25}}),
    [](const testing::TestParamInfo<InverseCase>& info) { return info.param.name; });

TEST(DenseMatrix, OneByOneZeroBecomesInfinity) {
    MatrixPtr m = makeMatrix(1, 1, {0.0});
    EXPECT_EQ(invertMatrixInPlace(m.get()), 0);
    EXPECT_EQ(m->data[0], kInf);
}

TEST(DenseMatrix, InversionRefusesUnsupportedShapes) {
    MatrixPtr empty = makeMatrix(0, 0);
    EXPECT_EQ(invertMatrixInPlace(empty.get()), -1);
    MatrixPtr wide = makeMatrix(2, 3, {1, 0, 0, 0, 1, 0});
    EXPECT_EQ(invertMatrixInPlace(wide.get()), -1);
    EXPECT_EQ(invertMatrixInPlace(nullptr), -1);

    std::vector<double> big(51 * 51, 0.0);
    for (int i = 0; i < 51; i++) big[i * 51 + i] = 2.0;
    EXPECT_EQ(gaussJordanInvert(big.data(), 51, 51), nullptr);
    EXPECT_EQ(big[0], 2.0);
    std::vector<double> fifty(50 * 50, 0.0);
    for (int i = 0; i < 50; i++) fifty[i * 50 + i] = 2.0;
    EXPECT_EQ(gaussJordanInvert(fifty.data(), 50, 50), fifty.data());
    EXPECT_EQ(fifty[49 * 50 + 49], 0.5);

    double overlapping[4] = {1, 0, 0, 1};
    EXPECT_EQ(gaussJordanInvert(overlapping, 2, 1), nullptr);
    EXPECT_EQ(gaussJordanInvert(overlapping, -1, 2), nullptr);
    EXPECT_EQ(gaussJordanInvert(nullptr, 2, 2), nullptr);
}

TEST(DenseMatrix, InvertsABlockWithAWiderStride) {
    // The 2 x 2 block sits in the left of a 2 x 3 array; the third column stays.
    double block[6] = {4, 7, 99, 2, 6, 98};
    ASSERT_EQ(gaussJordanInvert(block, 2, 3), block);
    EXPECT_NEAR(block[0], 0.6, 1e-12);
    EXPECT_NEAR(block[1], -0.7, 1e-12);
    EXPECT_NEAR(block[3], -0.2, 1e-12);
    EXPECT_NEAR(block[4], 0.4, 1e-12);
    EXPECT_EQ(block[2], 99);
    EXPECT_EQ(block[5], 98);
}

TEST(DenseMatrix, DotProduct) {
    VectorPtr a = makeVector(3, {1, 2, 3});
    VectorPtr b = makeVector(3, {4, 5, 6});
    EXPECT_EQ(dotProduct(a.get(), b.get()), 32);
    VectorPtr shorter = makeVector(2, {1, 1});
    EXPECT_TRUE(std::isnan(dotProduct(a.get(), shorter.get())));
    EXPECT_TRUE(std::isnan(dotProduct(a.get(), nullptr)));
    VectorPtr empty = makeVector(0);
    EXPECT_EQ(dotProduct(empty.get(), empty.get()), 0);
}
