// The detection driver and the marker history.
//
// At capacity nothing is written past either array: a marker that would enter a full
// history (30 entries) is not recorded, and a vanished marker that would be appended to
// a full marker list (30 records) is not reported.
#include "detect/detection.h"

#include "detect/candidates.h"
#include "detect/edge_lines.h"
#include "detect/labelling.h"

namespace zelk {

static const int32_t LARGEST_CANDIDATE_AREA = 100000;
static const int32_t SMALLEST_CANDIDATE_AREA = 70;
static const double VERTEX_THRESHOLD_FACTOR = 1.0;
static const double AREA_RATIO_MIN = 0.7;
static const double AREA_RATIO_MAX = 1.43;
static const double DISTANCE_LIMIT = 0.5;
static const double INITIAL_BEST_DISTANCE = 10.0;
static const double INITIAL_BEST_CORNER_ERROR = 100000000.0;
static const double CONFIDENCE_FLOOR = 0.5;
static const int32_t AGE_LIMIT = 4;

struct HistoryEntry {
    MarkerRecord marker;
    int32_t age;  // 1 in the frame it was refreshed
};

static HistoryEntry markerHistory[HISTORY_CAPACITY];
static int32_t historyCount = 0;

static bool areaRatioFits(const MarkerRecord* past, const MarkerRecord* current) {
    const double ratio = static_cast<double>(past->pixelArea) / current->pixelArea;
    return ratio >= AREA_RATIO_MIN && ratio <= AREA_RATIO_MAX;
}

// Squared centre distance in units of the current marker's area.
static double centreDistance(const MarkerRecord* past, const MarkerRecord* current) {
    const double dx = current->centre[0] - past->centre[0];
    const double dy = current->centre[1] - past->centre[1];
    return (dx * dx + dy * dy) / current->pixelArea;
}

static bool sameMarker(const MarkerRecord* past, const MarkerRecord* current) {
    return areaRatioFits(past, current) && centreDistance(past, current) < DISTANCE_LIMIT;
}

// The quarter turn s that best maps the past corners k onto the current corners s + k; -1 if none.
static int bestCornerShift(const MarkerRecord* past, const MarkerRecord* current) {
    double best = INITIAL_BEST_CORNER_ERROR;
    int shift = -1;
    for (int s = 0; s < 4; s++) {
        double error = 0.0;
        for (int k = 0; k < 4; k++) {
            const double* p = past->corners[k];
            const double* c = current->corners[(s + k) % 4];
            error += (p[0] - c[0]) * (p[0] - c[0]) + (p[1] - c[1]) * (p[1] - c[1]);
        }
        if (error < best) {
            best = error;
            shift = s;
        }
    }
    return shift;
}

// A current marker at the place of a recent one takes over its identity when that was surer.
static void carryIdentities(MarkerRecord* list, int32_t count) {
    for (int32_t e = 0; e < historyCount; e++) {
        const MarkerRecord* past = &markerHistory[e].marker;
        double best = INITIAL_BEST_DISTANCE;
        MarkerRecord* nearest = nullptr;
        for (int32_t m = 0; m < count; m++) {
            if (!areaRatioFits(past, &list[m])) continue;
            const double distance = centreDistance(past, &list[m]);
            if (distance < best) {
                best = distance;
                nearest = &list[m];
            }
        }
        if (!nearest || best >= DISTANCE_LIMIT || !(past->confidence > nearest->confidence)) continue;
        nearest->confidence = past->confidence;
        nearest->patternId = past->patternId;
        // An unknown direction stays unknown rather than turning into a made-up one.
        const int shift = bestCornerShift(past, nearest);
        nearest->direction = (shift < 0 || past->direction < 0) ? -1 : (past->direction - shift + 4) % 4;
    }
}

void applyMarkerHistory(MarkerRecord* list, int32_t* count) {
    carryIdentities(list, *count);

    for (int32_t m = 0; m < *count; m++)
        if (list[m].confidence < CONFIDENCE_FLOOR) list[m].patternId = -1;

    int32_t kept = 0;
    for (int32_t e = 0; e < historyCount; e++) {
        markerHistory[e].age++;
        if (markerHistory[e].age < AGE_LIMIT) markerHistory[kept++] = markerHistory[e];
    }
    historyCount = kept;

    for (int32_t m = 0; m < *count; m++) {
        if (list[m].patternId < 0) continue;
        int32_t e = 0;
        while (e < historyCount && markerHistory[e].marker.patternId != list[m].patternId) e++;
        if (e == historyCount) {
            if (historyCount == HISTORY_CAPACITY) continue;
            historyCount++;
        }
        markerHistory[e].marker = list[m];
        markerHistory[e].age = 1;
    }

    for (int32_t e = 0; e < historyCount; e++) {
        const MarkerRecord* past = &markerHistory[e].marker;
        int32_t m = 0;
        while (m < *count && !sameMarker(past, &list[m])) m++;
        if (m == *count && *count < MARKER_LIST_CAPACITY) list[(*count)++] = *past;
    }
}

int detectMarkers(const FrameImage* frame, int threshold, MarkerRecord** markerList, int32_t* count) {
    *count = 0;
    int32_t regionCount = 0;
    const int32_t* regionArea = nullptr;
    const RegionCentroid* regionCentroid = nullptr;
    const RegionBounds* regionBounds = nullptr;
    const int32_t* labelTable = nullptr;
    const LabelPixel* labelImage =
        labelFrame(frame, threshold, &regionCount, &regionArea, &regionCentroid, &regionBounds, &labelTable);
    if (!labelImage) return -1;
    int32_t built = 0;  // the candidate count, then the number of markers built
    const SquareCandidate* candidates =
        extractCandidates(labelImage, regionCount, labelTable, regionArea, regionCentroid, regionBounds,
                          LARGEST_CANDIDATE_AREA, SMALLEST_CANDIDATE_AREA, VERTEX_THRESHOLD_FACTOR, &built);
    MarkerRecord* list = buildMarkerList(frame, candidates, &built);
    applyMarkerHistory(list, &built);
    *markerList = list;
    *count = built;
    return 0;
}

}  // namespace zelk
