#include "pose/pose_smoothing.h"

#include <cmath>

namespace zelk {

namespace {

constexpr double PI = 3.141592653589793;

// The share of a new sample kept by a first-order low-pass filter with this cut-off, one
// frame after the last.
double smoothingFactor(double cutoff) {
    const double tau = 1.0 / (2 * PI * cutoff);
    return 1.0 / (1.0 + tau);
}

void rotationToQuaternion(const double R[3][4], double q[4]) {
    const double trace = R[0][0] + R[1][1] + R[2][2];
    if (trace > 0) {
        const double s = 2 * std::sqrt(trace + 1);
        q[0] = s / 4, q[1] = (R[2][1] - R[1][2]) / s, q[2] = (R[0][2] - R[2][0]) / s, q[3] = (R[1][0] - R[0][1]) / s;
    } else if (R[0][0] >= R[1][1] && R[0][0] >= R[2][2]) {
        const double s = 2 * std::sqrt(1 + R[0][0] - R[1][1] - R[2][2]);
        q[0] = (R[2][1] - R[1][2]) / s, q[1] = s / 4, q[2] = (R[0][1] + R[1][0]) / s, q[3] = (R[0][2] + R[2][0]) / s;
    } else if (R[1][1] >= R[2][2]) {
        const double s = 2 * std::sqrt(1 + R[1][1] - R[0][0] - R[2][2]);
        q[0] = (R[0][2] - R[2][0]) / s, q[1] = (R[0][1] + R[1][0]) / s, q[2] = s / 4, q[3] = (R[1][2] + R[2][1]) / s;
    } else {
        const double s = 2 * std::sqrt(1 + R[2][2] - R[0][0] - R[1][1]);
        q[0] = (R[1][0] - R[0][1]) / s, q[1] = (R[0][2] + R[2][0]) / s, q[2] = (R[1][2] + R[2][1]) / s, q[3] = s / 4;
    }
}

void quaternionToRotation(const double q[4], double R[3][4]) {
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    R[0][0] = 1 - 2 * (y * y + z * z), R[0][1] = 2 * (x * y - w * z), R[0][2] = 2 * (x * z + w * y);
    R[1][0] = 2 * (x * y + w * z), R[1][1] = 1 - 2 * (x * x + z * z), R[1][2] = 2 * (y * z - w * x);
    R[2][0] = 2 * (x * z - w * y), R[2][1] = 2 * (y * z + w * x), R[2][2] = 1 - 2 * (x * x + y * y);
}

// Filters values [first, first + count) of the state towards sample; the cut-off follows
// the group's speed.
void filterGroup(PoseFilter* f, const SmoothingSettings& s, const double* sample, int first, int count) {
    const double derivativeShare = smoothingFactor(s.derivativeCutoff);
    double speed = 0;
    for (int k = first; k < first + count; k++) {
        f->speed[k] += derivativeShare * ((sample[k] - f->value[k]) - f->speed[k]);
        speed += f->speed[k] * f->speed[k];
    }
    const double share = smoothingFactor(s.minCutoff + s.beta * std::sqrt(speed));
    for (int k = first; k < first + count; k++) f->value[k] += share * (sample[k] - f->value[k]);
}

}  // namespace

void resetPoseFilter(PoseFilter* filter) { filter->primed = false; }

void smoothPose(PoseFilter* filter, const SmoothingSettings& settings, double width, double pose[3][4]) {
    double sample[7];
    for (int r = 0; r < 3; r++) sample[r] = pose[r][3] / width;
    rotationToQuaternion(pose, sample + 3);
    bool finite = settings.minCutoff > 0 && settings.beta >= 0 && settings.derivativeCutoff > 0;
    for (double v : sample) finite = finite && std::isfinite(v);
    if (!finite) {
        resetPoseFilter(filter);
        return;
    }
    if (!filter->primed) {
        for (int k = 0; k < 7; k++) filter->value[k] = sample[k], filter->speed[k] = 0;
        filter->primed = true;
        return;
    }
    // q and -q are the same turn: take the one on the filtered value's side.
    double side = 0;
    for (int k = 3; k < 7; k++) side += sample[k] * filter->value[k];
    if (side < 0)
        for (int k = 3; k < 7; k++) sample[k] = -sample[k];
    filterGroup(filter, settings, sample, 0, 3);
    filterGroup(filter, settings, sample, 3, 4);
    double norm = 0;
    for (int k = 3; k < 7; k++) norm += filter->value[k] * filter->value[k];
    norm = std::sqrt(norm);
    for (int k = 3; k < 7; k++) filter->value[k] /= norm;
    quaternionToRotation(filter->value + 3, pose);
    for (int r = 0; r < 3; r++) pose[r][3] = filter->value[r] * width;
}

}  // namespace zelk
