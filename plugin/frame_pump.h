// State of the frame pump that the other exports read.
#pragma once
#include <cstdint>

#include "detect/marker_record.h"

namespace zelk {

// The newest frame (null when the last update found none) and the video size.
void currentFrameState(const FrameImage** frame, int32_t* videoWidth, int32_t* videoHeight);
// The marker list of the last detected frame and its count.
void currentMarkers(const MarkerRecord** markerList, int32_t* markerCount);

}  // namespace zelk
