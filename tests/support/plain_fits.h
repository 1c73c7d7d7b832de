// The line fit computed the plain way: the PCA one pass at a time, which the fast path must
// match bit for bit, and the whole fit from its formulas, which it must match to rounding.
#pragma once
#include <cstdint>

#include "numeric/dense_matrix.h"

// computePca for shapes it accepts: mean, centring and scaling, spread matrix, each in its
// own pass over a copy of the points, then the eigen-solver. The same outputs, written alike.
int plainPca(const zelk::DenseMatrix* points, zelk::DenseMatrix* axes, zelk::DenseVector* ratios,
             zelk::DenseVector* mean);
// The side lines and corners of fitEdgeLines computed from the lens model and the least-squares
// line in closed form, sharing no code with it: each side trimmed alike, every point taken back
// through the lens, the line through the points' mean along their largest spread, and the
// corners where neighbouring lines cross. 0, or -1 when a side cannot be fitted.
int plainEdgeLines(const int32_t* contourX, const int32_t* contourY, const int32_t vertexIndex[5],
                   const double distortion[4], double edgeLines[4][3], double corners[4][2]);
