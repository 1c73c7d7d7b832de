// Small heap matrices and vectors of doubles. The loops keep a fixed
// accumulation order: later stages compare results bit for bit.
#include "numeric/dense_matrix.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace zelk {

namespace {

// Element array of count doubles, or null when count is negative or its byte
// size does not fit. A zero count still gets a (one-element) allocation so
// that a null data pointer always means failure.
double* allocateElements(int64_t count) {
    if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(double)) {
        return nullptr;
    }
    const size_t bytes = (count == 0 ? 1 : static_cast<size_t>(count)) * sizeof(double);
    return static_cast<double*>(std::malloc(bytes));
}

// A record whose sizes are non-negative and whose elements are there to read.
bool usableMatrix(const DenseMatrix* m) {
    return m != nullptr && m->rows >= 0 && m->cols >= 0 &&
           (m->data != nullptr || static_cast<int64_t>(m->rows) * m->cols == 0);
}

bool usableVector(const DenseVector* v) {
    return v != nullptr && v->length >= 0 && (v->data != nullptr || v->length == 0);
}

// Row i of a block with the given stride; the offset is formed in pointer width.
double* rowOf(double* a, int i, int stride) { return a + static_cast<ptrdiff_t>(i) * stride; }

void swapValues(double* x, double* y) {
    const double t = *x;
    *x = *y;
    *y = t;
}

}  // namespace

DenseMatrix* createMatrix(int32_t rows, int32_t cols) {
    if (rows < 0 || cols < 0) {
        return nullptr;
    }
    auto* m = static_cast<DenseMatrix*>(std::malloc(sizeof(DenseMatrix)));
    if (m == nullptr) {
        return nullptr;
    }
    // 64-bit product: rows * cols may exceed the int32 range.
    m->data = allocateElements(static_cast<int64_t>(rows) * cols);
    if (m->data == nullptr) {
        std::free(m);
        return nullptr;
    }
    m->rows = rows;
    m->cols = cols;
    return m;
}

int destroyMatrix(DenseMatrix* m) {
    if (m != nullptr) {
        std::free(m->data);
        std::free(m);
    }
    return 0;
}

DenseMatrix* cloneMatrix(const DenseMatrix* source) {
    if (!usableMatrix(source)) {
        return nullptr;
    }
    DenseMatrix* m = createMatrix(source->rows, source->cols);
    if (m == nullptr) {
        return nullptr;
    }
    if (copyMatrixInto(m, source) < 0) {
        destroyMatrix(m);
        return nullptr;
    }
    return m;
}

int copyMatrixInto(DenseMatrix* destination, const DenseMatrix* source) {
    if (!usableMatrix(destination) || !usableMatrix(source) || destination->rows != source->rows ||
        destination->cols != source->cols) {
        return -1;
    }
    const int64_t count = static_cast<int64_t>(source->rows) * source->cols;
    for (int64_t i = 0; i < count; i++) {
        destination->data[i] = source->data[i];
    }
    return 0;
}

int multiplyMatrices(DenseMatrix* destination, const DenseMatrix* a, const DenseMatrix* b) {
    if (!usableMatrix(destination) || !usableMatrix(a) || !usableMatrix(b) || a->cols != b->rows ||
        destination->rows != a->rows || destination->cols != b->cols) {
        return -1;
    }
    // Writing into an operand would overwrite elements still to be read.
    if (destination->data == a->data || destination->data == b->data) {
        return -1;
    }
    const int64_t n = a->cols;
    const int64_t cols = destination->cols;
    for (int64_t i = 0; i < destination->rows; i++) {
        for (int64_t j = 0; j < cols; j++) {
            double* out = &destination->data[i * cols + j];
            *out = 0.0;
            for (int64_t k = 0; k < n; k++) {
                *out += a->data[i * n + k] * b->data[k * cols + j];
            }
        }
    }
    return 0;
}

int invertMatrixInPlace(DenseMatrix* m) {
    // A non-square record would make the row stride read past its elements.
    if (!usableMatrix(m) || m->rows != m->cols) {
        return -1;
    }
    return gaussJordanInvert(m->data, m->rows, m->rows) == nullptr ? -1 : 0;
}

int solveInPlace(double* a, double* b, int n) {
    if (b == nullptr || gaussJordanInvert(a, n, n) == nullptr) return -1;
    double x[INVERT_MAX_DIMENSION];
    for (int i = 0; i < n; i++) {
        x[i] = 0;
        for (int j = 0; j < n; j++) x[i] += a[i * n + j] * b[j];
    }
    for (int i = 0; i < n; i++) b[i] = x[i];
    return 0;
}

int solveSymmetricInPlace(double* a, double* b, int n) {
    if (a == nullptr || b == nullptr || n <= 0 || n > INVERT_MAX_DIMENSION) return -1;
    // a = L L', L in a's lower triangle, column by column.
    for (int j = 0; j < n; j++) {
        double pivot = a[j * n + j];
        for (int k = 0; k < j; k++) pivot -= a[j * n + k] * a[j * n + k];
        if (!(pivot > 0) || !std::isfinite(pivot)) return -1;
        const double root = std::sqrt(pivot);
        a[j * n + j] = root;
        for (int i = j + 1; i < n; i++) {
            double sum = a[i * n + j];
            for (int k = 0; k < j; k++) sum -= a[i * n + k] * a[j * n + k];
            a[i * n + j] = sum / root;
        }
    }
    // L y = b, then L' x = y.
    for (int i = 0; i < n; i++) {
        double sum = b[i];
        for (int k = 0; k < i; k++) sum -= a[i * n + k] * b[k];
        b[i] = sum / a[i * n + i];
    }
    for (int i = n - 1; i >= 0; i--) {
        double sum = b[i];
        for (int k = i + 1; k < n; k++) sum -= a[k * n + i] * b[k];
        b[i] = sum / a[i * n + i];
    }
    return 0;
}

double* gaussJordanInvert(double* a, int n, int stride) {
    if (a == nullptr || n <= 0 || n > INVERT_MAX_DIMENSION || stride < n) {
        return nullptr;
    }
    // Infinite or NaN elements would spread NaN through every row; refuse the
    // block untouched instead of handing back a meaningless "inverse".
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            if (!std::isfinite(rowOf(a, i, stride)[j])) {
                return nullptr;
            }
        }
    }
    if (n == 1) {
        a[0] = 1.0 / a[0];
        return a;
    }

    int32_t perm[INVERT_MAX_DIMENSION];
    for (int i = 0; i < n; i++) {
        perm[i] = i;
    }

    // Compact layout: the column being eliminated sits at position 0 of every
    // row, and each step shifts all rows one position to the left.
    for (int r = 0; r < n; r++) {
        int p = -1;
        double best = 0.0;
        for (int i = r; i < n; i++) {
            const double magnitude = std::fabs(rowOf(a, i, stride)[0]);
            if (magnitude > best) {
                best = magnitude;
                p = i;
            }
        }
        if (p < 0 || best <= SINGULAR_EPSILON) {
            return nullptr;
        }

        const int32_t t = perm[p];
        perm[p] = perm[r];
        perm[r] = t;
        double* w = rowOf(a, r, stride);
        if (p != r) {
            double* other = rowOf(a, p, stride);
            for (int j = 0; j < n; j++) {
                swapValues(&other[j], &w[j]);
            }
        }

        const double pivot = w[0];
        for (int j = 1; j < n; j++) {
            w[j - 1] = w[j] / pivot;
        }
        w[n - 1] = 1.0 / pivot;

        for (int i = 0; i < n; i++) {
            if (i == r) {
                continue;
            }
            double* row = rowOf(a, i, stride);
            const double f = row[0];
            for (int j = 1; j < n; j++) {
                row[j - 1] = row[j] - f * w[j - 1];
            }
            row[n - 1] = -f * w[n - 1];
        }
    }

    for (int k = 0; k < n; k++) {
        // perm[k .. n-1] always holds k .. n-1, so the search ends inside the table.
        int j = k;
        while (perm[j] != k) {
            j++;
        }
        perm[j] = perm[k];
        for (int i = 0; i < n; i++) {
            swapValues(&rowOf(a, i, stride)[j], &rowOf(a, i, stride)[k]);
        }
    }
    return a;
}

DenseVector* createVector(int32_t length) {
    if (length < 0) {
        return nullptr;
    }
    auto* v = static_cast<DenseVector*>(std::malloc(sizeof(DenseVector)));
    if (v == nullptr) {
        return nullptr;
    }
    v->data = allocateElements(length);
    if (v->data == nullptr) {
        std::free(v);
        return nullptr;
    }
    v->length = length;
    return v;
}

int destroyVector(DenseVector* v) {
    if (v != nullptr) {
        std::free(v->data);
        std::free(v);
    }
    return 0;
}

double dotProduct(const DenseVector* a, const DenseVector* b) {
    if (!usableVector(a) || !usableVector(b) || a->length != b->length) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    double sum = 0.0;
    for (int32_t i = 0; i < a->length; i++) {
        sum = a->data[i] * b->data[i] + sum;
    }
    return sum;
}

}  // namespace zelk
