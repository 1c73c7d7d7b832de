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

// The points the search projects, and whether this processor runs four-double vectors.
struct SearchPoints {
    const double (*model)[3];
    const double (*fit)[2];
    int n;
    bool wide;
};

static void arrangeSearchPoints(const double (*modelPoints)[3], const double (*fitPoints)[2], int n,
                                SearchPoints* points) {
    points->model = modelPoints;
    points->fit = fitPoints;
    points->n = n;
#if ZELK_AVX_DISPATCH
    points->wide = avxAvailable();
#else
    points->wide = false;
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

// An iteration's 27 candidates (a_j, b_k, c_l), numbered 9j + 3k + l.
constexpr int SEARCH_CANDIDATES = 27;

// The errors of the candidates (a_j, b_k, c_l) for l = 0, 1, 2, or infinity for those above
// knownError; the centre's (l = 1) only when centre is set. M holds the translation column.
static void candidateErrors(const TiltTerms& tilt, const double sine[3], const double cosine[3], const double P[3][4],
                            double M[3][4], const SearchPoints& p, double knownError, bool centre, double errorOut[3]) {
    double R[3][3];
    R[0][2] = tilt.casb;
    R[1][2] = tilt.sasb;
    R[2][2] = tilt.cb;
    projectRotationColumn(R, P, 2, M);
    for (int l = 0; l < 3; l++) {
        if (l == 1 && !centre) continue;
        rotationColumns01(tilt, sine[l], cosine[l], R);
        projectRotationColumn(R, P, 0, M);
        projectRotationColumn(R, P, 1, M);
        errorOut[l] = reprojectionError(M, p.model, p.fit, p.n, 0.0, knownError);
    }
}

// One iteration's three values of every angle, with their sines and cosines.
struct AngleValues {
    double value[3][3], sine[3][3], cosine[3][3];
};

// Every candidate's error, one at a time, skipping those that cannot win (the centre's is
// centreError when known); the first candidate of the smallest error below SEARCH_NO_ERROR,
// and that error, or -1 and SEARCH_NO_ERROR.
static int iterationChoice(const AngleValues& now, const double P[3][4], double M[3][4], const SearchPoints& p,
                           bool centreKnown, double centreError, double* minimum) {
    double error[SEARCH_CANDIDATES];
    for (int j = 0; j < 3; j++) {
        for (int k = 0; k < 3; k++) {
            const TiltTerms tilt = tiltTerms(now.sine[0][j], now.cosine[0][j], now.sine[1][k], now.cosine[1][k]);
            const bool centre = !(centreKnown && j == 1 && k == 1);
            candidateErrors(tilt, now.sine[2], now.cosine[2], P, M, p, centreError, centre, error + 9 * j + 3 * k);
        }
    }
    if (centreKnown) error[13] = centreError;
    *minimum = SEARCH_NO_ERROR;
    int chosen = -1;
    for (int candidate = 0; candidate < SEARCH_CANDIDATES; candidate++) {
        if (*minimum > error[candidate]) {
            *minimum = error[candidate];
            chosen = candidate;
        }
    }
    return chosen;
}

#if ZELK_AVX_DISPATCH
ZELK_AVX static __m256d times(double factor, __m256d v) { return _mm256_mul_pd(_mm256_set1_pd(factor), v); }

// Lane m of vector g is candidate 4g + m, whose angles' offsets these are; the seventh
// vector's last lane repeats candidate 26.
struct LaneOffsets {
    unsigned char offset[7][3][4];
};

constexpr LaneOffsets laneOffsets() {
    LaneOffsets table{};
    for (int g = 0; g < 7; g++) {
        for (int m = 0; m < 4; m++) {
            const int candidate = 4 * g + m < SEARCH_CANDIDATES ? 4 * g + m : SEARCH_CANDIDATES - 1;
            table.offset[g][0][m] = static_cast<unsigned char>(candidate / 9);
            table.offset[g][1][m] = static_cast<unsigned char>(candidate / 3 % 3);
            table.offset[g][2][m] = static_cast<unsigned char>(candidate % 3);
        }
    }
    return table;
}

constexpr LaneOffsets LANE_OFFSETS = laneOffsets();

// Lane m holds value[index[m]].
ZELK_AVX static __m256d lanes(const double value[3], const unsigned char index[4]) {
    return _mm256_setr_pd(value[index[0]], value[index[1]], value[index[2]], value[index[3]]);
}

// Four candidates a vector, one candidate a lane, every lane rounded as the scalar code rounds
// (rotationColumns01, projectRotationColumn, reprojectionError): no candidate is skipped, but
// no sum is spread over lanes either, and the 54 divisions of an iteration take 14
// instructions.
ZELK_AVX static int iterationChoiceAvx(const AngleValues& now, const double P[3][4], const double M[3][4],
                                       const SearchPoints& p, double* minimum) {
    double all[4 * 7];
    const __m256d signBit = _mm256_set1_pd(-0.0);
    const __m256d noError = _mm256_set1_pd(SEARCH_NO_ERROR);
    __m256d smallest = noError;
    for (int g = 0; g < 7; g++) {
        const auto& at = LANE_OFFSETS.offset[g];
        const __m256d sa = lanes(now.sine[0], at[0]), ca = lanes(now.cosine[0], at[0]);
        const __m256d sb = lanes(now.sine[1], at[1]), cb = lanes(now.cosine[1], at[1]);
        const __m256d sc = lanes(now.sine[2], at[2]), cc = lanes(now.cosine[2], at[2]);
        const __m256d caca = _mm256_mul_pd(ca, ca), sasa = _mm256_mul_pd(sa, sa), saca = _mm256_mul_pd(sa, ca);
        const __m256d cacacb = _mm256_mul_pd(caca, cb), sasacb = _mm256_mul_pd(sasa, cb);
        const __m256d sacacb = _mm256_mul_pd(saca, cb), casb = _mm256_mul_pd(ca, sb), sasb = _mm256_mul_pd(sa, sb);
        __m256d R[3][3];
        R[0][0] = _mm256_sub_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(cacacb, cc), _mm256_mul_pd(sasa, cc)), _mm256_mul_pd(sacacb, sc)),
            _mm256_mul_pd(saca, sc));
        R[0][1] = _mm256_sub_pd(
            _mm256_add_pd(_mm256_sub_pd(_mm256_xor_pd(_mm256_mul_pd(cacacb, sc), signBit), _mm256_mul_pd(sasa, sc)),
                          _mm256_mul_pd(sacacb, cc)),
            _mm256_mul_pd(saca, cc));
        R[1][0] = _mm256_add_pd(
            _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(sacacb, cc), _mm256_mul_pd(saca, cc)), _mm256_mul_pd(caca, sc)),
            _mm256_mul_pd(sasacb, sc));
        R[1][1] = _mm256_add_pd(
            _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(saca, sc), _mm256_mul_pd(sacacb, sc)), _mm256_mul_pd(caca, cc)),
            _mm256_mul_pd(sasacb, cc));
        R[2][0] = _mm256_sub_pd(_mm256_xor_pd(_mm256_mul_pd(casb, cc), signBit), _mm256_mul_pd(sasb, sc));
        R[2][1] = _mm256_sub_pd(_mm256_mul_pd(casb, sc), _mm256_mul_pd(sasb, cc));
        R[0][2] = casb;
        R[1][2] = sasb;
        R[2][2] = cb;
        __m256d projection[3][4];
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++)
                projection[r][c] = _mm256_add_pd(_mm256_add_pd(times(P[r][0], R[0][c]), times(P[r][1], R[1][c])),
                                                 times(P[r][2], R[2][c]));
            projection[r][3] = _mm256_set1_pd(M[r][3]);
        }
        __m256d sum = _mm256_setzero_pd();
        for (int i = 0; i < p.n; i++) {
            const double* X = p.model[i];
            __m256d h[3];
            for (int r = 0; r < 3; r++)
                h[r] = _mm256_add_pd(
                    _mm256_add_pd(_mm256_add_pd(times(X[0], projection[r][0]), times(X[1], projection[r][1])),
                                  times(X[2], projection[r][2])),
                    projection[r][3]);
            const __m256d dx = _mm256_sub_pd(_mm256_set1_pd(p.fit[i][0]), _mm256_div_pd(h[0], h[2]));
            const __m256d dy = _mm256_sub_pd(_mm256_set1_pd(p.fit[i][1]), _mm256_div_pd(h[1], h[2]));
            sum = _mm256_add_pd(sum, _mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)));
        }
        // Errors that are not below SEARCH_NO_ERROR (not a number included) are never chosen.
        sum = _mm256_blendv_pd(noError, sum, _mm256_cmp_pd(sum, noError, _CMP_LT_OQ));
        smallest = _mm256_min_pd(smallest, sum);
        _mm256_storeu_pd(all + 4 * g, sum);
    }
    smallest = _mm256_min_pd(smallest, _mm256_permute2f128_pd(smallest, smallest, 1));
    smallest = _mm256_min_pd(smallest, _mm256_permute_pd(smallest, 5));
    *minimum = _mm256_cvtsd_f64(smallest);
    if (!(*minimum < SEARCH_NO_ERROR)) return -1;
    // The first candidate of the smallest error, as a scan keeping the first smallest would choose.
    int chosen = 0;
    while (all[chosen] != *minimum) chosen++;
    return chosen;
}
#endif

static bool sameBits(double x, double y) { return x == y && std::signbit(x) == std::signbit(y); }

// The next iteration's values. A value with the bits of one of the iteration before (always
// the centre, unless it is -0, and often a neighbour when the step stays) takes its sine and
// cosine from there.
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
    // The best candidate's angles with their sines and cosines; no angle before one is found.
    double best[3] = {0, 0, 0}, bestSine[3] = {0, 0, 0}, bestCosine[3] = {1, 1, 1};
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
#if ZELK_AVX_DISPATCH
        const int chosen = points.wide ? iterationChoiceAvx(now, P, M, points, &minimum)
                                       : iterationChoice(now, P, M, points, centreKnown, centreError, &minimum);
#else
        const int chosen = iterationChoice(now, P, M, points, centreKnown, centreError, &minimum);
#endif
        if (chosen >= 0) {
            const int offset[3] = {chosen / 9, chosen / 3 % 3, chosen % 3};
            for (int axis = 0; axis < 3; axis++) {
                best[axis] = now.value[axis][offset[axis]];
                bestSine[axis] = now.sine[axis][offset[axis]];
                bestCosine[axis] = now.cosine[axis][offset[axis]];
                bestOffset[axis] = offset[axis] - 1;
            }
        }
        found = minimum < SEARCH_NO_ERROR;
        if (bestOffset[0] == 0 && bestOffset[1] == 0 && bestOffset[2] == 0) step /= 2;
        for (int axis = 0; axis < 3; axis++) angle[axis] = best[axis];
    }
    rotationFromSinCos(bestSine[0], bestCosine[0], bestSine[1], bestCosine[1], bestSine[2], bestCosine[2], rotation);
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
