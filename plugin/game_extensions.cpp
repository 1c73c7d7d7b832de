// The extensions for game scripts: marker widths per pattern, every copy of a pattern,
// found and lost events, the field of view and the capture state. Their state lives in the
// plug-in's one PluginState; the host exports behave as without them (a pattern's width only scales the poses of its markers).
#include <cmath>

#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "plugin/host_records.h"
#include "plugin/marker_query.h"

namespace zelk {

constexpr double DEGREES_PER_RADIAN = 57.29577951308232;

static bool registeredPattern(int32_t patternId) {
    return patternId >= 0 && patternId < PATTERN_SLOTS && pluginState()->detector.patterns.slotInUse[patternId];
}

static HostFixed fieldOfView(double size, double focalLength) {
    return hostFixedFromDouble(2 * std::atan(size / (2 * focalLength)) * DEGREES_PER_RADIAN);
}

}  // namespace zelk

using namespace zelk;

ZELK_API int32_t Zelk_setMarkerWidth(int32_t patternId, HostFixed width) {
    if (!registeredPattern(patternId)) return -2;
    if (width <= 0) return -3;
    pluginState()->patternWidth[patternId] = width / 1024.0;
    return 0;
}

ZELK_API int32_t Zelk_getMarkerCopyCount(int32_t patternId) {
    const MarkerList& markers = pluginState()->detector.markers;
    int32_t copies = 0;
    for (int32_t i = 0; i < markers.count; i++) copies += patternId >= 0 && markers.records[i].patternId == patternId;
    return copies;
}

ZELK_API int32_t Zelk_getMarkerCopy(int32_t patternId, int32_t copy, HostVector* position, HostAngle* angles,
                                    int32_t invert) {
    const MarkerList& markers = pluginState()->detector.markers;
    // Only the surest copy, the one Zelk_getMarker gives, advances the pattern's smoothing track.
    return queryMarker(selectCopy(markers.records, markers.count, patternId, copy), position, angles, invert,
                       copy == 0);
}

ZELK_API int32_t Zelk_getMarkerEvent(int32_t patternId) {
    if (patternId < 0 || patternId >= PATTERN_SLOTS) return -2;
    const PluginState* state = pluginState();
    const bool now = state->patternSeen[patternId], before = state->patternSeenBefore[patternId];
    return now == before ? 0 : now ? 1 : 2;
}

ZELK_API int32_t Zelk_getFieldOfView(HostFixed* horizontal, HostFixed* vertical) {
    if (!horizontal || !vertical) return -1;
    const CameraParams& camera = pluginState()->detector.camera;
    if (camera.imageWidth < 1) return -2;
    *horizontal = fieldOfView(camera.imageWidth, camera.projection[0][0]);
    *vertical = fieldOfView(camera.imageHeight, camera.projection[1][1]);
    return 0;
}

ZELK_API int32_t Zelk_getCaptureState(void) { return pluginState()->captureState; }
