// The per-frame detection driver: labelling, candidates, the marker list, precise edges, the history.
#include "detect/detector.h"

#include "detect/fine_identification.h"
#include "detect/subpixel_edges.h"

namespace zelk {

int detectMarkers(Detector* detector, const FrameImage* frame, int threshold) {
    detector->markers.count = 0;
    detector->frameCount++;
    const bool automatic = detector->settings.autoThreshold;
    const Labelling labelling =
        automatic ? labelFrameLocally(&detector->labels, frame, true) : labelFrame(&detector->labels, frame, threshold);
    if (!labelling.image) return -1;
    extractCandidates(&labelling, &detector->settings.candidateLimits, &detector->candidates);
    // The automatic mode identifies its small markers only through their fitted corners.
    buildMarkerList(frame, &detector->camera, &detector->patterns, &detector->candidates, &detector->sidePoints,
                    &detector->markers, automatic ? FINE_IDENTIFICATION_AREA : 0);
    if (detector->poseSettings.precise) {
        // A side that cannot be read keeps the outline's fit.
        for (int32_t i = 0; i < detector->markers.count; i++) {
            MarkerRecord* marker = &detector->markers.records[i];
            refineEdgeLines(frame, detector->camera.distortion, marker->edgeLines, marker->corners);
        }
    }
    if (automatic)
        identifyFinely(&detector->patterns, frame, detector->camera.distortion, FINE_CONFIDENCE_FLOOR,
                       &detector->markers);
    applyMarkerHistory(&detector->history, &detector->markers);
    return 0;
}

void resetDetector(Detector* detector) {
    detector->markers.count = 0;
    detector->history.count = 0;
    resetPoseTracks(&detector->poseTracks);
}

}  // namespace zelk
