// Loads the plug-in the way the host engine does: dlopen, look up the exports by name,
// hand over the host's interface record.
#pragma once
#include "plugin/exports.h"

namespace zelk::tool {

struct Plugin {
    int32_t (*init)(HostString* videoConfig, HostString* cameraFile);
    int32_t (*update)(int32_t threshold);
    int32_t (*quit)();
    int32_t (*getWidth)();
    int32_t (*getHeight)();
    int32_t (*getMarker)(int32_t patternId, HostVector* position, HostAngle* angles, int32_t invert);
    void (*getBmap)(HostBitmap* bitmap);
    int32_t (*registerMarker)(HostString* path);
    // The plug-in's extensions.
    int32_t (*getMarkerCount)();
    int32_t (*getMarkerInfo)(int32_t index, ZelkMarkerInfo* info);
    int32_t (*getMarkerPose)(int32_t index, double matrix[12], double* fitError);
    int32_t (*getLastPose)(double matrix[12], double* fitError);
    int32_t (*getCamera)(double projection[12], double distortion[4]);
    int32_t (*getMarkerCarriedOver)(int32_t index, int32_t* frames);
    int32_t (*resetHistory)();
    int32_t (*setMarkerWidth)(int32_t patternId, HostFixed width);
    int32_t (*setPrecise)(int32_t on);
    int32_t (*setSmoothing)(int32_t on);
    int32_t (*setAutoThreshold)(int32_t on);
    int32_t (*registerBoard)(HostString* path);
    int32_t (*getBoard)(int32_t boardId, HostVector* position, HostAngle* angles, int32_t invert);
    int32_t (*getBoardMarkerCount)(int32_t boardId);
    // From the video library the plug-in imports: 1 once a recorded source has ended.
    int (*videoAtEnd)();
    // 1 when the source's frames are pictures of their own.
    int (*videoStill)();
};

// Loads libZelk.so from the folder of this executable and calls A6_DLLAPI with the
// stand-in host's interface record. Fails the command when anything is missing.
Plugin loadPlugin();

}  // namespace zelk::tool
