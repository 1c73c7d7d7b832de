// A pattern's pose over frames: precise mode's previous pose, and smoothing.
//
// Each pattern id keeps the pose it was last given. A pose continues a track when the same
// pattern was posed in the frame just before; otherwise the marker counts as lost and found
// again: no previous pose, smoothing starts afresh. Asking again within a frame gives the
// same answer, since the track advances once per frame.
#pragma once
#include <cstdint>

#include "camera/camera_params.h"
#include "detect/marker_record.h"
#include "detect/pattern_library.h"
#include "pose/pose_smoothing.h"

namespace zelk {

// How poses are estimated; both off by default, giving the plug-in's fixed behaviour.
struct PoseSettings {
    bool precise = false;  // sub-pixel corners and the least-squares pose
    bool smooth = false;   // one-euro smoothing of each pattern's pose over frames
    SmoothingSettings smoothing;
};

// A pose over frames: the newest, and the frame before's when that frame had one. A marker's
// track and a board keep one each, so that the next frame's pose stays near the last.
struct PoseHistory {
    int64_t frame;      // the frame of `pose`; 0 for none (frames count from 1)
    double pose[3][4];  // the newest pose
    bool continued;     // frame - 1 had a pose too: `previous` is that pose
    double previous[3][4];
};

// Enters frame number `frame` (from 1): on its first call in that frame, what was newest
// becomes the previous frame's pose. Returns the pose this frame's should stay near: the
// previous frame's, or null.
const double (*enterPoseFrame(PoseHistory* history, int64_t frame))[4];
// Keeps pose as frame's newest.
void keepPose(PoseHistory* history, int64_t frame, const double pose[3][4]);
// Forgets every pose.
void resetPoseHistory(PoseHistory* history);

struct PoseTrack {
    PoseHistory history;              // poses before smoothing
    PoseFilter filter, filterBefore;  // after and before the newest frame's pose
};

struct PoseTracks {
    PoseTrack byPattern[PATTERN_SLOTS];
};

// The pose of marker (identified, pattern id in 0 ... PATTERN_SLOTS-1) in frame number `frame`
// (from 1), as the settings ask; advances the pattern's track. Fit error (mean squared pixels)
// of the pose before smoothing, or -1.0 with pose untouched.
double trackedMarkerPose(PoseTracks* tracks, const PoseSettings* settings, const CameraParams* camera,
                         const MarkerRecord* marker, int64_t frame, const double centre[2], double width,
                         double pose[3][4]);
// The pose as the settings ask without advancing any track (no smoothing); precise mode
// still prefers the pose nearer the pattern's track when that is from the frame before.
double markerPose(const PoseTracks* tracks, const PoseSettings* settings, const CameraParams* camera,
                  const MarkerRecord* marker, int64_t frame, const double centre[2], double width, double pose[3][4]);
// Forgets every track.
void resetPoseTracks(PoseTracks* tracks);

}  // namespace zelk
