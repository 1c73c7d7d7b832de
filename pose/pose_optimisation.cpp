#include "pose/pose_optimisation.h"

#include <cmath>

#include "numeric/dense_matrix.h"
#include "pose/planar_pose.h"

namespace zelk {

namespace {

constexpr int MAX_ITERATIONS = 30;
constexpr int MAX_FAILED_STEPS = 3;
constexpr double START_DAMPING = 1e-3;  // share of the normal matrix's mean diagonal
// Converged once a step improves the error by less than this share.
constexpr double RELATIVE_IMPROVEMENT = 1e-10;
// Two solutions are close when the worse error is at most this many times the better one plus
// the floor (mean squared pixels): corner noise of a tenth of a pixel leaves about 0.01.
constexpr double AMBIGUOUS_RATIO = 2.0;
constexpr double AMBIGUOUS_FLOOR = 0.01;

// Sum of squared residuals of the pose, and the normal equations J'J (its lower triangle, all
// the solver reads) and J'r when asked; -1 when a point is behind the camera or a value is
// not finite.
double residuals(const double (*model)[2], const double (*image)[2], int n, const double P[3][4],
                 const double pose[3][4], double normal[36], double gradient[6]) {
    if (normal)
        for (int k = 0; k < 36; k++) normal[k] = 0;
    if (gradient)
        for (int k = 0; k < 6; k++) gradient[k] = 0;
    double sum = 0;
    for (int i = 0; i < n; i++) {
        double turned[3], X[3], y[3];
        for (int r = 0; r < 3; r++) {
            turned[r] = pose[r][0] * model[i][0] + pose[r][1] * model[i][1];
            X[r] = turned[r] + pose[r][3];
        }
        for (int r = 0; r < 3; r++) y[r] = P[r][0] * X[0] + P[r][1] * X[1] + P[r][2] * X[2] + P[r][3];
        if (!(y[2] > 0)) return -1;
        const double u = y[0] / y[2], v = y[1] / y[2];
        const double e[2] = {u - image[i][0], v - image[i][1]};
        sum += e[0] * e[0] + e[1] * e[1];
        if (!normal) continue;
        // d(u, v)/dX = d(u, v)/dy . P's block; a turn w moves X by w x turned.
        double dX[2][3];
        for (int c = 0; c < 3; c++) {
            dX[0][c] = (P[0][c] - u * P[2][c]) / y[2];
            dX[1][c] = (P[1][c] - v * P[2][c]) / y[2];
        }
        for (int k = 0; k < 2; k++) {
            const double* g = dX[k];
            const double row[6] = {g[2] * turned[1] - g[1] * turned[2],
                                   g[0] * turned[2] - g[2] * turned[0],
                                   g[1] * turned[0] - g[0] * turned[1],
                                   g[0],
                                   g[1],
                                   g[2]};
            for (int a = 0; a < 6; a++) {
                gradient[a] += row[a] * e[k];
                for (int b = 0; b <= a; b++) normal[6 * a + b] += row[a] * row[b];
            }
        }
    }
    return std::isfinite(sum) ? sum : -1;
}

// pose with its rotation turned by the rotation vector w (Rodrigues) and its translation moved.
void applyStep(const double pose[3][4], const double step[6], double out[3][4]) {
    const double angle = std::sqrt(step[0] * step[0] + step[1] * step[1] + step[2] * step[2]);
    double turn[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    if (angle > 0) {
        const double k[3] = {step[0] / angle, step[1] / angle, step[2] / angle};
        const double s = std::sin(angle), c = 1 - std::cos(angle);
        const double K[3][3] = {{0, -k[2], k[1]}, {k[2], 0, -k[0]}, {-k[1], k[0], 0}};
        for (int r = 0; r < 3; r++)
            for (int col = 0; col < 3; col++) {
                double kk = 0;
                for (int m = 0; m < 3; m++) kk += K[r][m] * K[m][col];
                turn[r][col] += s * K[r][col] + c * kk;
            }
    }
    for (int r = 0; r < 3; r++) {
        for (int col = 0; col < 3; col++)
            out[r][col] = turn[r][0] * pose[0][col] + turn[r][1] * pose[1][col] + turn[r][2] * pose[2][col];
        out[r][3] = pose[r][3] + step[3 + r];
    }
}

bool finitePose(const double pose[3][4]) {
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++)
            if (!std::isfinite(pose[r][c])) return false;
    return true;
}

}  // namespace

double optimisePose(const double (*modelPoints)[2], const double (*imagePoints)[2], int n, const double P[3][4],
                    double pose[3][4]) {
    if (!modelPoints || !imagePoints || !P || !pose || n < 1 || n > PLANAR_MAX_POINTS || !finitePose(pose)) return -1.0;
    double current[3][4];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) current[r][c] = pose[r][c];
    double normal[36], gradient[6];
    double error = residuals(modelPoints, imagePoints, n, P, current, normal, gradient);
    if (error < 0) return -1.0;
    double damping = -1;
    int failures = 0;
    for (int iteration = 0; iteration < MAX_ITERATIONS && error > 0; iteration++) {
        if (damping < 0) {
            damping = 0;
            for (int k = 0; k < 6; k++) damping += normal[7 * k] / 6;
            damping *= START_DAMPING;
        }
        double system[36], step[6];
        for (int k = 0; k < 36; k++) system[k] = normal[k];
        for (int k = 0; k < 6; k++) {
            system[7 * k] += damping;
            step[k] = -gradient[k];
        }
        if (solveSymmetricInPlace(system, step, 6) != 0) return -1.0;
        double trial[3][4];
        applyStep(current, step, trial);
        const double trialError = residuals(modelPoints, imagePoints, n, P, trial, nullptr, nullptr);
        if (trialError >= 0 && trialError <= error) {
            const bool settled = error - trialError <= RELATIVE_IMPROVEMENT * error;
            for (int r = 0; r < 3; r++)
                for (int c = 0; c < 4; c++) current[r][c] = trial[r][c];
            error = residuals(modelPoints, imagePoints, n, P, current, normal, gradient);
            damping /= 10;
            if (settled) break;
            failures = 0;
        } else {
            // Once the error stands at its rounding floor every step fails: stop soon after.
            damping *= 10;
            if (++failures == MAX_FAILED_STEPS || !std::isfinite(damping)) break;
        }
    }
    if (error < 0 || !finitePose(current)) return -1.0;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) pose[r][c] = current[r][c];
    return error / n;
}

double rotationAngleBetween(const double a[3][4], const double b[3][4]) {
    double trace = 0;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) trace += a[r][c] * b[r][c];
    return std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1) / 2)));
}

double fitPlanarPose(const double (*modelPoints)[2], const double (*imagePoints)[2], int n, const double P[3][4],
                     const double (*previous)[4], double poseOut[3][4]) {
    double poses[2][3][4];
    if (!poseOut || planarPoseCandidates(modelPoints, imagePoints, n, P, poses) != 0) return -1.0;
    const double errors[2] = {optimisePose(modelPoints, imagePoints, n, P, poses[0]),
                              optimisePose(modelPoints, imagePoints, n, P, poses[1])};
    if (errors[0] < 0 && errors[1] < 0) return -1.0;
    int best = errors[1] < 0 || (errors[0] >= 0 && errors[0] <= errors[1]) ? 0 : 1;
    const int other = 1 - best;
    if (previous && finitePose(previous) && errors[other] >= 0 &&
        errors[other] <= AMBIGUOUS_RATIO * errors[best] + AMBIGUOUS_FLOOR &&
        rotationAngleBetween(poses[other], previous) < rotationAngleBetween(poses[best], previous))
        best = other;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) poseOut[r][c] = poses[best][r][c];
    return errors[best];
}

}  // namespace zelk
