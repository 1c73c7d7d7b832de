// The radial lens distortion model between ideal and observed image points.
#pragma once
#include <cstdint>

namespace zelk {

// Both return 0, or -1 when a pointer is null (nothing written) or the result is
// not finite (a scale factor of 0, a vanishing Newton denominator, NaN input);
// the non-finite values are still written.

// Ideal to observed coordinates with the 4 distortion factors.
int idealToObserved(const double factors[4], double ix, double iy, double* ox, double* oy);
// Observed to ideal coordinates, three Newton steps.
int observedToIdeal(const double factors[4], double ox, double oy, double* ix, double* iy);
// 0 when the ideal point lies where the lens model is one-to-one (inside the radius where a
// positive radial term turns observed radii back), -1 beyond it or when not finite: there an
// observed point has no ideal point, and observedToIdeal's result means nothing.
int idealPointInLensRange(const double factors[4], double ix, double iy);
// observedToIdeal of the count pixel points (xs[j], ys[j]) into ideal[2j], ideal[2j + 1],
// bit for bit, in vectors of two points where SSE2 is available; the results are not checked.
void observedToIdealPoints(const double factors[4], const int32_t* xs, const int32_t* ys, int32_t count, double* ideal);

}  // namespace zelk
