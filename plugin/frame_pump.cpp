// The plug-in's lifecycle exports and the frame pump: open the camera, pump one frame
// per Zelk_Update through detection, report the video size, close the camera.
//
// What it does with refused sizes, camera files, frames outside capture and frames of
// another size is listed in docs/design.md (Decisions).
#include "plugin/frame_pump.h"

#include <algorithm>

#include "camera/camera_params.h"
#include "camera/scaling.h"
#include "platform/videocapture/videocapture.h"
#include "plugin/exports.h"
#include "plugin/host_records.h"

namespace zelk {

static PluginState state;

PluginState* pluginState() { return &state; }

// The string's characters, or the fallback for a missing string.
static const char* hostStringOr(const HostString* string, const char* fallback) {
    const char* chars = string ? hostStringChars(string) : nullptr;
    return chars ? chars : fallback;
}

static bool videoSizeFits(int width, int height) {
    return width > 0 && height > 0 && static_cast<int64_t>(width) * height <= LABEL_IMAGE_CAPACITY;
}

// The library's frame size is still the one the session started with.
static bool frameSizeUnchanged() {
    int width = 0, height = 0;
    return videoInqSize(&width, &height) >= 0 && width == state.videoWidth && height == state.videoHeight;
}

// Which patterns the marker list holds now (Zelk_Update keeps what it held before).
static void notePatternsSeen() {
    std::fill(state.patternSeen, state.patternSeen + PATTERN_SLOTS, false);
    const MarkerList& markers = state.detector.markers;
    for (int32_t i = 0; i < markers.count; i++) {
        const int32_t id = markers.records[i].patternId;
        if (id >= 0 && id < PATTERN_SLOTS) state.patternSeen[id] = true;
    }
}

static int closeVideo() {
    state.captureState = CAPTURE_CLOSED;
    videoCapStop();
    state.capturing = false;
    state.frame.pixels = nullptr;
    return videoClose();
}

}  // namespace zelk

using namespace zelk;

ZELK_API int32_t Zelk_Init(HostString* videoConfig, HostString* cameraFile) {
    state.capturing = false;
    state.frame.pixels = nullptr;
    resetDetector(&state.detector);
    std::fill(state.patternSeen, state.patternSeen + PATTERN_SLOTS, false);
    std::fill(state.patternSeenBefore, state.patternSeenBefore + PATTERN_SLOTS, false);
    state.captureState = CAPTURE_CLOSED;
    if (videoOpen(hostStringOr(videoConfig, "Data\\WDM_camera_flipV.xml")) < 0) return -1;

    int width = 0, height = 0;
    const bool sized = videoInqSize(&width, &height) >= 0;
    state.videoWidth = width;  // reported as the query wrote it, even when refused
    state.videoHeight = height;
    if (!sized || !videoSizeFits(width, height)) return -2;

    CameraParams record;
    if (loadCameraParams(hostStringOr(cameraFile, "Data/camera_para.dat"), 1, &record) < 0) return -3;
    if (record.imageWidth < 1) return -3;
    scaleCameraParams(&record, width, height, &state.detector.camera);
    printCameraParams(&state.detector.camera);
    videoCapStart();
    state.capturing = true;
    state.captureState = CAPTURE_NO_FRAME;
    return 0;
}

ZELK_API int32_t Zelk_Update(int32_t threshold) {
    FrameImage& frame = state.frame;
    frame.pixels = videoGetImage();
    if (state.capturing) state.captureState = CAPTURE_NO_FRAME;
    // Found and lost are what this update changed: nothing, unless a frame is detected.
    std::copy(state.patternSeen, state.patternSeen + PATTERN_SLOTS, state.patternSeenBefore);
    if (!frame.pixels) return 0;
    if (!state.capturing || !frameSizeUnchanged()) {
        frame.pixels = nullptr;
        return videoCapNext();
    }
    // While capturing, the size is one Zelk_Init accepted.
    frame.width = state.videoWidth;
    frame.height = state.videoHeight;
    frame.stride = 4 * state.videoWidth;
    const bool detected = detectMarkers(&state.detector, &frame, threshold) == 0;
    notePatternsSeen();
    if (!detected) {
        const int closed = closeVideo();
        state.captureState = CAPTURE_FAILED;
        return closed;
    }
    state.captureState = CAPTURE_FRAME;
    return videoCapNext();
}

ZELK_API int32_t Zelk_Quit(void) { return closeVideo(); }

ZELK_API int32_t Zelk_getWidth(void) { return hostFixedFromInt(state.videoWidth); }

ZELK_API int32_t Zelk_getHeight(void) { return hostFixedFromInt(state.videoHeight); }
