// The plug-in's state, in one place: the host has one camera, so there is one detector.
#pragma once
#include <cstdint>

#include "detect/detector.h"
#include "detect/pattern_library.h"
#include "pose/board_pose.h"

namespace zelk {

constexpr int BOARD_SLOTS = 16;

// A registered board and the poses it was last given, which the next frame's pose stays near.
struct BoardSlot {
    bool inUse;
    BoardModel model;
    PoseHistory poses;
};

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
    // What the last Zelk_Update did, as Zelk_getCaptureState reports it.
    int32_t captureState;
    // Per pattern slot: the printed width (0 for the default, MARKER_WIDTH), and whether the
    // marker list held it after the last Zelk_Update and before it.
    double patternWidth[PATTERN_SLOTS];
    bool patternSeen[PATTERN_SLOTS], patternSeenBefore[PATTERN_SLOTS];
    BoardSlot boards[BOARD_SLOTS];
};

// Zelk_getCaptureState's answers.
enum CaptureState : int32_t { CAPTURE_CLOSED = 0, CAPTURE_FRAME = 1, CAPTURE_NO_FRAME = 2, CAPTURE_FAILED = 3 };

// Makes every board that holds the pattern forget that marker (its slot was freed).
void dropBoardPattern(int32_t patternId);

// The one state every export reads and writes.
PluginState* pluginState();

}  // namespace zelk
