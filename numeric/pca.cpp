// Principal component analysis: covariance of the points, Householder
// tridiagonalisation and shifted QR sweeps on the (small) covariance matrix.
#include "numeric/pca.h"

#include <cmath>
#include <cstdint>

namespace zelk {

namespace {

constexpr double CONVERGENCE_FACTOR = 1e-6;  // off-diagonal size, relative to its diagonal neighbours
constexpr int MAX_SWEEPS = 100;              // QR sweeps per eigenvalue before accepting it as is
constexpr double TINY = 1e-16;               // rotation cut-off and smallest eigenvalue kept

double* rowOf(const DenseMatrix* m, int32_t i) { return m->data + static_cast<int64_t>(i) * m->cols; }

// A vector view on length consecutive doubles; owns nothing.
DenseVector viewOf(double* data, int32_t length) { return DenseVector{data, length}; }

bool isSquare(const DenseMatrix* m) { return m != nullptr && m->data != nullptr && m->rows == m->cols; }

bool hasLength(const DenseVector* v, int32_t length) {
    return v != nullptr && v->data != nullptr && v->length == length;
}

bool allFinite(const double* values, int64_t count) {
    for (int64_t i = 0; i < count; i++) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

// |e| small against the two diagonal elements it joins.
bool negligible(double e, double d0, double d1) {
    return std::fabs(e) <= CONVERGENCE_FACTOR * (std::fabs(d0) + std::fabs(d1));
}

// Shifted QR sweeps over the unreduced block j .. h until e[h] vanishes.
void sweepBlock(DenseMatrix* a, double* d, double* e, int32_t j, int32_t h) {
    const int32_t k = a->cols;
    for (int sweep = 0; sweep < MAX_SWEEPS; sweep++) {
        double w = (d[h - 1] - d[h]) / 2;
        double r = std::sqrt(w * w + e[h] * e[h]);
        if (w < 0) {
            r = -r;
        }
        double x = d[j] - d[h] + e[h] * e[h] / (w + r);
        double y = e[j + 1];
        for (int32_t q = j; q < h; q++) {
            double c;
            double s;
            if (std::fabs(x) >= std::fabs(y)) {
                if (std::fabs(x) > TINY) {
                    const double t = -y / x;
                    c = 1 / std::sqrt(t * t + 1);
                    s = t * c;
                } else {
                    c = 1;
                    s = 0;
                }
            } else {
                const double t = -x / y;
                s = 1 / std::sqrt(t * t + 1);
                c = t * s;
            }
            w = d[q] - d[q + 1];
            const double t = (w * s + 2 * c * e[q + 1]) * s;
            d[q] -= t;
            d[q + 1] += t;
            if (q > j) {
                e[q] = c * e[q] - s * y;
            }
            e[q + 1] += s * (c * w - 2 * s * e[q + 1]);

            double* rowQ = rowOf(a, q);
            double* rowNext = rowOf(a, q + 1);
            for (int32_t i = 0; i < k; i++) {
                const double u = rowQ[i];
                const double v = rowNext[i];
                rowQ[i] = c * u - s * v;
                rowNext[i] = s * u + c * v;
            }
            if (q < h - 1) {
                x = e[q + 1];
                y = -s * e[q + 2];
                e[q + 2] *= c;
            }
        }
        if (negligible(e[h], d[h - 1], d[h])) {
            return;
        }
    }
}

// Eigenvalues in decreasing order, rows of a along; ties keep their order.
void sortEigenpairs(DenseMatrix* a, double* d) {
    const int32_t k = a->rows;
    for (int32_t i = 0; i < k - 1; i++) {
        int32_t p = i;
        for (int32_t q = i + 1; q < k; q++) {
            if (d[q] > d[p]) {
                p = q;
            }
        }
        if (p == i) {
            continue;
        }
        const double t = d[i];
        d[i] = d[p];
        d[p] = t;
        double* rowI = rowOf(a, i);
        double* rowP = rowOf(a, p);
        for (int32_t c = 0; c < k; c++) {
            const double u = rowI[c];
            rowI[c] = rowP[c];
            rowP[c] = u;
        }
    }
}

// m x m matrix of sums of products of the columns of y (the spread matrix).
DenseMatrix* spreadMatrix(const DenseMatrix* y) {
    const int32_t n = y->rows;
    const int32_t m = y->cols;
    DenseMatrix* s = createMatrix(m, m);
    if (s == nullptr) {
        return nullptr;
    }
    for (int32_t i = 0; i < m; i++) {
        for (int32_t j = i; j < m; j++) {
            double sum = 0.0;
            for (int32_t r = 0; r < n; r++) {
                const double* row = rowOf(y, r);
                sum += row[i] * row[j];
            }
            rowOf(s, i)[j] = sum;
            rowOf(s, j)[i] = sum;
        }
    }
    return s;
}

// The mean of the points into mean and the spread matrix of the points centred on it and
// scaled by 1 / sqrt(n), through a centred copy of the points. A new matrix in *spread, or -1
// (a failed allocation, or a mean that is not finite).
int spreadOfCopy(const DenseMatrix* points, DenseVector* mean, DenseMatrix** spread) {
    const int32_t n = points->rows;
    const int32_t m = points->cols;
    DenseMatrix* y = cloneMatrix(points);
    if (y == nullptr) {
        return -1;
    }
    for (int32_t j = 0; j < m; j++) {
        mean->data[j] = 0.0;
    }
    for (int32_t i = 0; i < n; i++) {
        const double* row = rowOf(y, i);
        for (int32_t j = 0; j < m; j++) {
            mean->data[j] += row[j];
        }
    }
    for (int32_t j = 0; j < m; j++) {
        mean->data[j] /= n;
    }
    // Any infinite or NaN coordinate (or an overflowing sum) shows in the mean.
    if (!allFinite(mean->data, m)) {
        destroyMatrix(y);
        return -1;
    }
    const double scale = std::sqrt(static_cast<double>(n));
    for (int32_t i = 0; i < n; i++) {
        double* row = rowOf(y, i);
        for (int32_t j = 0; j < m; j++) {
            row[j] = (row[j] - mean->data[j]) / scale;
        }
    }
    *spread = spreadMatrix(y);
    destroyMatrix(y);
    return *spread == nullptr ? -1 : 0;
}

// spreadOfCopy for points of two coordinates (every marker side), into the 2 x 2 matrix s:
// no copy, no allocation, the sums in registers and the centring folded into the pass that
// forms the products. Each sum starts from 0.0 and runs over the rows in order as there, and
// each element is centred and scaled by the same operations, so every result is the same
// double.
int spreadOfPairs(const DenseMatrix* points, DenseVector* mean, DenseMatrix* s) {
    const int32_t n = points->rows;
    const double* p = points->data;
    double sumX = 0.0;
    double sumY = 0.0;
    for (int32_t i = 0; i < n; i++) {
        sumX += p[2 * i];
        sumY += p[2 * i + 1];
    }
    const double meanX = sumX / n;
    const double meanY = sumY / n;
    // The mean is written last: the points are read only, but may share their storage with it.
    if (!std::isfinite(meanX) || !std::isfinite(meanY)) {
        mean->data[0] = meanX;
        mean->data[1] = meanY;
        return -1;
    }
    const double scale = std::sqrt(static_cast<double>(n));
    double xx = 0.0;
    double xy = 0.0;
    double yy = 0.0;
    for (int32_t i = 0; i < n; i++) {
        const double x = (p[2 * i] - meanX) / scale;
        const double y = (p[2 * i + 1] - meanY) / scale;
        xx += x * x;
        xy += x * y;
        yy += y * y;
    }
    mean->data[0] = meanX;
    mean->data[1] = meanY;
    s->data[0] = xx;
    s->data[1] = xy;
    s->data[2] = xy;
    s->data[3] = yy;
    return 0;
}

// Eigen-decomposition of the spread matrix s (overwritten) into the axes and the
// eigenvalues (in ratios). Axes of eigenvalues below TINY are zeroed.
int principalAxes(DenseMatrix* s, DenseMatrix* axes, DenseVector* ratios) {
    const int32_t m = s->rows;
    // Overflowing coordinates would hand the eigen-solver infinities.
    if (!allFinite(s->data, static_cast<int64_t>(m) * m) || symmetricEigen(s, ratios) < 0) {
        return -1;
    }
    bool kept = true;
    for (int32_t i = 0; i < m; i++) {
        kept = kept && ratios->data[i] >= TINY;
        double* axis = rowOf(axes, i);
        const double* vector = rowOf(s, i);
        if (!kept) {
            ratios->data[i] = 0.0;
        }
        for (int32_t c = 0; c < m; c++) {
            axis[c] = kept ? vector[c] : 0.0;
        }
    }
    return 0;
}

}  // namespace

int computePca(const DenseMatrix* points, DenseMatrix* axes, DenseVector* ratios, DenseVector* mean) {
    if (points == nullptr || points->data == nullptr || axes == nullptr || axes->data == nullptr) {
        return -1;
    }
    const int32_t n = points->rows;
    const int32_t m = points->cols;
    // Fewer points than coordinates are refused (no caller needs them).
    if (m < 2 || n < m || axes->rows != m || axes->cols != m || !hasLength(ratios, m) || !hasLength(mean, m)) {
        return -1;
    }
    double pairData[4];
    DenseMatrix pairSpread = {pairData, 2, 2};
    DenseMatrix* s = &pairSpread;
    if ((m == 2 ? spreadOfPairs(points, mean, s) : spreadOfCopy(points, mean, &s)) < 0) {
        return -1;
    }
    const int result = principalAxes(s, axes, ratios);
    if (s != &pairSpread) {
        destroyMatrix(s);
    }
    if (result < 0) {
        return -1;
    }

    double sum = 0.0;
    for (int32_t i = 0; i < m; i++) {
        sum += ratios->data[i];
    }
    // Equal points have no spread at all: every share is 0.
    for (int32_t i = 0; i < m; i++) {
        ratios->data[i] = sum > 0.0 ? ratios->data[i] / sum : 0.0;
    }
    return 0;
}

int symmetricEigen(DenseMatrix* a, DenseVector* d) {
    if (!isSquare(a) || a->rows < 2 || !hasLength(d, a->rows)) {
        return -1;
    }
    const int32_t k = a->rows;
    DenseVector* e = createVector(k);
    if (e == nullptr) {
        return -1;
    }
    DenseVector offDiagonal = viewOf(e->data + 1, k - 1);
    if (tridiagonalize(a, d, &offDiagonal) < 0) {
        destroyVector(e);
        return -1;
    }
    e->data[0] = 0.0;

    for (int32_t h = k - 1; h >= 1; h--) {
        int32_t j = h;
        while (j > 0 && !negligible(e->data[j], d->data[j - 1], d->data[j])) {
            j--;
        }
        if (j != h) {
            sweepBlock(a, d->data, e->data, j, h);
        }
    }
    sortEigenpairs(a, d->data);
    destroyVector(e);
    return 0;
}

int tridiagonalize(DenseMatrix* a, DenseVector* d, DenseVector* e) {
    if (!isSquare(a) || a->rows < 1 || !hasLength(d, a->rows) || e == nullptr || e->length != a->rows - 1 ||
        (e->length > 0 && e->data == nullptr)) {
        return -1;
    }
    const int32_t n = a->rows;
    double* dd = d->data;
    double* ee = e->data;

    for (int32_t k = 0; k < n - 2; k++) {
        double* v = rowOf(a, k);
        dd[k] = v[k];
        DenseVector tail = viewOf(v + k + 1, n - k - 1);
        ee[k] = householderVector(&tail);
        if (ee[k] == 0.0) {
            continue;
        }
        for (int32_t i = k + 1; i < n; i++) {
            double s = 0.0;
            for (int32_t j = k + 1; j < i; j++) {
                s += rowOf(a, j)[i] * v[j];
            }
            for (int32_t j = i; j < n; j++) {
                s += rowOf(a, i)[j] * v[j];
            }
            dd[i] = s;
        }
        DenseVector vTail = viewOf(v + k + 1, n - k - 1);
        DenseVector dTail = viewOf(dd + k + 1, n - k - 1);
        const double t = dotProduct(&vTail, &dTail) / 2;
        for (int32_t i = n - 1; i > k; i--) {
            const double p = v[i];
            const double q = dd[i] - t * p;
            dd[i] = q;
            double* row = rowOf(a, i);
            for (int32_t j = i; j < n; j++) {
                row[j] -= p * dd[j] + q * v[j];
            }
        }
    }
    if (n >= 2) {
        dd[n - 2] = rowOf(a, n - 2)[n - 2];
        ee[n - 2] = rowOf(a, n - 2)[n - 1];
    }
    dd[n - 1] = rowOf(a, n - 1)[n - 1];

    for (int32_t k = n - 1; k >= 0; k--) {
        double* v = rowOf(a, k);
        if (k < n - 2) {
            for (int32_t i = k + 1; i < n; i++) {
                double* row = rowOf(a, i);
                double t = 0.0;
                for (int32_t j = k + 1; j < n; j++) {
                    t += v[j] * row[j];
                }
                for (int32_t j = k + 1; j < n; j++) {
                    row[j] -= t * v[j];
                }
            }
        }
        for (int32_t j = 0; j < n; j++) {
            v[j] = 0.0;
        }
        v[k] = 1.0;
    }
    return 0;
}

double householderVector(DenseVector* x) {
    double s = std::sqrt(dotProduct(x, x));
    if (std::isnan(s)) {
        return s;  // an unusable view, or NaN elements: nothing to reflect
    }
    if (s != 0.0) {
        if (x->data[0] < 0) {
            s = -s;
        }
        x->data[0] += s;
        const double f = 1 / std::sqrt(s * x->data[0]);
        for (int32_t i = 0; i < x->length; i++) {
            x->data[i] *= f;
        }
    }
    return -s;
}

}  // namespace zelk
