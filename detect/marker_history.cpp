// The marker history.
//
// What happens at capacity and to an unknown direction: docs/design.md (Decisions).
#include "detect/marker_history.h"

namespace zelk {

static const double AREA_RATIO_MIN = 0.7;
static const double AREA_RATIO_MAX = 1.43;
static const double DISTANCE_LIMIT = 0.5;
static const double INITIAL_BEST_DISTANCE = 10.0;
static const double INITIAL_BEST_CORNER_ERROR = 100000000.0;
static const int32_t AGE_LIMIT = 4;

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
static void carryIdentities(const MarkerHistory* history, MarkerRecord* list, int32_t count) {
    for (int32_t e = 0; e < history->count; e++) {
        const MarkerRecord* past = &history->entries[e].marker;
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

void applyMarkerHistory(MarkerHistory* history, MarkerList* markers) {
    MarkerRecord* list = markers->records;
    int32_t& count = markers->count;
    HistoryEntry* entries = history->entries;
    carryIdentities(history, list, count);

    for (int32_t m = 0; m < count; m++)
        if (list[m].confidence < CONFIDENCE_FLOOR) list[m].patternId = -1;

    int32_t kept = 0;
    for (int32_t e = 0; e < history->count; e++) {
        entries[e].age++;
        if (entries[e].age < AGE_LIMIT) entries[kept++] = entries[e];
    }
    history->count = kept;

    for (int32_t m = 0; m < count; m++) {
        if (list[m].patternId < 0) continue;
        int32_t e = 0;
        while (e < history->count && entries[e].marker.patternId != list[m].patternId) e++;
        if (e == history->count) {
            if (history->count == HISTORY_CAPACITY) continue;
            history->count++;
        }
        entries[e].marker = list[m];
        entries[e].age = 1;
    }

    for (int32_t e = 0; e < history->count; e++) {
        const MarkerRecord* past = &entries[e].marker;
        int32_t m = 0;
        while (m < count && !sameMarker(past, &list[m])) m++;
        if (m == count && count < MARKER_LIST_CAPACITY) {
            list[count] = *past;
            list[count++].carriedOver = entries[e].age - 1;  // aged this frame, not refreshed
        }
    }
}

}  // namespace zelk
