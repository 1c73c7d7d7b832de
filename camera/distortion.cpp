// The radial lens distortion model: O = c + u (1 - k |u|^2) with u = s (I - c).
#include "camera/distortion.h"

#include <cmath>

namespace zelk {

namespace {

constexpr double COEFFICIENT_UNIT = 100000000.0;  // the radial coefficient is stored x 1e8
constexpr int NEWTON_STEPS = 3;

int finiteResult(double x, double y) {
    return std::isfinite(x) && std::isfinite(y) ? 0 : -1;
}

}  // namespace

int idealToObserved(const double factors[4], double ix, double iy, double* ox, double* oy) {
    if (factors == nullptr || ox == nullptr || oy == nullptr) {
        return -1;
    }
    const double x = (ix - factors[0]) * factors[3];
    const double y = (iy - factors[1]) * factors[3];
    if (x == 0 && y == 0) {
        *ox = factors[0];
        *oy = factors[1];
    } else {
        const double f = 1 - (factors[2] / COEFFICIENT_UNIT) * (x * x + y * y);
        *ox = x * f + factors[0];
        *oy = y * f + factors[1];
    }
    return finiteResult(*ox, *oy);
}

int observedToIdeal(const double factors[4], double ox, double oy, double* ix, double* iy) {
    if (factors == nullptr || ix == nullptr || iy == nullptr) {
        return -1;
    }
    double dx = ox - factors[0];
    double dy = oy - factors[1];
    const double k = factors[2] / COEFFICIENT_UNIT;
    double r2 = dx * dx + dy * dy;
    double r = std::sqrt(r2);
    const double q = r;
    // Newton's method on z (1 - k z^2) = q for the ideal distance z, started at q.
    for (int step = 1; step <= NEWTON_STEPS; step++) {
        if (r == 0) {
            dx = 0;
            dy = 0;
            break;
        }
        const double z = r - ((1 - k * r2) * r - q) / (1 - 3.0 * k * r2);
        dx = dx * z / r;
        dy = dy * z / r;
        if (step == NEWTON_STEPS) {
            break;
        }
        r2 = dx * dx + dy * dy;
        r = std::sqrt(r2);
    }
    *ix = dx / factors[3] + factors[0];
    *iy = dy / factors[3] + factors[1];
    return finiteResult(*ix, *iy);
}

}  // namespace zelk
