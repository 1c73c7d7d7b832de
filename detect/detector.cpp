// The per-frame detection driver: labelling, candidates, the marker list, the history.
#include "detect/detector.h"

#include "detect/fine_identification.h"

namespace zelk {

int detectMarkers(Detector* detector, const FrameImage* frame, int threshold) {
    detector->markers.count = 0;
    const bool automatic = detector->settings.autoThreshold;
    const Labelling labelling = automatic ? labelFrameLocally(&detector->labels, frame, true)
                                          : labelFrame(&detector->labels, frame, threshold);
    if (!labelling.image) return -1;
    extractCandidates(&labelling, &detector->settings.candidateLimits, &detector->candidates);
    buildMarkerList(frame, &detector->camera, &detector->patterns, &detector->candidates, &detector->sidePoints,
                    &detector->markers);
    if (automatic)
        identifyFinely(&detector->patterns, frame, detector->camera.distortion, CONFIDENCE_FLOOR, &detector->markers);
    applyMarkerHistory(&detector->history, &detector->markers);
    return 0;
}

void resetDetector(Detector* detector) {
    detector->markers.count = 0;
    detector->history.count = 0;
}

}  // namespace zelk
