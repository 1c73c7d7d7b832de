// The per-frame detection driver and the marker history.
#pragma once
#include <cstdint>
#include "detect/marker_record.h"

namespace zelk {

constexpr int HISTORY_CAPACITY = 30;

// Detects and steadies the frame's markers. Sets *markerCount to 0 first; on success
// points *markerList at the module's marker list and returns 0, else returns -1.
int detectMarkers(const FrameImage* frame, int threshold, MarkerRecord** markerList,
                  int32_t* markerCount);
// Steadies a frame's freshly built markers with the history, ages and refreshes it, and
// appends the recently seen markers that vanished. markerCount: in built, out in total.
void applyMarkerHistory(MarkerRecord* markerList, int32_t* markerCount);

}  // namespace zelk
