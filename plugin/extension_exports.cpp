// The extension exports: the marker list, each marker's pose, the camera and a reset of
// the marker history, for hosts and tools that want more than the host's contract. Every
// pointer and index is checked.
#include <cmath>
#include <cstring>

#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "plugin/marker_query.h"
#include "pose/pose_tracking.h"

namespace zelk {

// Entry index of the current marker list, or null.
static const MarkerRecord* markerAt(int32_t index) {
    const MarkerList& markers = pluginState()->detector.markers;
    if (index < 0 || index >= markers.count) return nullptr;
    return &markers.records[index];
}

}  // namespace zelk

using namespace zelk;

ZELK_API int32_t Zelk_getMarkerCount(void) { return pluginState()->detector.markers.count; }

ZELK_API int32_t Zelk_getMarkerInfo(int32_t index, ZelkMarkerInfo* info) {
    if (!info) return -1;
    const MarkerRecord* marker = markerAt(index);
    if (!marker) return -2;
    info->patternId = marker->patternId;
    info->direction = marker->direction;
    info->area = marker->pixelArea;
    info->confidence = marker->confidence;
    std::memcpy(info->centre, marker->centre, sizeof info->centre);
    std::memcpy(info->corners, marker->corners, sizeof info->corners);
    return 0;
}

ZELK_API int32_t Zelk_getMarkerCarriedOver(int32_t index, int32_t* frames) {
    if (!frames) return -1;
    const MarkerRecord* marker = markerAt(index);
    if (!marker) return -2;
    *frames = marker->carriedOver;
    return 0;
}

ZELK_API int32_t Zelk_getMarkerPose(int32_t index, double matrix[12], double* fitError) {
    if (!matrix || !fitError) return -1;
    const MarkerRecord* marker = markerAt(index);
    if (!marker || marker->patternId < 0 || marker->direction < 0) return -2;  // unidentified: no way up
    const double centre[2] = {0.0, 0.0};
    double pose[3][4];
    const Detector& detector = pluginState()->detector;
    const double error = markerPose(&detector.poseTracks, &detector.poseSettings, &detector.camera, marker,
                                    detector.frameCount, centre, patternWidth(marker->patternId), pose);
    if (error < 0) return -2;
    std::memcpy(matrix, pose, sizeof pose);
    *fitError = error;
    return 0;
}

ZELK_API int32_t Zelk_getCamera(double projection[12], double distortion[4]) {
    if (!projection || !distortion) return -1;
    const CameraParams* camera = &pluginState()->detector.camera;
    if (camera->imageWidth < 1) return -2;
    std::memcpy(projection, camera->projection, sizeof camera->projection);
    std::memcpy(distortion, camera->distortion, sizeof camera->distortion);
    return 0;
}

ZELK_API int32_t Zelk_resetHistory(void) {
    Detector& detector = pluginState()->detector;
    detector.history.count = 0;             // a history of no entries is empty
    resetPoseTracks(&detector.poseTracks);  // nor does a pose carry over as the previous one
    for (BoardSlot& board : pluginState()->boards) resetPoseHistory(&board.poses);
    return 0;
}

ZELK_API int32_t Zelk_setPrecise(int32_t on) {
    pluginState()->detector.poseSettings.precise = on != 0;
    return 0;
}

ZELK_API int32_t Zelk_setSmoothing(int32_t on) {
    pluginState()->detector.poseSettings.smooth = on != 0;
    return 0;
}

ZELK_API int32_t Zelk_getReprojectionError(double* pixels) {
    if (!pixels) return -1;
    const PluginState* state = pluginState();
    if (!state->lastPoseFound) return -2;
    *pixels = std::sqrt(state->lastFitError);
    return 0;
}

ZELK_API int32_t Zelk_setAutoThreshold(int32_t on) {
    if (on != 0 && on != 1) return -1;
    pluginState()->detector.settings.autoThreshold = on == 1;
    return 0;
}
