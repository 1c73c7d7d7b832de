// The line fit's numeric stages computed the plain way, one operation at a time: the
// references that the fast paths must match bit for bit.
#pragma once
#include <cstdint>

#include "numeric/dense_matrix.h"

// computePca for shapes it accepts: mean, centring and scaling, spread matrix, each in its
// own pass over a copy of the points, then the eigen-solver. The same outputs, written alike.
int plainPca(const zelk::DenseMatrix* points, zelk::DenseMatrix* axes, zelk::DenseVector* ratios,
             zelk::DenseVector* mean);
// The side lines of fitEdgeLines, every point converted by the one-point observedToIdeal and
// fitted by plainPca. 0, or -1 when a side cannot be fitted.
int plainEdgeLines(const int32_t* contourX, const int32_t* contourY, const int32_t vertexIndex[5],
                   const double distortion[4], double edgeLines[4][3]);
