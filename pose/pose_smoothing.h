// Optional smoothing of one marker's pose over frames, for steady overlays: a one-euro
// filter (a low-pass filter whose cut-off rises with speed) on the position and on the
// rotation's unit quaternion.
//
// Time is counted in frames. At rest the cut-off is minCutoff cycles per frame. With the
// defaults a still or slowly moving marker's pose lags at most about 3 frames (0.1 s at 30
// frames per second) and its jitter's standard deviation at least halves; a marker moving
// a tenth of its width or 6 degrees per frame lags less than one frame. A filter starts afresh (no lag, nothing smoothed)
// after resetPoseFilter, which the caller does when the marker is lost.
#pragma once

namespace zelk {

struct SmoothingSettings {
    double minCutoff = 0.05;        // cycles per frame at rest
    double beta = 2.0;              // added cut-off per unit of speed (marker widths or radians per frame)
    double derivativeCutoff = 0.2;  // cycles per frame for the speed estimate
};

// One marker's filter state; zero-initialised (or reset) it passes the first pose through.
struct PoseFilter {
    bool primed = false;
    double value[7];  // position x, y, z in marker widths, then quaternion w, x, y, z
    double speed[7];
};

// Forgets the marker's past: the next pose passes through unchanged.
void resetPoseFilter(PoseFilter* filter);
// Replaces pose (3 x 4, camera-from-marker, translation in units of a marker `width` wide)
// by its smoothed value and advances the filter by one frame. Non-finite poses pass through
// and reset the filter.
void smoothPose(PoseFilter* filter, const SmoothingSettings& settings, double width, double pose[3][4]);

}  // namespace zelk
