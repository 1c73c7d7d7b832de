// The steps of the marker pose query, for the export and its tests.
//
// A pose is 3 x 4 (rotation | translation). The quaternion q holds the negated vector part
// of the usual one, (m12 - m21, m20 - m02, m01 - m10) / (4w), then w = cos(angle / 2) >= 0.
#pragma once
#include <cstdint>

#include "detect/marker_record.h"
#include "plugin/exports.h"

namespace zelk {

constexpr double MARKER_WIDTH = 80.0;
// The rotation the host applies to the written angles: (0, -90, 0) degrees.
constexpr HostAngle HOST_ANGLE_TURN = {0, -92160, 0};

// The record with patternId and the highest confidence (the earliest on ties), or null.
// A negative id finds nothing: unidentified markers carry -1, and their pose is no pattern's.
const MarkerRecord* selectMarker(const MarkerRecord* markerList, int32_t markerCount, int32_t patternId);
// The copy-th record with patternId in order of confidence, highest first (the earliest on
// ties); copy 0 is selectMarker's. Null when there is no such copy.
const MarkerRecord* selectCopy(const MarkerRecord* markerList, int32_t markerCount, int32_t patternId, int32_t copy);
// The width a marker of the pattern is printed at: the one the host set, or MARKER_WIDTH.
double patternWidth(int32_t patternId);
// Zelk_getMarker's work on a chosen record (null: not found): 0, or -1024 in host numbers.
// track: the pose advances the pattern's smoothing track (the surest copy only).
int32_t queryMarker(const MarkerRecord* marker, HostVector* position, HostAngle* angles, int32_t invert, bool track);
// Writes a found pose to the host's records as Zelk_getMarker does (inverted when asked, then
// turned by the host's ang_rotate) and keeps it for Zelk_getLastPose. 0, or -1 when it cannot
// be inverted (the last pose is then none).
int32_t reportPose(const double pose[3][4], double fitError, HostVector* position, HostAngle* angles, int32_t invert);
// destination = source inverted as a rigid 4 x 4 transform (may be the same). 0, or -1 (unchanged).
int invertPose(const double source[3][4], double destination[3][4]);
// The rotation's quaternion into q and the translation into p, for every rotation. Returns 0.
int poseToQuaternion(const double pose[3][4], double q[4], double p[3]);
// The host position and angles (before the host's turn) of a pose; null records are skipped.
void poseToHostRecords(const double pose[3][4], HostVector* position, HostAngle* angles);

}  // namespace zelk
