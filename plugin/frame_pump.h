// The plug-in's state, in one place: the host has one camera, so there is one detector.
#pragma once
#include <cstdint>

#include "detect/detector.h"

namespace zelk {

struct PluginState {
    // Owns the camera, the patterns, the last detected frame's markers and their history.
    Detector detector;
    // The newest frame; its pixels are null when the last update found none, and whenever
    // the frame buffer stops being ours to read.
    FrameImage frame;
    int32_t videoWidth, videoHeight;
    bool capturing;  // from a successful Zelk_Init until the device is closed
    // The pose behind the values the last Zelk_getMarker wrote.
    bool lastPoseFound;
    double lastPose[3][4];
    double lastFitError;
};

// The one state every export reads and writes.
PluginState* pluginState();

}  // namespace zelk
