// Properties over many seeded random inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "numeric/pca.h"
#include "tests/numeric/matrix_fixture.h"

using namespace zelk;

namespace {

constexpr int SEEDS = 200;

MatrixPtr randomMatrix(std::mt19937& rng, int rows, int cols) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    MatrixPtr m = makeMatrix(rows, cols);
    for (int i = 0; i < rows * cols; i++) m->data[i] = value(rng);
    return m;
}

// Random symmetric matrix.
MatrixPtr randomSymmetric(std::mt19937& rng, int n) {
    MatrixPtr m = randomMatrix(rng, n, n);
    for (int i = 0; i < n; i++)
        for (int j = 0; j < i; j++) m->data[i * n + j] = m->data[j * n + i];
    return m;
}

}  // namespace

class SizedProperty : public testing::TestWithParam<int> {};

TEST_P(SizedProperty, InverseTimesMatrixIsIdentity) {
    const int n = GetParam();
    for (int seed = 0; seed < SEEDS; seed++) {
        std::mt19937 rng(seed * 31 + n);
        // Diagonal dominance keeps the condition number small; a random row
        // permutation makes the pivot search do the work.
        MatrixPtr a = randomMatrix(rng, n, n);
        for (int i = 0; i < n; i++) a->data[i * n + i] += (i % 2 ? -1 : 1) * (n + 1.0);
        std::vector<int> order(n);
        for (int i = 0; i < n; i++) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        MatrixPtr shuffled = makeMatrix(n, n);
        for (int i = 0; i < n; i++)
            for (int j = 0; j < n; j++) shuffled->data[i * n + j] = a->data[order[i] * n + j];

        MatrixPtr inverse(cloneMatrix(shuffled.get()));
        ASSERT_EQ(invertMatrixInPlace(inverse.get()), 0) << "seed " << seed;
        MatrixPtr left = makeMatrix(n, n);
        MatrixPtr right = makeMatrix(n, n);
        ASSERT_EQ(multiplyMatrices(left.get(), inverse.get(), shuffled.get()), 0);
        ASSERT_EQ(multiplyMatrices(right.get(), shuffled.get(), inverse.get()), 0);
        for (int i = 0; i < n; i++)
            for (int j = 0; j < n; j++) {
                ASSERT_NEAR(at(left.get(), i, j), i == j ? 1.0 : 0.0, 1e-12) << "seed " << seed;
                ASSERT_NEAR(at(right.get(), i, j), i == j ? 1.0 : 0.0, 1e-12) << "seed " << seed;
            }
    }
}

// The symmetric solver reads only the lower triangle: the upper holds garbage here. It agrees
// with the general solver on positive definite matrices and refuses those that are not.
TEST_P(SizedProperty, SymmetricSolveAgreesWithTheGeneralOne) {
    const int n = GetParam();
    for (int seed = 0; seed < SEEDS; seed++) {
        std::mt19937 rng(seed * 17 + n);
        MatrixPtr m = randomMatrix(rng, n, n);
        std::vector<double> spd(n * n), general(n * n), b(n), x(n);
        for (int i = 0; i < n; i++) {
            b[i] = m->data[i];
            for (int j = 0; j < n; j++) {
                double sum = i == j ? 0.1 : 0.0;
                for (int k = 0; k < n; k++) sum += m->data[k * n + i] * m->data[k * n + j];
                spd[i * n + j] = general[i * n + j] = sum;
            }
        }
        const double indefinite = seed % 4 == 1 ? -1.0 : seed % 4 == 2 ? NAN : 0.0;
        for (int i = 0; i < n; i++)
            for (int j = i + 1; j < n; j++) spd[i * n + j] = 1e300;
        x = b;
        if (indefinite != 0) {
            spd[(n - 1) * n + (n - 1)] = indefinite;
            ASSERT_EQ(solveSymmetricInPlace(spd.data(), x.data(), n), -1) << "seed " << seed;
            ASSERT_EQ(x, b);
            continue;
        }
        ASSERT_EQ(solveSymmetricInPlace(spd.data(), x.data(), n), 0) << "seed " << seed;
        ASSERT_EQ(solveInPlace(general.data(), b.data(), n), 0);
        for (int i = 0; i < n; i++) ASSERT_NEAR(x[i], b[i], 1e-9 * (1 + std::fabs(b[i]))) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(UpToEight, SizedProperty, testing::Range(1, 9));

class EigenProperty : public testing::TestWithParam<int> {};

TEST_P(EigenProperty, EigenvectorsAreOrthonormalAndSolveTheProblem) {
    const int n = GetParam();
    for (int seed = 0; seed < SEEDS; seed++) {
        std::mt19937 rng(seed * 17 + n);
        MatrixPtr s = randomSymmetric(rng, n);
        MatrixPtr e(cloneMatrix(s.get()));
        VectorPtr d = makeVector(n);
        ASSERT_EQ(symmetricEigen(e.get(), d.get()), 0);
        double scale = 0;
        for (int i = 0; i < n; i++) scale = std::max(scale, std::fabs(d->data[i]));
        for (int i = 0; i < n; i++) {
            if (i > 0) {
                ASSERT_GE(d->data[i - 1], d->data[i]) << "seed " << seed;
            }
            for (int j = 0; j < n; j++) {
                double dot = 0;
                for (int c = 0; c < n; c++) dot += at(e.get(), i, c) * at(e.get(), j, c);
                ASSERT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-10) << "seed " << seed;
            }
            // The convergence test is relative (1e-6), so the residual is too.
            for (int r = 0; r < n; r++) {
                double sv = 0;
                for (int c = 0; c < n; c++) sv += at(s.get(), r, c) * at(e.get(), i, c);
                ASSERT_NEAR(sv, d->data[i] * at(e.get(), i, r), 1e-5 * scale) << "seed " << seed;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(UpToEight, EigenProperty, testing::Range(2, 9));

TEST(NumericProperty, HouseholderReflectionMapsTheVectorOntoItsFirstAxis) {
    for (int seed = 0; seed < SEEDS; seed++) {
        std::mt19937 rng(seed);
        const int length = 1 + seed % 7;
        MatrixPtr original = randomMatrix(rng, 1, length);
        VectorPtr v = makeVector(length);
        std::copy(original->data, original->data + length, v->data);
        const double first = householderVector(v.get());
        // (I - v v^T) x = (first, 0, ..., 0)
        double vx = 0;
        for (int i = 0; i < length; i++) vx += v->data[i] * original->data[i];
        for (int i = 0; i < length; i++) {
            ASSERT_NEAR(original->data[i] - v->data[i] * vx, i == 0 ? first : 0.0, 1e-12) << "seed " << seed;
        }
    }
}

class PcaLineProperty : public testing::TestWithParam<int> {};

// Noisy points along a slanted line through a random point, in 2 or 3 coordinates.
TEST_P(PcaLineProperty, FirstAxisFollowsTheLine) {
    const int m = GetParam();
    for (int seed = 0; seed < SEEDS; seed++) {
        std::mt19937 rng(seed * 7 + m);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        std::normal_distribution<double> noise(0.0, 0.05);
        std::vector<double> direction(m), origin(m);
        double norm = 0;
        for (int c = 0; c < m; c++) {
            direction[c] = unit(rng);
            origin[c] = 300 * unit(rng);
            norm += direction[c] * direction[c];
        }
        norm = std::sqrt(norm);
        if (norm < 0.1) continue;
        for (double& c : direction) c /= norm;
        const int n = 20 + seed % 80;
        MatrixPtr points = makeMatrix(n, m);
        for (int i = 0; i < n; i++) {
            const double t = 60.0 * unit(rng);
            for (int c = 0; c < m; c++) points->data[i * m + c] = origin[c] + t * direction[c] + noise(rng);
        }
        MatrixPtr axes = makeMatrix(m, m);
        VectorPtr ratios = makeVector(m);
        VectorPtr mean = makeVector(m);
        ASSERT_EQ(computePca(points.get(), axes.get(), ratios.get(), mean.get()), 0);

        double along = 0, ratioSum = 0;
        for (int c = 0; c < m; c++) {
            along += at(axes.get(), 0, c) * direction[c];
            ratioSum += ratios->data[c];
        }
        EXPECT_NEAR(std::fabs(along), 1.0, 1e-4) << "seed " << seed;
        EXPECT_NEAR(ratioSum, 1.0, 1e-12) << "seed " << seed;
        EXPECT_GT(ratios->data[0], 0.99) << "seed " << seed;
        for (int i = 0; i < m; i++)
            for (int j = 0; j < m; j++) {
                double dot = 0;
                for (int c = 0; c < m; c++) dot += at(axes.get(), i, c) * at(axes.get(), j, c);
                EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-10) << "seed " << seed;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Dimensions, PcaLineProperty, testing::Values(2, 3, 4));
