// Small heap matrices and vectors of doubles, row-major.
#pragma once
#include <cstdint>

namespace zelk {

struct DenseMatrix {
    double* data;  // rows x cols, element (i, j) at i * cols + j
    int32_t rows;
    int32_t cols;
};

struct DenseVector {
    double* data;
    int32_t length;
};

constexpr int INVERT_MAX_DIMENSION = 50;
constexpr double SINGULAR_EPSILON = 1.0e-10;

// Records with negative sizes or null elements, and null records, are refused
// by every operation (null, -1 or NaN); sizes of 0 are valid.

// New rows x cols matrix with uninitialised elements, or null.
DenseMatrix* createMatrix(int32_t rows, int32_t cols);
// Releases the elements and the record. Returns 0.
int destroyMatrix(DenseMatrix* m);
// New matrix holding a copy of source, or null.
DenseMatrix* cloneMatrix(const DenseMatrix* source);
// Copies source into destination; -1 when their sizes differ.
int copyMatrixInto(DenseMatrix* destination, const DenseMatrix* source);
// destination = a * b; -1 on a size mismatch or when destination is an operand (nothing written).
int multiplyMatrices(DenseMatrix* destination, const DenseMatrix* a, const DenseMatrix* b);
// Replaces a square matrix by its inverse; -1 when not square, singular or not finite.
int invertMatrixInPlace(DenseMatrix* m);
// Inverts the n x n block with the given row stride in place; null on failure
// (n outside 1 .. INVERT_MAX_DIMENSION, stride < n, a pivot <= SINGULAR_EPSILON;
// an infinite or NaN element fails with the block untouched).
double* gaussJordanInvert(double* a, int n, int stride);
// Solves a x = b for the n x n matrix a (overwritten) and b (replaced by x); 0, or -1 as
// gaussJordanInvert fails (b untouched).
int solveInPlace(double* a, double* b, int n);
// Solves a x = b for the symmetric positive definite n x n matrix a, of which only the lower
// triangle is read (and overwritten by its Cholesky factor); b is replaced by x. 0, or -1
// (b untouched) when n is outside 1 .. INVERT_MAX_DIMENSION or a pivot is not a positive
// finite number: a not positive definite, or not finite.
int solveSymmetricInPlace(double* a, double* b, int n);
// New vector with uninitialised elements, or null.
DenseVector* createVector(int32_t length);
// Releases the elements and the record. Returns 0.
int destroyVector(DenseVector* v);
// Sum of a[i] * b[i]; NaN when the lengths differ.
double dotProduct(const DenseVector* a, const DenseVector* b);

}  // namespace zelk
