// Zelk_getMarker: the pose of the most confident marker of a pattern, in the host's numbers.
//
// Negative ids, poses that cannot be estimated, unknown directions, null records and an
// unbound host: docs/design.md (Decisions).
#include "plugin/marker_query.h"

#include <cmath>
#include <cstring>

#include "numeric/dense_matrix.h"
#include "plugin/frame_pump.h"
#include "plugin/host_binding.h"
#include "plugin/host_records.h"
#include "pose/pose_tracking.h"

namespace zelk {

constexpr double PI = 3.141592653589793;
// Below this 1 + trace (turns within about 2 degrees of a half turn) the quaternion is read
// from the largest diagonal element: the direct formula divides by a vanishing square root.
constexpr double QUATERNION_DIRECT_MIN = 1e-3;

const MarkerRecord* selectMarker(const MarkerRecord* markerList, int32_t markerCount, int32_t patternId) {
    return selectCopy(markerList, markerCount, patternId, 0);
}

const MarkerRecord* selectCopy(const MarkerRecord* markerList, int32_t markerCount, int32_t patternId, int32_t copy) {
    if (!markerList || patternId < 0 || copy < 0) return nullptr;
    for (int32_t i = 0; i < markerCount; i++) {
        if (markerList[i].patternId != patternId) continue;
        int32_t ahead = 0;  // copies before this one: surer, or as sure and earlier
        for (int32_t j = 0; j < markerCount; j++) {
            const MarkerRecord& other = markerList[j];
            if (j != i && other.patternId == patternId &&
                (other.confidence > markerList[i].confidence ||
                 (j < i && !(other.confidence < markerList[i].confidence))))
                ahead++;
        }
        if (ahead == copy) return &markerList[i];
    }
    return nullptr;
}

double patternWidth(int32_t patternId) {
    const PluginState* state = pluginState();
    const bool set = patternId >= 0 && patternId < PATTERN_SLOTS && state->patternWidth[patternId] > 0;
    return set ? state->patternWidth[patternId] : MARKER_WIDTH;
}

int invertPose(const double source[3][4], double destination[3][4]) {
    double work[4][4];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) work[r][c] = source[r][c];
    work[3][0] = work[3][1] = work[3][2] = 0;
    work[3][3] = 1;
    DenseMatrix m = {&work[0][0], 4, 4};
    if (invertMatrixInPlace(&m) != 0) return -1;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) destination[r][c] = work[r][c];
    return 0;
}

int poseToQuaternion(const double m[3][4], double q[4], double p[3]) {
    const double t = m[0][0] + m[1][1] + m[2][2] + 1.0;
    if (t > QUATERNION_DIRECT_MIN) {
        const double s = std::sqrt(t);
        q[0] = (m[1][2] - m[2][1]) / (2 * s);
        q[1] = (m[2][0] - m[0][2]) / (2 * s);
        q[2] = (m[0][1] - m[1][0]) / (2 * s);
        q[3] = s / 2.0;
    } else {
        // The usual quaternion (x, y, z, w) from the largest diagonal element, then the same
        // convention as above: vector part negated, w not negative.
        double x, y, z, w;
        if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
            const double f = 2 * std::sqrt(1.0 + m[0][0] - m[1][1] - m[2][2]);
            x = f / 4;
            y = (m[0][1] + m[1][0]) / f;
            z = (m[0][2] + m[2][0]) / f;
            w = (m[2][1] - m[1][2]) / f;
        } else if (m[1][1] >= m[2][2]) {
            const double f = 2 * std::sqrt(1.0 + m[1][1] - m[0][0] - m[2][2]);
            x = (m[0][1] + m[1][0]) / f;
            y = f / 4;
            z = (m[1][2] + m[2][1]) / f;
            w = (m[0][2] - m[2][0]) / f;
        } else {
            const double f = 2 * std::sqrt(1.0 + m[2][2] - m[0][0] - m[1][1]);
            x = (m[0][2] + m[2][0]) / f;
            y = (m[1][2] + m[2][1]) / f;
            z = f / 4;
            w = (m[1][0] - m[0][1]) / f;
        }
        const double sign = w < 0 ? -1.0 : 1.0;
        q[0] = -x * sign;
        q[1] = -y * sign;
        q[2] = -z * sign;
        q[3] = w * sign;
    }
    for (int i = 0; i < 3; i++) p[i] = m[i][3];
    return 0;
}

// Radians to host degrees, by way of a 32-bit float as the host keeps them.
static HostFixed hostDegrees(double radians, bool negate) {
    const float degrees = static_cast<float>(radians * 180.0 / PI);
    return hostFixedFromDouble(negate ? -degrees : degrees);
}

void poseToHostRecords(const double pose[3][4], HostVector* position, HostAngle* angles) {
    double q[4], p[3];
    poseToQuaternion(pose, q, p);
    const double a = q[0], b = q[1], c = -q[2], d = q[3];
    if (position) {
        position->x = hostFixedFromDouble(p[2]);
        position->y = hostFixedFromDouble(-p[0]);
        position->z = hostFixedFromDouble(-p[1]);
    }
    if (angles) {
        // Rounding can carry the sine a hair past 1 at a right-angle pitch.
        double pitchSine = 2 * a * b + 2 * c * d;
        if (pitchSine > 1) pitchSine = 1;
        if (pitchSine < -1) pitchSine = -1;
        angles->pan = hostDegrees(std::atan2(2 * b * d - 2 * a * c, 1 - 2 * b * b - 2 * c * c), false);
        angles->tilt = hostDegrees(std::atan2(2 * a * d - 2 * b * c, 1 - 2 * a * a - 2 * c * c), true);
        angles->roll = hostDegrees(std::asin(pitchSine), true);
    }
}

int32_t queryMarker(const MarkerRecord* marker, HostVector* position, HostAngle* angles, int32_t invert, bool track) {
    const HostFixed notFound = hostFixedFromInt(-1);
    PluginState* state = pluginState();
    state->lastPoseFound = false;
    if (!marker || marker->direction < 0) return notFound;
    const double centre[2] = {0.0, 0.0};
    double pose[3][4];
    Detector& detector = state->detector;
    const double width = patternWidth(marker->patternId);
    const double fitError = track ? trackedMarkerPose(&detector.poseTracks, &detector.poseSettings, &detector.camera,
                                                      marker, detector.frameCount, centre, width, pose)
                                  : markerPose(&detector.poseTracks, &detector.poseSettings, &detector.camera, marker,
                                               detector.frameCount, centre, width, pose);
    if (fitError < 0 || reportPose(pose, fitError, position, angles, invert) != 0) return notFound;
    return 0;
}

int32_t reportPose(const double found[3][4], double fitError, HostVector* position, HostAngle* angles, int32_t invert) {
    PluginState* state = pluginState();
    state->lastPoseFound = false;
    double pose[3][4];
    std::memcpy(pose, found, sizeof pose);
    if (invert && invertPose(pose, pose) != 0) return -1;
    poseToHostRecords(pose, position, angles);
    std::memcpy(state->lastPose, pose, sizeof state->lastPose);
    state->lastFitError = fitError;
    state->lastPoseFound = true;
    HostAngRotateFunction angRotate = boundAngRotate();
    if (angles && angRotate) {
        HostAngle turn = HOST_ANGLE_TURN;
        angRotate(angles, &turn);
    }
    return 0;
}

}  // namespace zelk

ZELK_API int32_t Zelk_getMarker(int32_t patternId, HostVector* position, HostAngle* angles, int32_t invert) {
    using namespace zelk;
    const MarkerList& markers = pluginState()->detector.markers;
    return queryMarker(selectMarker(markers.records, markers.count, patternId), position, angles, invert, true);
}

ZELK_API int32_t Zelk_getLastPose(double matrix[12], double* fitError) {
    using namespace zelk;
    if (!matrix || !fitError) return -1;
    const PluginState* state = pluginState();
    if (!state->lastPoseFound) return -2;
    std::memcpy(matrix, state->lastPose, sizeof state->lastPose);
    *fitError = state->lastFitError;
    return 0;
}
