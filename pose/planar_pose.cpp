#include "pose/planar_pose.h"

#include <cmath>

#include "numeric/dense_matrix.h"

namespace zelk {

namespace {

// The inverse of P's left 3 x 3 block and the camera-point shift s = block^-1 P[.][3], so
// that P [X; 1] = block (X + s). 0 or -1.
int cameraInverse(const double P[3][4], double inverse[3][3], double shift[3]) {
    double block[9];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) block[3 * r + c] = P[r][c];
    if (gaussJordanInvert(block, 3, 3) == nullptr) return -1;
    for (int r = 0; r < 3; r++) {
        shift[r] = 0;
        for (int c = 0; c < 3; c++) {
            inverse[r][c] = block[3 * r + c];
            shift[r] += block[3 * r + c] * P[c][3];
        }
    }
    return 0;
}

// Homography h (row-major, h[8] = 1) from plane points to normalised image points, by least
// squares on the eight unknowns. 0 or -1.
int planeHomography(const double (*plane)[2], const double (*normalised)[2], int n, double h[9]) {
    double normal[64] = {}, right[8] = {};
    for (int i = 0; i < n; i++) {
        const double u = plane[i][0], v = plane[i][1], x = normalised[i][0], y = normalised[i][1];
        const double rows[2][8] = {{u, v, 1, 0, 0, 0, -u * x, -v * x}, {0, 0, 0, u, v, 1, -u * y, -v * y}};
        const double sides[2] = {x, y};
        for (int k = 0; k < 2; k++) {
            for (int a = 0; a < 8; a++) {
                right[a] += rows[k][a] * sides[k];
                for (int b = 0; b < 8; b++) normal[8 * a + b] += rows[k][a] * rows[k][b];
            }
        }
    }
    if (solveInPlace(normal, right, 8) != 0) return -1;
    for (int a = 0; a < 8; a++) h[a] = right[a];
    h[8] = 1;
    return 0;
}

// The two rotations whose plane maps, to first order at the plane's origin, as the homography
// does there: image point (p, q) of the origin and Jacobian J (2 x 2). 0 or -1.
int rotationsFromJacobian(double p, double q, const double J[2][2], double R[2][3][3]) {
    // Rv turns the optical axis onto the line of sight (p, q, 1).
    double Rv[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const double t = std::sqrt(p * p + q * q);
    if (t > 0) {
        const double s = std::sqrt(t * t + 1), cosine = 1 / s, sine = t / s;
        const double k[3][3] = {{0, 0, p / t}, {0, 0, q / t}, {-p / t, -q / t, 0}};
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 3; c++) {
                double kk = 0;
                for (int m = 0; m < 3; m++) kk += k[r][m] * k[m][c];
                Rv[r][c] += sine * k[r][c] + (1 - cosine) * kk;
            }
    }
    // B maps the plane's first two axes, turned by Rv, to image directions at (p, q).
    double B[2][2];
    for (int c = 0; c < 2; c++) {
        B[0][c] = Rv[0][c] - p * Rv[2][c];
        B[1][c] = Rv[1][c] - q * Rv[2][c];
    }
    const double det = B[0][0] * B[1][1] - B[0][1] * B[1][0];
    if (!(std::fabs(det) > 0)) return -1;
    const double Binv[2][2] = {{B[1][1] / det, -B[0][1] / det}, {-B[1][0] / det, B[0][0] / det}};
    double A[2][2];
    for (int r = 0; r < 2; r++)
        for (int c = 0; c < 2; c++) A[r][c] = Binv[r][0] * J[0][c] + Binv[r][1] * J[1][c];
    // A's largest singular value scales it to the top left of a rotation.
    const double a2 = A[0][0] * A[0][0] + A[0][1] * A[0][1], b2 = A[1][0] * A[1][0] + A[1][1] * A[1][1];
    const double ab = A[0][0] * A[1][0] + A[0][1] * A[1][1];
    const double gamma = std::sqrt(0.5 * (a2 + b2 + std::sqrt((a2 - b2) * (a2 - b2) + 4 * ab * ab)));
    if (!(gamma > 0) || !std::isfinite(gamma)) return -1;
    double top[2][2];
    for (int r = 0; r < 2; r++)
        for (int c = 0; c < 2; c++) top[r][c] = A[r][c] / gamma;
    // The third row's first two entries complete two orthonormal columns, up to a common sign.
    const double h00 = 1 - top[0][0] * top[0][0] - top[1][0] * top[1][0];
    const double h01 = -top[0][0] * top[0][1] - top[1][0] * top[1][1];
    const double h11 = 1 - top[0][1] * top[0][1] - top[1][1] * top[1][1];
    double b[2] = {std::sqrt(std::fmax(0.0, h00)), std::sqrt(std::fmax(0.0, h11))};
    if (h01 < 0) b[1] = -b[1];
    const double c[3] = {top[1][0] * b[1] - b[0] * top[1][1], b[0] * top[0][1] - top[0][0] * b[1],
                         top[0][0] * top[1][1] - top[1][0] * top[0][1]};
    const double candidates[2][3][3] = {
        {{top[0][0], top[0][1], c[0]}, {top[1][0], top[1][1], c[1]}, {b[0], b[1], c[2]}},
        {{top[0][0], top[0][1], -c[0]}, {top[1][0], top[1][1], -c[1]}, {-b[0], -b[1], c[2]}}};
    for (int s = 0; s < 2; s++)
        for (int r = 0; r < 3; r++)
            for (int col = 0; col < 3; col++) {
                R[s][r][col] = 0;
                for (int m = 0; m < 3; m++) R[s][r][col] += Rv[r][m] * candidates[s][m][col];
            }
    return 0;
}

// The least-squares translation for rotation R of plane points seen at normalised points. 0 or -1.
int planeTranslation(const double R[3][3], const double (*plane)[2], const double (*normalised)[2], int n,
                     double t[3]) {
    double normal[9] = {}, right[3] = {};
    for (int i = 0; i < n; i++) {
        double X[3];
        for (int r = 0; r < 3; r++) X[r] = R[r][0] * plane[i][0] + R[r][1] * plane[i][1];
        // x (X + t)_z = (X + t)_x, and the same in y.
        const double rows[2][3] = {{1, 0, -normalised[i][0]}, {0, 1, -normalised[i][1]}};
        const double sides[2] = {normalised[i][0] * X[2] - X[0], normalised[i][1] * X[2] - X[1]};
        for (int k = 0; k < 2; k++)
            for (int a = 0; a < 3; a++) {
                right[a] += rows[k][a] * sides[k];
                for (int b = 0; b < 3; b++) normal[3 * a + b] += rows[k][a] * rows[k][b];
            }
    }
    if (solveInPlace(normal, right, 3) != 0) return -1;
    for (int a = 0; a < 3; a++) t[a] = right[a];
    return 0;
}

}  // namespace

int planarPoseCandidates(const double (*modelPoints)[2], const double (*imagePoints)[2], int n, const double P[3][4],
                         double posesOut[2][3][4]) {
    if (!modelPoints || !imagePoints || !P || n < 4 || n > PLANAR_MAX_POINTS) return -1;
    double inverse[3][3], shift[3];
    if (cameraInverse(P, inverse, shift) != 0) return -1;
    // Model points about their centroid, scaled to unit spread, keep the homography's system
    // well conditioned; image points normalised by the camera.
    double centre[2] = {0, 0};
    for (int i = 0; i < n; i++) centre[0] += modelPoints[i][0] / n, centre[1] += modelPoints[i][1] / n;
    double spread = 0;
    for (int i = 0; i < n; i++) {
        const double dx = modelPoints[i][0] - centre[0], dy = modelPoints[i][1] - centre[1];
        spread += (dx * dx + dy * dy) / n;
    }
    spread = std::sqrt(spread);
    if (!(spread > 0) || !std::isfinite(spread)) return -1;
    double plane[PLANAR_MAX_POINTS][2], scaled[PLANAR_MAX_POINTS][2], normalised[PLANAR_MAX_POINTS][2];
    for (int i = 0; i < n; i++) {
        double ray[3];
        for (int r = 0; r < 3; r++)
            ray[r] = inverse[r][0] * imagePoints[i][0] + inverse[r][1] * imagePoints[i][1] + inverse[r][2];
        if (!(ray[2] != 0) || !std::isfinite(ray[0] / ray[2]) || !std::isfinite(ray[1] / ray[2])) return -1;
        normalised[i][0] = ray[0] / ray[2];
        normalised[i][1] = ray[1] / ray[2];
        for (int k = 0; k < 2; k++) {
            plane[i][k] = modelPoints[i][k] - centre[k];
            scaled[i][k] = plane[i][k] / spread;
        }
    }
    double h[9];
    if (planeHomography(scaled, normalised, n, h) != 0) return -1;
    const double p = h[2], q = h[5];
    const double J[2][2] = {{h[0] - h[6] * p, h[1] - h[7] * p}, {h[3] - h[6] * q, h[4] - h[7] * q}};
    double R[2][3][3], t[2][3];
    if (rotationsFromJacobian(p, q, J, R) != 0) return -1;
    for (int s = 0; s < 2; s++)
        if (planeTranslation(R[s], plane, normalised, n, t[s]) != 0) return -1;
    for (int s = 0; s < 2; s++) {
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++) posesOut[s][r][c] = R[s][r][c];
            // Back from the centred plane and from the shifted camera point.
            posesOut[s][r][3] = t[s][r] - R[s][r][0] * centre[0] - R[s][r][1] * centre[1] - shift[r];
        }
    }
    return 0;
}

}  // namespace zelk
