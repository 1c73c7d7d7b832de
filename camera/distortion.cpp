// The radial lens distortion model: O = c + u (1 - k |u|^2) with u = s (I - c).
#include "camera/distortion.h"

#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

void observedToIdealPoints(const double factors[4], const int32_t* xs, const int32_t* ys, int32_t count,
                           double* ideal) {
    int32_t j = 0;
#if defined(__SSE2__)
    // The same operations in the same order on two lanes: each lane rounds as the scalar
    // code does. A lane whose distance reaches 0 is held at 0, which is what the scalar
    // code's early stop leaves, since 0 stays 0 in every later step.
    const __m128d c0 = _mm_set1_pd(factors[0]), c1 = _mm_set1_pd(factors[1]), scale = _mm_set1_pd(factors[3]);
    const double kScalar = factors[2] / COEFFICIENT_UNIT;
    const __m128d k = _mm_set1_pd(kScalar), k3 = _mm_set1_pd(3.0 * kScalar), one = _mm_set1_pd(1.0);
    const __m128d zero = _mm_setzero_pd();
    for (; j + 2 <= count; j += 2) {
        __m128d dx = _mm_sub_pd(_mm_set_pd(xs[j + 1], xs[j]), c0);
        __m128d dy = _mm_sub_pd(_mm_set_pd(ys[j + 1], ys[j]), c1);
        __m128d r2 = _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
        __m128d r = _mm_sqrt_pd(r2);
        const __m128d q = r;
        for (int step = 1; step <= NEWTON_STEPS; step++) {
            const __m128d keep = _mm_cmpneq_pd(r, zero);
            const __m128d z = _mm_sub_pd(
                r, _mm_div_pd(_mm_sub_pd(_mm_mul_pd(_mm_sub_pd(one, _mm_mul_pd(k, r2)), r), q),
                              _mm_sub_pd(one, _mm_mul_pd(k3, r2))));
            dx = _mm_and_pd(keep, _mm_div_pd(_mm_mul_pd(dx, z), r));
            dy = _mm_and_pd(keep, _mm_div_pd(_mm_mul_pd(dy, z), r));
            if (step == NEWTON_STEPS) break;
            r2 = _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
            r = _mm_sqrt_pd(r2);
        }
        const __m128d ix = _mm_add_pd(_mm_div_pd(dx, scale), c0);
        const __m128d iy = _mm_add_pd(_mm_div_pd(dy, scale), c1);
        _mm_storeu_pd(ideal + 2 * j, _mm_unpacklo_pd(ix, iy));
        _mm_storeu_pd(ideal + 2 * j + 2, _mm_unpackhi_pd(ix, iy));
    }
#endif
    for (; j < count; j++) observedToIdeal(factors, xs[j], ys[j], &ideal[2 * j], &ideal[2 * j + 1]);
}

}  // namespace zelk
