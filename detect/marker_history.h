// The marker history: identities steadied over a few frames.
#pragma once
#include <cstdint>
#include "detect/marker_record.h"

namespace zelk {

constexpr int HISTORY_CAPACITY = 30;
// A marker identified less surely than this is reported unidentified.
constexpr double CONFIDENCE_FLOOR = 0.5;

struct HistoryEntry {
    MarkerRecord marker;
    int32_t age;  // 1 in the frame it was refreshed
};

// The markers identified in the last few frames; a zeroed history is empty.
struct MarkerHistory {
    HistoryEntry entries[HISTORY_CAPACITY];
    int32_t count;
};

// Steadies a frame's freshly built markers with the history, ages and refreshes it, and
// appends the recently seen markers that vanished to the list.
void applyMarkerHistory(MarkerHistory* history, MarkerList* markers);

}  // namespace zelk
