// The detector: everything one video's detection needs, in one visible owner, and the
// per-frame driver. A detector shares nothing mutable with another, so several can run on
// several threads. It is large (about 13 MB): make it with std::make_unique<Detector>() or
// as a static, both of which start it zeroed, as it must start.
#pragma once
#include <cstdint>

#include "camera/camera_params.h"
#include "detect/candidates.h"
#include "detect/edge_lines.h"
#include "detect/labelling.h"
#include "detect/marker_history.h"
#include "detect/marker_record.h"
#include "detect/pattern_library.h"
#include "pose/pose_tracking.h"

namespace zelk {

// How a detector detects; the defaults are the plug-in's fixed behaviour.
struct DetectorSettings {
    CandidateLimits candidateLimits = {100000, 70, 1.0};
    // The automatic mode: a threshold chosen for every part of the frame from its own light
    // (detectMarkers' threshold is then unused), and small or unsure markers identified
    // again through their fitted corners.
    bool autoThreshold = false;
};

struct Detector {
    CameraParams camera;  // scaled to the video
    DetectorSettings settings;
    PatternLibrary patterns;
    // Working memory of the stages, rewritten by every frame.
    LabelBuffers labels;
    CandidateList candidates;
    SidePoints sidePoints;
    // The last detected frame's markers, and the history that steadies them.
    MarkerList markers;
    MarkerHistory history;
    // Precise mode and smoothing, and each pattern's recent poses.
    PoseSettings poseSettings;
    PoseTracks poseTracks;
    int64_t frameCount;  // frames detected; the newest is frame number frameCount
};

// Detects and steadies the frame's markers into detector->markers; in precise mode their
// edges and corners are refined on the frame. 0, or -1 when the frame cannot be labelled
// (the marker list is then empty).
int detectMarkers(Detector* detector, const FrameImage* frame, int threshold);
// Forgets the markers, their history and their poses, for a new video; keeps the camera,
// the settings and the patterns.
void resetDetector(Detector* detector);

}  // namespace zelk
