// The radial lens distortion model: O = c + u (1 - k |u|^2) with u = s (I - c).
#include "camera/distortion.h"

#include <cmath>

#include "numeric/simd.h"

namespace zelk {

namespace {

constexpr double COEFFICIENT_UNIT = 100000000.0;  // the radial coefficient is stored x 1e8
constexpr int NEWTON_STEPS = 3;

int finiteResult(double x, double y) { return std::isfinite(x) && std::isfinite(y) ? 0 : -1; }

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

int idealPointInLensRange(const double factors[4], double ix, double iy) {
    if (factors == nullptr) return -1;
    const double x = (ix - factors[0]) * factors[3];
    const double y = (iy - factors[1]) * factors[3];
    // d/dz of z (1 - k z^2) is 1 - 3 k z^2: the observed radius grows only while that is positive.
    const double slope = 1 - 3 * (factors[2] / COEFFICIENT_UNIT) * (x * x + y * y);
    return slope > 0 ? 0 : -1;
}

#if ZELK_SSE2
namespace {

struct PackedFactors {
    __m128d c0, c1, scale, inverseScale, k, k3, one, zero;
    bool scaleByInverse;
    bool withoutRadialTerm;
};

// Dividing by a power of two whose reciprocal is a normal number gives the same double as
// multiplying by that reciprocal: both round the same real value once (also for 0, infinity
// and NaN, and with denormals flushed, since the reciprocal is normal).
bool exactInverse(double scale, double* inverse) {
    int exponent = 0;
    if (!std::isfinite(scale) || std::fabs(std::frexp(scale, &exponent)) != 0.5) return false;
    *inverse = 1.0 / scale;
    return std::isnormal(*inverse);
}

// N vectors of two points each. One point's conversion is a single chain of divisions and
// square roots; N independent chains side by side keep those pipelined units busy. Every
// lane does the scalar code's operations in its order, so it rounds as the scalar code does.
// A lane whose distance reaches 0 is held at 0, which is what the scalar code's early stop
// leaves, since 0 stays 0 in every later step.
template <int N>
void convertVectors(const PackedFactors& f, const int32_t* xs, const int32_t* ys, double* ideal) {
    __m128d dx[N], dy[N], r2[N], r[N], q[N];
    for (int v = 0; v < N; v++) {
        dx[v] = _mm_sub_pd(_mm_set_pd(xs[2 * v + 1], xs[2 * v]), f.c0);
        dy[v] = _mm_sub_pd(_mm_set_pd(ys[2 * v + 1], ys[2 * v]), f.c1);
        r2[v] = _mm_add_pd(_mm_mul_pd(dx[v], dx[v]), _mm_mul_pd(dy[v], dy[v]));
        r[v] = _mm_sqrt_pd(r2[v]);
        q[v] = r[v];
    }
    for (int step = 1; step <= NEWTON_STEPS; step++) {
        __m128d quotient[N];
        for (int v = 0; v < N; v++)
            quotient[v] = _mm_sub_pd(_mm_mul_pd(_mm_sub_pd(f.one, _mm_mul_pd(f.k, r2[v])), r[v]), q[v]);
        // Without a radial term the denominator is 1 - 0 r^2 = 1 and x / 1 is x exactly. Where
        // r^2 is not finite, numerator and denominator are both NaN, and a division returns the
        // NaN of its dividend: the numerator again.
        if (!f.withoutRadialTerm)
            for (int v = 0; v < N; v++)
                quotient[v] = _mm_div_pd(quotient[v], _mm_sub_pd(f.one, _mm_mul_pd(f.k3, r2[v])));
        for (int v = 0; v < N; v++) {
            const __m128d keep = _mm_cmpneq_pd(r[v], f.zero);
            const __m128d z = _mm_sub_pd(r[v], quotient[v]);
            dx[v] = _mm_and_pd(keep, _mm_div_pd(_mm_mul_pd(dx[v], z), r[v]));
            dy[v] = _mm_and_pd(keep, _mm_div_pd(_mm_mul_pd(dy[v], z), r[v]));
            if (step == NEWTON_STEPS) continue;
            r2[v] = _mm_add_pd(_mm_mul_pd(dx[v], dx[v]), _mm_mul_pd(dy[v], dy[v]));
            r[v] = _mm_sqrt_pd(r2[v]);
        }
    }
    for (int v = 0; v < N; v++) {
        const __m128d sx = f.scaleByInverse ? _mm_mul_pd(dx[v], f.inverseScale) : _mm_div_pd(dx[v], f.scale);
        const __m128d sy = f.scaleByInverse ? _mm_mul_pd(dy[v], f.inverseScale) : _mm_div_pd(dy[v], f.scale);
        const __m128d ix = _mm_add_pd(sx, f.c0);
        const __m128d iy = _mm_add_pd(sy, f.c1);
        _mm_storeu_pd(ideal + 4 * v, _mm_unpacklo_pd(ix, iy));
        _mm_storeu_pd(ideal + 4 * v + 2, _mm_unpackhi_pd(ix, iy));
    }
}

}  // namespace
#endif

void observedToIdealPoints(const double factors[4], const int32_t* xs, const int32_t* ys, int32_t count,
                           double* ideal) {
    int32_t j = 0;
#if ZELK_SSE2
    const double k = factors[2] / COEFFICIENT_UNIT;
    double inverse = 0.0;
    const bool scaleByInverse = exactInverse(factors[3], &inverse);
    const PackedFactors f = {
        _mm_set1_pd(factors[0]), _mm_set1_pd(factors[1]), _mm_set1_pd(factors[3]), _mm_set1_pd(inverse), _mm_set1_pd(k),
        _mm_set1_pd(3.0 * k),    _mm_set1_pd(1.0),        _mm_setzero_pd(),        scaleByInverse,       k == 0.0};
    constexpr int32_t WIDE = 4;  // vectors side by side
    for (; j + 2 * WIDE <= count; j += 2 * WIDE) convertVectors<WIDE>(f, xs + j, ys + j, ideal + 2 * j);
    for (; j + 2 <= count; j += 2) convertVectors<1>(f, xs + j, ys + j, ideal + 2 * j);
#endif
    for (; j < count; j++) observedToIdeal(factors, xs[j], ys[j], &ideal[2 * j], &ideal[2 * j + 1]);
}

}  // namespace zelk
