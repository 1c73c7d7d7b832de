// Principal component analysis of a point set, one point per row.
//
// computePca takes n points of m coordinates with n >= m >= 2 (fewer points
// than coordinates are refused with -1); axes is m x m, ratios and mean have
// length m. Axes whose eigenvalue is below 1e-16 are all zeros with ratio 0, so
// equal points give mean = the point, zero axes, all ratios 0 and result 0.
// Points with an infinite or NaN coordinate, or whose spread overflows, give -1.
#pragma once
#include "numeric/dense_matrix.h"

namespace zelk {

// Mean, unit principal axes (rows, by decreasing spread) and contribution ratios. 0 or -1.
int computePca(const DenseMatrix* points, DenseMatrix* axes, DenseVector* ratios, DenseVector* mean);
// Eigenvectors (rows of a) and eigenvalues (d, decreasing) of a symmetric matrix. 0 or -1.
int symmetricEigen(DenseMatrix* a, DenseVector* d);
// Householder reduction to tridiagonal form; a receives the transformation. 0 or -1.
int tridiagonalize(DenseMatrix* a, DenseVector* d, DenseVector* e);
// Turns x into a Householder reflection vector; returns what the reflection leaves in x[0].
double householderVector(DenseVector* x);

}  // namespace zelk
