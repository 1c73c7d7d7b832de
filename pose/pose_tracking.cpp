#include "pose/pose_tracking.h"

#include <cstring>

#include "pose/pose_estimation.h"

namespace zelk {

namespace {

bool trackable(const MarkerRecord* marker) {
    return marker && marker->patternId >= 0 && marker->patternId < PATTERN_SLOTS;
}

// The pose that the frame's pose should stay near, or null.
const double (*nearPose(const PoseHistory& history, int64_t frame))[4] {
    if (history.frame == frame) return history.continued ? history.previous : nullptr;
    return history.frame != 0 && history.frame == frame - 1 ? history.pose : nullptr;
}

double estimate(const PoseSettings* settings, const CameraParams* camera, const MarkerRecord* marker,
                const double (*previous)[4], const double centre[2], double width, double pose[3][4]) {
    return settings->precise ? estimatePrecisePose(marker, camera, centre, width, previous, pose)
                             : estimateMarkerPose(marker, camera, centre, width, pose);
}

}  // namespace

const double (*enterPoseFrame(PoseHistory* history, int64_t frame))[4] {
    if (history->frame != frame) {
        history->continued = history->frame != 0 && history->frame == frame - 1;
        std::memcpy(history->previous, history->pose, sizeof history->previous);
    }
    return history->continued ? history->previous : nullptr;
}

void keepPose(PoseHistory* history, int64_t frame, const double pose[3][4]) {
    history->frame = frame;
    std::memcpy(history->pose, pose, sizeof history->pose);
}

void resetPoseHistory(PoseHistory* history) {
    history->frame = 0;
    history->continued = false;
}

double markerPose(const PoseTracks* tracks, const PoseSettings* settings, const CameraParams* camera,
                  const MarkerRecord* marker, int64_t frame, const double centre[2], double width, double pose[3][4]) {
    const double(*previous)[4] =
        tracks && trackable(marker) ? nearPose(tracks->byPattern[marker->patternId].history, frame) : nullptr;
    return estimate(settings, camera, marker, previous, centre, width, pose);
}

double trackedMarkerPose(PoseTracks* tracks, const PoseSettings* settings, const CameraParams* camera,
                         const MarkerRecord* marker, int64_t frame, const double centre[2], double width,
                         double pose[3][4]) {
    if (!trackable(marker) || !pose) return estimate(settings, camera, marker, nullptr, centre, width, pose);
    PoseTrack& track = tracks->byPattern[marker->patternId];
    const bool newFrame = track.history.frame != frame;
    const double(*previous)[4] = enterPoseFrame(&track.history, frame);
    if (newFrame) {
        track.filterBefore = track.filter;
        if (!previous) resetPoseFilter(&track.filterBefore);
    }
    double estimated[3][4];
    const double error = estimate(settings, camera, marker, previous, centre, width, estimated);
    if (error < 0) return error;
    keepPose(&track.history, frame, estimated);
    if (settings->smooth) {
        track.filter = track.filterBefore;
        smoothPose(&track.filter, settings->smoothing, width, estimated);
    }
    std::memcpy(pose, estimated, sizeof estimated);
    return error;
}

void resetPoseTracks(PoseTracks* tracks) {
    for (PoseTrack& track : tracks->byPattern) {
        resetPoseHistory(&track.history);
        resetPoseFilter(&track.filter);
    }
}

}  // namespace zelk
