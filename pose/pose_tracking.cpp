#include "pose/pose_tracking.h"

#include <cstring>

#include "pose/pose_estimation.h"

namespace zelk {

namespace {

bool trackable(const MarkerRecord* marker) {
    return marker && marker->patternId >= 0 && marker->patternId < PATTERN_SLOTS;
}

// The pose that the frame's pose should stay near, or null.
const double (*nearPose(const PoseTrack& track, int64_t frame))[4] {
    if (track.frame == frame) return track.continued ? track.previous : nullptr;
    return track.frame != 0 && track.frame == frame - 1 ? track.pose : nullptr;
}

double estimate(const PoseSettings* settings, const CameraParams* camera, const MarkerRecord* marker,
                const double (*previous)[4], const double centre[2], double width, double pose[3][4]) {
    return settings->precise ? estimatePrecisePose(marker, camera, centre, width, previous, pose)
                             : estimateMarkerPose(marker, camera, centre, width, pose);
}

}  // namespace

double markerPose(const PoseTracks* tracks, const PoseSettings* settings, const CameraParams* camera,
                  const MarkerRecord* marker, int64_t frame, const double centre[2], double width, double pose[3][4]) {
    const double(*previous)[4] =
        tracks && trackable(marker) ? nearPose(tracks->byPattern[marker->patternId], frame) : nullptr;
    return estimate(settings, camera, marker, previous, centre, width, pose);
}

double trackedMarkerPose(PoseTracks* tracks, const PoseSettings* settings, const CameraParams* camera,
                         const MarkerRecord* marker, int64_t frame, const double centre[2], double width,
                         double pose[3][4]) {
    if (!trackable(marker) || !pose) return estimate(settings, camera, marker, nullptr, centre, width, pose);
    PoseTrack& track = tracks->byPattern[marker->patternId];
    if (track.frame != frame) {
        // The first pose of this frame: what was newest becomes the previous frame's.
        track.continued = track.frame != 0 && track.frame == frame - 1;
        std::memcpy(track.previous, track.pose, sizeof track.previous);
        track.filterBefore = track.filter;
        if (!track.continued) resetPoseFilter(&track.filterBefore);
    }
    double estimated[3][4];
    const double error =
        estimate(settings, camera, marker, track.continued ? track.previous : nullptr, centre, width, estimated);
    if (error < 0) return error;
    track.frame = frame;
    std::memcpy(track.pose, estimated, sizeof track.pose);
    if (settings->smooth) {
        track.filter = track.filterBefore;
        smoothPose(&track.filter, settings->smoothing, width, estimated);
    }
    std::memcpy(pose, estimated, sizeof estimated);
    return error;
}

void resetPoseTracks(PoseTracks* tracks) {
    for (PoseTrack& track : tracks->byPattern) {
        track.frame = 0;
        track.continued = false;
        resetPoseFilter(&track.filter);
    }
}

}  // namespace zelk
