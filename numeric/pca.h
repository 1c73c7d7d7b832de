// Principal component analysis of a point set, one point per row.
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
