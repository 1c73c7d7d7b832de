// The radial lens distortion model between ideal and observed image points.
#pragma once

namespace zelk {

// Ideal to observed coordinates with the 4 distortion factors. Returns 0.
int idealToObserved(const double factors[4], double ix, double iy, double* ox, double* oy);
// Observed to ideal coordinates, three Newton steps. Returns 0.
int observedToIdeal(const double factors[4], double ox, double oy, double* ix, double* iy);

}  // namespace zelk
