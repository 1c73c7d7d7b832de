// The host's angle convention and ang_rotate (see host.h).
#include <cmath>

#include "platform/host/host.h"

namespace zelk::host {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DEGREES_PER_FIXED = 1.0 / 1024.0;

double radians(HostFixed fixed) { return fixed * DEGREES_PER_FIXED * PI / 180.0; }

// Degrees x 1024 rounded to nearest; the angle is already within (-180, 180].
HostFixed fixedDegrees(double radiansValue) {
    HostFixed fixed = static_cast<HostFixed>(std::lround(radiansValue * 180.0 / PI * 1024.0));
    if (fixed <= -180 * 1024) fixed += 360 * 1024;
    return fixed;
}

void multiply(const double a[3][3], const double b[3][3], double product[3][3]) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) product[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
}

}  // namespace

void angleToMatrix(const HostAngle& angle, double m[3][3]) {
    // Rz(p) * Rx(a) * Ry(b) with a = -roll, b = -tilt.
    const double p = radians(angle.pan), a = -radians(angle.roll), b = -radians(angle.tilt);
    const double cp = std::cos(p), sp = std::sin(p), ca = std::cos(a), sa = std::sin(a);
    const double cb = std::cos(b), sb = std::sin(b);
    m[0][0] = cp * cb - sp * sa * sb;
    m[0][1] = -sp * ca;
    m[0][2] = cp * sb + sp * sa * cb;
    m[1][0] = sp * cb + cp * sa * sb;
    m[1][1] = cp * ca;
    m[1][2] = sp * sb - cp * sa * cb;
    m[2][0] = -ca * sb;
    m[2][1] = sa;
    m[2][2] = ca * cb;
}

HostAngle matrixToAngle(const double m[3][3]) {
    const double sa = std::fmax(-1.0, std::fmin(1.0, m[2][1]));
    const double a = std::asin(sa);
    double p, b;
    if (std::hypot(m[0][1], m[1][1]) < 1e-9) {
        // Rolled by +-90 degrees: pan and tilt turn about the same axis; give it all to pan.
        b = 0.0;
        p = std::atan2(m[1][0], m[0][0]);
    } else {
        p = std::atan2(-m[0][1], m[1][1]);
        b = std::atan2(-m[2][0], m[2][2]);
    }
    return {fixedDegrees(p), fixedDegrees(-b), fixedDegrees(-a)};
}

HostFixed* angRotate(HostAngle* angle, HostAngle* rotation) {
    double m[3][3], r[3][3], product[3][3];
    angleToMatrix(*angle, m);
    angleToMatrix(*rotation, r);
    multiply(m, r, product);
    *angle = matrixToAngle(product);
    return &angle->pan;
}

}  // namespace zelk::host
