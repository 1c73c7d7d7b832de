// Edge lines and corners of the square candidates, and the frame's marker list.
#pragma once
#include <cstdint>

#include "detect/candidates.h"
#include "detect/marker_record.h"

namespace zelk {

// Fits a line to each side (ends trimmed, ideal coordinates) and intersects neighbours
// into corners. 0, or -1 when a side cannot be fitted or neighbouring lines are parallel.
int fitEdgeLines(const int32_t* contourX, const int32_t* contourY, const int32_t vertexIndex[5],
                 const double distortion[4], double edgeLines[4][3], double corners[4][2]);
// Fits and identifies every candidate into the marker list, dropping those that cannot be
// fitted. count: in the candidate count, out the marker count. Returns the list (never null).
MarkerRecord* buildMarkerList(const FrameImage* frame, const SquareCandidate* candidates, int32_t* count);

}  // namespace zelk
