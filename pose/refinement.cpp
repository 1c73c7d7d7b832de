#include "pose/refinement.h"

#include <cmath>

#include "numeric/dense_matrix.h"
#include "numeric/simd.h"
#include "pose/pose_estimation.h"

namespace zelk {

constexpr double SEARCH_START_STEP = 0.17453292519943295;  // ten degrees
constexpr int SEARCH_ITERATIONS = 10;
constexpr double SEARCH_NO_ERROR = 1e9;
constexpr double AXIS_ON_CAMERA_Z = 1e-6;
constexpr double PI = 3.141592653589793;

// R(a, b, c) from the sines and cosines of its angles, in two steps: the products of a's and
// b's, which the candidates of one search iteration share, then c's. Every entry is grouped
// as the product of all six factors would be, so the bits do not depend on the sharing.
struct TiltTerms {
    double caca, sasa, saca, cacacb, sasacb, sacacb, casb, sasb, cb;
};

static TiltTerms tiltTerms(double sa, double ca, double sb, double cb) {
    const double caca = ca * ca, sasa = sa * sa, saca = sa * ca;
    return {caca, sasa, saca, caca * cb, sasa * cb, saca * cb, ca * sb, sa * sb, cb};
}

// Columns 0 and 1 of R; column 2 (casb, sasb, cb) does not depend on c.
static void rotationColumns01(const TiltTerms& t, double sc, double cc, double R[3][3]) {
    R[0][0] = t.cacacb * cc + t.sasa * cc + t.sacacb * sc - t.saca * sc;
    R[0][1] = -(t.cacacb * sc) - t.sasa * sc + t.sacacb * cc - t.saca * cc;
    R[1][0] = t.sacacb * cc - t.saca * cc + t.caca * sc + t.sasacb * sc;
    R[1][1] = t.saca * sc - t.sacacb * sc + t.caca * cc + t.sasacb * cc;
    R[2][0] = -(t.casb * cc) - t.sasb * sc;
    R[2][1] = t.casb * sc - t.sasb * cc;
}

static void rotationFromSinCos(double sa, double ca, double sb, double cb, double sc, double cc, double R[3][3]) {
    const TiltTerms t = tiltTerms(sa, ca, sb, cb);
    rotationColumns01(t, sc, cc, R);
    R[0][2] = t.casb;
    R[1][2] = t.sasb;
    R[2][2] = t.cb;
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

// Column j of P . [R | t], for j < 3.
static void projectRotationColumn(const double R[3][3], const double P[3][4], int j, double out[3][4]) {
    for (int r = 0; r < 3; r++) out[r][j] = P[r][0] * R[0][j] + P[r][1] * R[1][j] + P[r][2] * R[2][j];
}

// The rotation columns of P . [R | t].
static void projectRotation(const double R[3][3], const double P[3][4], double out[3][4]) {
    for (int j = 0; j < 3; j++) projectRotationColumn(R, P, j, out);
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

// The points the search projects: the model and fit points, and where vectors are built,
// the same again coordinate by coordinate, so that four points fill a vector.
struct SearchPoints {
    const double (*model)[3];
    const double (*fit)[2];
    int n;
#if ZELK_AVX_DISPATCH
    double column[5][POSE_MAX_POINTS];  // model x, y, z; fit x, y
    bool wide;                          // this processor runs four-double vectors
#endif
};

static void arrangeSearchPoints(const double (*modelPoints)[3], const double (*fitPoints)[2], int n,
                                SearchPoints* points) {
    points->model = modelPoints;
    points->fit = fitPoints;
    points->n = n;
#if ZELK_AVX_DISPATCH
    points->wide = avxAvailable();
    for (int i = 0; i < n; i++) {
        for (int k = 0; k < 3; k++) points->column[k][i] = modelPoints[i][k];
        for (int k = 0; k < 2; k++) points->column[3 + k][i] = fitPoints[i][k];
    }
#endif
}

// A candidate whose error exceeds that of another candidate of the same iteration (the
// centre's, when known; else knownError is infinity) cannot be its best. Sums of squares only
// grow, so when a partial sum shows it, the rest is skipped and the error given as infinity.

// error plus the squared distances between the fit points and the model projected by M,
// added in order, or infinity when a partial sum exceeds knownError.
static double reprojectionError(const double M[3][4], const double (*modelPoints)[3], const double (*fitPoints)[2],
                                int n, double error, double knownError) {
    for (int i = 0; i < n; i++) {
        if (error > knownError) return INFINITY;
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

#if ZELK_AVX_DISPATCH
// Row r of M applied to four points, as the scalar code groups it.
ZELK_AVX static __m256d projectRow4(const double M[3][4], int r, __m256d X0, __m256d X1, __m256d X2) {
    const __m256d xy =
        _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(M[r][0]), X0), _mm256_mul_pd(_mm256_set1_pd(M[r][1]), X1));
    return _mm256_add_pd(_mm256_add_pd(xy, _mm256_mul_pd(_mm256_set1_pd(M[r][2]), X2)), _mm256_set1_pd(M[r][3]));
}

// The squared distances of points i ... i + 3 under M. Divisions are much of a candidate's
// cost, and one instruction here divides four numbers.
ZELK_AVX static __m256d fourPointTerms(const double M[3][4], const SearchPoints& p, int i) {
    const __m256d X0 = _mm256_loadu_pd(p.column[0] + i);
    const __m256d X1 = _mm256_loadu_pd(p.column[1] + i);
    const __m256d X2 = _mm256_loadu_pd(p.column[2] + i);
    const __m256d z = projectRow4(M, 2, X0, X1, X2);
    const __m256d dx = _mm256_sub_pd(_mm256_loadu_pd(p.column[3] + i), _mm256_div_pd(projectRow4(M, 0, X0, X1, X2), z));
    const __m256d dy = _mm256_sub_pd(_mm256_loadu_pd(p.column[4] + i), _mm256_div_pd(projectRow4(M, 1, X0, X1, X2), z));
    return _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy));
}

// The error of M, four points a vector, or infinity once above knownError.
ZELK_AVX static double searchErrorAvx(const double M[3][4], const SearchPoints& p, double knownError) {
    double error = 0;
    int i = 0;
    for (; i + 3 < p.n; i += 4) {
        if (error > knownError) return INFINITY;
        double e[4];
        _mm256_storeu_pd(e, fourPointTerms(M, p, i));
        for (const double term : e) error += term;
    }
    return reprojectionError(M, p.model + i, p.fit + i, p.n - i, error, knownError);
}

ZELK_AVX static __m256d times(double factor, __m256d v) { return _mm256_mul_pd(_mm256_set1_pd(factor), v); }

// Columns 0 and 1 of M for the three values of c in the lanes of four-double vectors, as
// rotationColumns01 and projectRotationColumn round them, then each candidate's error (the
// centre's, lane 1, only when centre is set). M holds columns 2 and 3 on entry.
ZELK_AVX static void threeCandidateErrors(const TiltTerms& t, const double sine[3], const double cosine[3],
                                          const double P[3][4], double M[3][4], const SearchPoints& p,
                                          double knownError, bool centre, double errorOut[3]) {
    const __m256d sc = _mm256_setr_pd(sine[0], sine[1], sine[2], sine[2]);
    const __m256d cc = _mm256_setr_pd(cosine[0], cosine[1], cosine[2], cosine[2]);
    const __m256d signBit = _mm256_set1_pd(-0.0);
    __m256d R[3][2];
    R[0][0] = _mm256_sub_pd(_mm256_add_pd(_mm256_add_pd(times(t.cacacb, cc), times(t.sasa, cc)), times(t.sacacb, sc)),
                            times(t.saca, sc));
    R[0][1] = _mm256_sub_pd(_mm256_add_pd(_mm256_sub_pd(_mm256_xor_pd(times(t.cacacb, sc), signBit), times(t.sasa, sc)),
                                          times(t.sacacb, cc)),
                            times(t.saca, cc));
    R[1][0] = _mm256_add_pd(_mm256_add_pd(_mm256_sub_pd(times(t.sacacb, cc), times(t.saca, cc)), times(t.caca, sc)),
                            times(t.sasacb, sc));
    R[1][1] = _mm256_add_pd(_mm256_add_pd(_mm256_sub_pd(times(t.saca, sc), times(t.sacacb, sc)), times(t.caca, cc)),
                            times(t.sasacb, cc));
    R[2][0] = _mm256_sub_pd(_mm256_xor_pd(times(t.casb, cc), signBit), times(t.sasb, sc));
    R[2][1] = _mm256_sub_pd(times(t.casb, sc), times(t.sasb, cc));
    double column[3][2][4];
    for (int r = 0; r < 3; r++)
        for (int j = 0; j < 2; j++)
            _mm256_storeu_pd(column[r][j],
                             _mm256_add_pd(_mm256_add_pd(times(P[r][0], R[0][j]), times(P[r][1], R[1][j])),
                                           times(P[r][2], R[2][j])));
    for (int l = 0; l < 3; l++) {
        if (l == 1 && !centre) continue;
        for (int r = 0; r < 3; r++)
            for (int j = 0; j < 2; j++) M[r][j] = column[r][j][l];
        errorOut[l] = searchErrorAvx(M, p, knownError);
    }
}
#endif

// The errors of the candidates (a_j, b_k, c_l) for l = 0, 1, 2, or infinity for those above
// knownError; the centre's (l = 1) only when centre is set. M holds the translation column.
static void candidateErrors(const TiltTerms& tilt, const double sine[3], const double cosine[3], const double P[3][4],
                            double M[3][4], const SearchPoints& p, double knownError, bool centre, double errorOut[3]) {
    double R[3][3];
    R[0][2] = tilt.casb;
    R[1][2] = tilt.sasb;
    R[2][2] = tilt.cb;
    projectRotationColumn(R, P, 2, M);
#if ZELK_AVX_DISPATCH
    if (p.wide) return threeCandidateErrors(tilt, sine, cosine, P, M, p, knownError, centre, errorOut);
#endif
    for (int l = 0; l < 3; l++) {
        if (l == 1 && !centre) continue;
        rotationColumns01(tilt, sine[l], cosine[l], R);
        projectRotationColumn(R, P, 0, M);
        projectRotationColumn(R, P, 1, M);
        errorOut[l] = reprojectionError(M, p.model, p.fit, p.n, 0.0, knownError);
    }
}

static bool sameBits(double x, double y) { return x == y && std::signbit(x) == std::signbit(y); }

// One iteration's three values of every angle, with their sines and cosines. A value with
// the bits of one of the iteration before (always the centre, unless it is -0, and often a
// neighbour when the step stays) takes its sine and cosine from there.
struct AngleValues {
    double value[3][3], sine[3][3], cosine[3][3];
};

static void nextAngleValues(const double angle[3], double step, const AngleValues& before, AngleValues* out) {
    for (int axis = 0; axis < 3; axis++) {
        for (int o = 0; o < 3; o++) {
            const double value = angle[axis] + (o - 1) * step;
            out->value[axis][o] = value;
            int known = 0;
            while (known < 3 && !sameBits(before.value[axis][known], value)) known++;
            out->sine[axis][o] = known < 3 ? before.sine[axis][known] : std::sin(value);
            out->cosine[axis][o] = known < 3 ? before.cosine[axis][known] : std::cos(value);
        }
    }
}

double searchRotationAngles(double rotation[3][3], const double translation[3], const double P[3][4],
                            const double (*modelPoints)[3], const double (*fitPoints)[2], int n) {
    SearchPoints points;
    arrangeSearchPoints(modelPoints, fitPoints, n, &points);
    double angle[3];
    matrixToAngles(rotation, &angle[0], &angle[1], &angle[2]);
    double step = SEARCH_START_STEP;
    double best[3] = {0, 0, 0};
    int bestOffset[3] = {0, 0, 0};
    double minimum = SEARCH_NO_ERROR;
    // The translation column is the same for every candidate.
    double M[3][4];
    projectTranslation(translation, P, M);
    AngleValues values[2];
    for (auto& row : values[1].value)
        for (double& v : row) v = NAN;  // nothing known before the first iteration
    bool found = false;
    for (int iteration = 0; iteration < SEARCH_ITERATIONS; iteration++) {
        const AngleValues& before = values[(iteration + 1) % 2];
        AngleValues& now = values[iteration % 2];
        nextAngleValues(angle, step, before, &now);
        // After an iteration that found a best candidate, the centre is that candidate again
        // when its values kept their bits: its error is known.
        const bool centreKnown = found && sameBits(now.value[0][1], best[0]) && sameBits(now.value[1][1], best[1]) &&
                                 sameBits(now.value[2][1], best[2]);
        const double centreError = centreKnown ? minimum : INFINITY;
        // Every candidate's error first, then the choice: no candidate waits for the last.
        double error[3][3][3];
        for (int j = 0; j < 3; j++) {
            for (int k = 0; k < 3; k++) {
                const TiltTerms tilt = tiltTerms(now.sine[0][j], now.cosine[0][j], now.sine[1][k], now.cosine[1][k]);
                const bool centre = !(centreKnown && j == 1 && k == 1);
                candidateErrors(tilt, now.sine[2], now.cosine[2], P, M, points, centreError, centre, error[j][k]);
                if (!centre) error[j][k][1] = centreError;
            }
        }
        minimum = SEARCH_NO_ERROR;
        for (int j = 0; j < 3; j++) {
            for (int k = 0; k < 3; k++) {
                for (int l = 0; l < 3; l++) {
                    if (minimum > error[j][k][l]) {
                        minimum = error[j][k][l];
                        best[0] = now.value[0][j];
                        best[1] = now.value[1][k];
                        best[2] = now.value[2][l];
                        bestOffset[0] = j - 1;
                        bestOffset[1] = k - 1;
                        bestOffset[2] = l - 1;
                    }
                }
            }
        }
        found = minimum < SEARCH_NO_ERROR;
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
