// Closed-form starting rotation from a marker's two pairs of opposite edge lines.
//
// A rotation is 3 x 3, row-major; its columns are the marker's x, y and z axes in
// camera coordinates. The projection P is the current camera's 3 x 4 matrix.
//
// Degenerate input fails with -1 instead of producing non-finite axes: opposite lines
// that coincide (no direction), a z axis of zero length, and a camera whose left
// 3 x 3 block cannot be inverted.
#pragma once
#include <cstdint>

#include "detect/marker_record.h"

namespace zelk {

// Index into corners / edgeLines of pattern corner j for a marker stored with direction d:
// (4 - d + j) mod 4, always in 0-3 whatever d holds.
int patternCornerIndex(int32_t direction, int j);
// The marker's rotation into rotationOut (written only on success). 0 or -1.
int computeInitialRotation(const MarkerRecord* marker, const double P[3][4], double rotationOut[3][3]);
// The unit 3-D direction shared by two image lines (a, b, c); -1 when they give none.
int axisFromOppositeSides(const double line1[3], const double line2[3], const double P[3][4], double axisOut[3]);
// Negates axis unless its projection runs from fromCorner towards toCorner. 0 or -1 (unchanged).
int orientAxis(double axis[3], const double fromCorner[2], const double toCorner[2], const double P[3][4]);
// Turns the x axis axes[0-2] and the y axis axes[3-5] in their plane until perpendicular.
// 0, or -1 with both unchanged.
int orthogonalizeAxes(double axes[6]);

}  // namespace zelk
