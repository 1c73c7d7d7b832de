// Owning handles and builders for the numeric tests.
#pragma once
#include <initializer_list>
#include <memory>

#include "numeric/dense_matrix.h"

struct MatrixDeleter {
    void operator()(zelk::DenseMatrix* m) const { zelk::destroyMatrix(m); }
};
struct VectorDeleter {
    void operator()(zelk::DenseVector* v) const { zelk::destroyVector(v); }
};
using MatrixPtr = std::unique_ptr<zelk::DenseMatrix, MatrixDeleter>;
using VectorPtr = std::unique_ptr<zelk::DenseVector, VectorDeleter>;

// A rows x cols matrix filled row by row from values (the rest left as created).
inline MatrixPtr makeMatrix(int rows, int cols, std::initializer_list<double> values = {}) {
    MatrixPtr m(zelk::createMatrix(rows, cols));
    int i = 0;
    for (double v : values) {
        m->data[i++] = v;
    }
    return m;
}

inline VectorPtr makeVector(int length, std::initializer_list<double> values = {}) {
    VectorPtr v(zelk::createVector(length));
    int i = 0;
    for (double x : values) {
        v->data[i++] = x;
    }
    return v;
}

inline double at(const zelk::DenseMatrix* m, int i, int j) { return m->data[i * m->cols + j]; }
