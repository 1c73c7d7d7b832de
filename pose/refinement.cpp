#include "pose/refinement.h"

#include <cmath>

#include "numeric/dense_matrix.h"
#include "pose/pose_estimation.h"

namespace zelk {

constexpr double SEARCH_START_STEP = 0.17453292519943295;  // ten degrees
constexpr int SEARCH_ITERATIONS = 10;
constexpr double SEARCH_NO_ERROR = 1e9;
constexpr double AXIS_ON_CAMERA_Z = 1e-6;
constexpr double PI = 3.141592653589793;

// R(a, b, c) from the sines and cosines of its angles.
static void rotationFromSinCos(double sa, double ca, double sb, double cb, double sc, double cc, double R[3][3]) {
    R[0][0] = ca * ca * cb * cc + sa * sa * cc + sa * ca * cb * sc - sa * ca * sc;
    R[0][1] = -ca * ca * cb * sc - sa * sa * sc + sa * ca * cb * cc - sa * ca * cc;
    R[0][2] = ca * sb;
    R[1][0] = sa * ca * cb * cc - sa * ca * cc + ca * ca * sc + sa * sa * cb * sc;
    R[1][1] = sa * ca * sc - sa * ca * cb * sc + ca * ca * cc + sa * sa * cb * cc;
    R[1][2] = sa * sb;
    R[2][0] = -ca * sb * cc - sa * sb * sc;
    R[2][1] = ca * sb * sc - sa * sb * cc;
    R[2][2] = cb;
}

void anglesToMatrix(double a, double b, double c, double rotationOut[3][3]) {
    rotationFromSinCos(std::sin(a), std::cos(a), std::sin(b), std::cos(b), std::sin(c), std::cos(c), rotationOut);
}

// The angle of a (cosine, sine) pair after pulling the pair back into range.
static double pairAngle(double x, double y) {
    if (x > 1) {
        x = 1;
        y = 0;
    }
    if (x < -1) {
        x = -1;
        y = 0;
    }
    if (y > 1) {
        y = 1;
        x = 0;
    }
    if (y < -1) {
        y = -1;
        x = 0;
    }
    const double angle = std::acos(x);
    return y < 0 ? -angle : angle;
}

void matrixToAngles(const double R[3][3], double* aOut, double* bOut, double* cOut) {
    double r22 = R[2][2];
    if (r22 > 1) r22 = 1;
    if (r22 < -1) r22 = -1;
    const double b = std::acos(r22);
    if (-AXIS_ON_CAMERA_Z < b && b < AXIS_ON_CAMERA_Z) {
        *aOut = 0;
        *bOut = 0;
        *cOut = pairAngle(R[0][0], R[1][0]);
        return;
    }
    if (b > PI - AXIS_ON_CAMERA_Z) {
        // The z axis points against the camera's: a marker seen squarely, the usual view.
        // Only 2a - c is defined here and the general formula divides rounding noise by sb;
        // a = 0 gives R = Ry(pi) Rz(c), read off the upper block.
        *aOut = 0;
        *bOut = PI;
        *cOut = pairAngle(R[1][1], R[1][0]);
        return;
    }
    const double sb = std::sin(b);
    const double q = R[0][2] * R[0][2] + R[1][2] * R[1][2];
    *aOut = pairAngle(R[0][2] / sb, R[1][2] / sb);
    *bOut = b;
    const double x = -(R[0][2] * R[2][0] + R[1][2] * R[2][1]) / q;
    const double y = (R[2][1] * R[0][2] - R[2][0] * R[1][2]) / q;
    *cOut = pairAngle(x, y);
}

// The rotation columns of P . [R | t].
static void projectRotation(const double R[3][3], const double P[3][4], double out[3][4]) {
    for (int r = 0; r < 3; r++)
        for (int j = 0; j < 3; j++) out[r][j] = P[r][0] * R[0][j] + P[r][1] * R[1][j] + P[r][2] * R[2][j];
}

// The translation column of P . [R | t].
static void projectTranslation(const double t[3], const double P[3][4], double out[3][4]) {
    for (int r = 0; r < 3; r++) out[r][3] = P[r][0] * t[0] + P[r][1] * t[1] + P[r][2] * t[2] + P[r][3];
}

void composeProjection(double a, double b, double c, const double translation[3], const double P[3][4],
                       double projectionOut[3][4]) {
    double R[3][3];
    anglesToMatrix(a, b, c, R);
    projectRotation(R, P, projectionOut);
    projectTranslation(translation, P, projectionOut);
}

int solveTranslation(const double R[3][3], const double (*modelPoints)[3], const double (*fitPoints)[2], int n,
                     const double P[3][4], double translationOut[3]) {
    if (n < 1 || n > POSE_MAX_POINTS) return -1;
    const int rows = 2 * n;
    // The least-squares system A t = b and A's transpose, 2n rows at most (56 kB on the
    // stack: the caller's own, so that poses can be estimated on several threads at once).
    double systemMatrix[2 * POSE_MAX_POINTS * 3];
    double systemTranspose[3 * 2 * POSE_MAX_POINTS];
    double systemRightSide[2 * POSE_MAX_POINTS];
    for (int i = 0; i < n; i++) {
        const double* X = modelPoints[i];
        const double cx = R[0][0] * X[0] + R[0][1] * X[1] + R[0][2] * X[2];
        const double cy = R[1][0] * X[0] + R[1][1] * X[1] + R[1][2] * X[2];
        const double cz = R[2][0] * X[0] + R[2][1] * X[1] + R[2][2] * X[2];
        const double u = fitPoints[i][0], v = fitPoints[i][1];
        const double coefficients[2][3] = {{P[0][0], P[0][1], P[0][2] - u}, {0, P[1][1], P[1][2] - v}};
        systemRightSide[2 * i] = cz * u - P[0][0] * cx - P[0][1] * cy - P[0][2] * cz;
        systemRightSide[2 * i + 1] = cz * v - P[1][1] * cy - P[1][2] * cz;
        for (int k = 0; k < 2; k++) {
            for (int j = 0; j < 3; j++) {
                systemMatrix[(2 * i + k) * 3 + j] = coefficients[k][j];
                systemTranspose[j * rows + 2 * i + k] = coefficients[k][j];
            }
        }
    }
    double normal[9], projected[3], solution[3];
    DenseMatrix a = {systemMatrix, rows, 3};
    DenseMatrix at = {systemTranspose, 3, rows};
    DenseMatrix b = {systemRightSide, rows, 1};
    DenseMatrix ata = {normal, 3, 3};
    DenseMatrix atb = {projected, 3, 1};
    DenseMatrix t = {solution, 3, 1};
    multiplyMatrices(&ata, &at, &a);
    multiplyMatrices(&atb, &at, &b);
    if (invertMatrixInPlace(&ata) != 0) return -1;
    multiplyMatrices(&t, &ata, &atb);
    for (int i = 0; i < 3; i++) translationOut[i] = solution[i];
    return 0;
}

// Sum of squared distances between the fit points and the model projected by M.
static double reprojectionError(const double M[3][4], const double (*modelPoints)[3], const double (*fitPoints)[2],
                                int n) {
    double error = 0;
    for (int i = 0; i < n; i++) {
        const double* X = modelPoints[i];
        const double x = M[0][0] * X[0] + M[0][1] * X[1] + M[0][2] * X[2] + M[0][3];
        const double y = M[1][0] * X[0] + M[1][1] * X[1] + M[1][2] * X[2] + M[1][3];
        const double z = M[2][0] * X[0] + M[2][1] * X[1] + M[2][2] * X[2] + M[2][3];
        const double dx = fitPoints[i][0] - x / z;
        const double dy = fitPoints[i][1] - y / z;
        error += dx * dx + dy * dy;
    }
    return error;
}

double searchRotationAngles(double rotation[3][3], const double translation[3], const double P[3][4],
                            const double (*modelPoints)[3], const double (*fitPoints)[2], int n) {
    double angle[3];
    matrixToAngles(rotation, &angle[0], &angle[1], &angle[2]);
    double step = SEARCH_START_STEP;
    double best[3] = {0, 0, 0};
    int bestOffset[3] = {0, 0, 0};
    double minimum = SEARCH_NO_ERROR;
    // The translation column is the same for every candidate.
    double M[3][4];
    projectTranslation(translation, P, M);
    for (int iteration = 0; iteration < SEARCH_ITERATIONS; iteration++) {
        minimum = SEARCH_NO_ERROR;
        // Each angle takes three values per iteration: their sines and cosines once each.
        double value[3][3], sine[3][3], cosine[3][3];
        for (int axis = 0; axis < 3; axis++) {
            for (int o = 0; o < 3; o++) {
                value[axis][o] = angle[axis] + (o - 1) * step;
                sine[axis][o] = std::sin(value[axis][o]);
                cosine[axis][o] = std::cos(value[axis][o]);
            }
        }
        for (int j = 0; j < 3; j++) {
            for (int k = 0; k < 3; k++) {
                for (int l = 0; l < 3; l++) {
                    double R[3][3];
                    rotationFromSinCos(sine[0][j], cosine[0][j], sine[1][k], cosine[1][k], sine[2][l], cosine[2][l], R);
                    projectRotation(R, P, M);
                    const double error = reprojectionError(M, modelPoints, fitPoints, n);
                    if (minimum > error) {
                        minimum = error;
                        best[0] = value[0][j];
                        best[1] = value[1][k];
                        best[2] = value[2][l];
                        bestOffset[0] = j - 1;
                        bestOffset[1] = k - 1;
                        bestOffset[2] = l - 1;
                    }
                }
            }
        }
        if (bestOffset[0] == 0 && bestOffset[1] == 0 && bestOffset[2] == 0) step /= 2;
        for (int axis = 0; axis < 3; axis++) angle[axis] = best[axis];
    }
    anglesToMatrix(best[0], best[1], best[2], rotation);
    return minimum / n;
}

double refinePose(double rotation[3][3], const double (*imagePoints)[2], const double (*modelPoints)[3], int n,
                  double poseOut[3][4], const double P[3][4]) {
    if (n < 1 || n > POSE_MAX_POINTS) return -1.0;
    double R[3][3], t[3], error = 0;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) R[r][c] = rotation[r][c];
    for (int pass = 0; pass < 2; pass++) {
        if (solveTranslation(R, modelPoints, imagePoints, n, P, t) != 0) return -1.0;
        error = searchRotationAngles(R, t, P, modelPoints, imagePoints, n);
    }
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) poseOut[r][c] = rotation[r][c] = R[r][c];
        poseOut[r][3] = t[r];
    }
    return error;
}

}  // namespace zelk
