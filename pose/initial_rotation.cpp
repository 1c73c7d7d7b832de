#include "pose/initial_rotation.h"

#include <cmath>
#include <utility>

#include "numeric/dense_matrix.h"

namespace zelk {

int patternCornerIndex(int32_t direction, int j) {
    // Widened so that no direction value overflows; the second step keeps it non-negative.
    const int64_t index = (int64_t{4} - direction + j) % 4;
    return static_cast<int>((index + 4) % 4);
}

// v / |v|, or -1 when the length is zero or not finite (v unchanged).
static int normalize(double v[3]) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(length > 0.0) || !std::isfinite(length)) return -1;
    for (int i = 0; i < 3; i++) v[i] /= length;
    return 0;
}

int axisFromOppositeSides(const double line1[3], const double line2[3], const double P[3][4], double axisOut[3]) {
    const double w1 = line1[0] * line2[1] - line2[0] * line1[1];
    const double w2 = line1[1] * line2[2] - line2[1] * line1[2];
    const double w3 = line1[2] * line2[0] - line2[2] * line1[0];
    double v[3] = {
        (P[0][1] * P[1][2] - P[0][2] * P[1][1]) * w1 + P[1][1] * w2 - P[0][1] * w3,
        -P[0][0] * P[1][2] * w1 + P[0][0] * w3,
        P[0][0] * P[1][1] * w1,
    };
    if (normalize(v) != 0) return -1;
    for (int i = 0; i < 3; i++) axisOut[i] = v[i];
    return 0;
}

// The image point of camera point X; -1 when it lies in the camera's plane (h = 0).
static int projectPoint(const double P[3][4], const double X[3], double image[2]) {
    const double h = P[2][0] * X[0] + P[2][1] * X[1] + P[2][2] * X[2];
    if (h == 0.0) return -1;
    image[0] = (P[0][0] * X[0] + P[0][1] * X[1] + P[0][2] * X[2]) / h;
    image[1] = (P[1][0] * X[0] + P[1][1] * X[1] + P[1][2] * X[2]) / h;
    return 0;
}

int orientAxis(double axis[3], const double fromCorner[2], const double toCorner[2], const double P[3][4]) {
    // The camera block is inverted in a matrix of our own: nothing to allocate, and a
    // singular block (no valid camera) is reported instead of yielding garbage.
    double inverse[3][3];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) inverse[r][c] = P[r][c];
    DenseMatrix block = {&inverse[0][0], 3, 3};
    if (invertMatrixInPlace(&block) != 0) return -1;

    const double px = fromCorner[0], py = fromCorner[1];
    double x0[3], x1[3];
    for (int r = 0; r < 3; r++) {
        x0[r] = inverse[r][0] * px * 10 + inverse[r][1] * py * 10 + inverse[r][2] * 10;
        x1[r] = x0[r] + axis[r];
    }
    double s0[2], s1[2];
    if (projectPoint(P, x0, s0) != 0 || projectPoint(P, x1, s1) != 0) return -1;
    const double along = (toCorner[0] - px) * (s1[0] - s0[0]) + (toCorner[1] - py) * (s1[1] - s0[1]);
    if (along < 0) {
        for (int r = 0; r < 3; r++) axis[r] = -axis[r];
    }
    return 0;
}

// Rounding alone can push a discriminant that is zero in exact arithmetic (axes already
// perpendicular) slightly below zero; within this share of its terms it counts as zero.
constexpr double DISCRIMINANT_ROUNDING = 1e-10;
// Below this coordinate determinant the coefficients k1 ... k4 lose all precision.
constexpr double DETERMINANT_PRECISION = 1e-6;

// The two unit vectors p in the plane with unit normal n that make p . u = cb.
static int turnInPlane(const double u[3], const double n[3], double cb, double plus[3], double minus[3]) {
    double ux = u[0], uy = u[1], uz = u[2];
    double A = n[0], B = n[1], C = n[2];
    int swap = 0;
    if (B * ux - A * uy == 0) {
        if (C * ux - A * uz == 0) {
            std::swap(ux, uz);
            std::swap(A, C);
            swap = 2;
        } else {
            std::swap(uy, uz);
            std::swap(B, C);
            swap = 1;
        }
    }
    const double D = B * ux - A * uy;
    if (!(std::fabs(D) >= DETERMINANT_PRECISION)) {
        // u lies almost in a coordinate plane, where the coefficients below divide by
        // rounding noise. Turn u about n directly: p = cb u +- sin (n x u).
        if (!std::isfinite(D)) return -1;
        const double sine = std::sqrt(std::fmax(0.0, 1 - cb * cb));
        const double side[3] = {n[1] * u[2] - n[2] * u[1], n[2] * u[0] - n[0] * u[2], n[0] * u[1] - n[1] * u[0]};
        for (int i = 0; i < 3; i++) {
            plus[i] = cb * u[i] + sine * side[i];
            minus[i] = cb * u[i] - sine * side[i];
        }
        return 0;
    }
    const double k1 = (uy * C - B * uz) / D;
    const double k2 = B * cb / D;
    const double k3 = (ux * C - A * uz) / (A * uy - B * ux);
    const double k4 = A * cb / (A * uy - B * ux);
    const double alpha = k1 * k1 + k3 * k3 + 1;
    const double beta = k1 * k2 + k3 * k4;
    const double gamma = k2 * k2 + k4 * k4 - 1;
    double delta = beta * beta - alpha * gamma;
    if (delta < 0) {
        if (-delta > DISCRIMINANT_ROUNDING * (beta * beta + std::fabs(alpha * gamma))) return -1;
        delta = 0;
    }
    if (!(delta >= 0)) return -1;  // not a number
    const double root = std::sqrt(delta);
    const double z[2] = {(-beta + root) / alpha, (-beta - root) / alpha};
    double* candidates[2] = {plus, minus};
    for (int i = 0; i < 2; i++) {
        double* p = candidates[i];
        p[0] = k1 * z[i] + k2;
        p[1] = k3 * z[i] + k4;
        p[2] = z[i];
        if (swap == 1) std::swap(p[1], p[2]);
        if (swap == 2) std::swap(p[0], p[2]);
    }
    return 0;
}

static double dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

int orthogonalizeAxes(double axes[6]) {
    const double* u = axes;
    const double* v = axes + 3;
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (length == 0.0) return -1;
    for (int i = 0; i < 3; i++) n[i] /= length;

    const double w = std::fabs(dot(u, v));
    const double cb = (std::sqrt(1 + w) + std::sqrt(1 - w)) * 0.5;
    double p[2][3], q[2][3];
    if (turnInPlane(u, n, cb, p[0], p[1]) != 0) return -1;
    if (turnInPlane(v, n, cb, q[0], q[1]) != 0) return -1;

    // Pairs in the order (p+, q+), (p+, q-), (p-, q+), (p-, q-); a later pair wins ties.
    int bestP = 0, bestQ = 0;
    double best = std::fabs(dot(p[0], q[0]));
    for (int pair = 1; pair < 4; pair++) {
        const double score = std::fabs(dot(p[pair / 2], q[pair % 2]));
        if (score <= best) {
            best = score;
            bestP = pair / 2;
            bestQ = pair % 2;
        }
    }
    for (int i = 0; i < 3; i++) {
        axes[i] = p[bestP][i];
        axes[3 + i] = q[bestQ][i];
    }
    return 0;
}

int computeInitialRotation(const MarkerRecord* marker, const double P[3][4], double rotationOut[3][3]) {
    int k[4];
    for (int j = 0; j < 4; j++) k[j] = patternCornerIndex(marker->direction, j);

    double axes[6];
    double* x = axes;
    double* y = axes + 3;
    if (axisFromOppositeSides(marker->edgeLines[k[0]], marker->edgeLines[k[2]], P, x) != 0) return -1;
    if (axisFromOppositeSides(marker->edgeLines[k[1]], marker->edgeLines[k[3]], P, y) != 0) return -1;
    if (orientAxis(x, marker->corners[k[0]], marker->corners[k[1]], P) != 0) return -1;
    if (orientAxis(y, marker->corners[k[3]], marker->corners[k[0]], P) != 0) return -1;
    if (orthogonalizeAxes(axes) != 0) return -1;
    double z[3] = {x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2], x[0] * y[1] - x[1] * y[0]};
    if (normalize(z) != 0) return -1;
    for (int r = 0; r < 3; r++) {
        rotationOut[r][0] = x[r];
        rotationOut[r][1] = y[r];
        rotationOut[r][2] = z[r];
    }
    return 0;
}

}  // namespace zelk
