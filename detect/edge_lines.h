// Edge lines and corners of the square candidates, and the frame's marker list.
#pragma once
#include <cstdint>

#include "camera/camera_params.h"
#include "detect/candidates.h"
#include "detect/marker_record.h"
#include "detect/pattern_library.h"

namespace zelk {

// The line fits' working memory: one side's points in ideal coordinates, x and y per row.
struct SidePoints {
    double values[CONTOUR_CAPACITY * 2];
};

// Fits a line to each side (ends trimmed, ideal coordinates) and intersects neighbours
// into corners. 0, or -1 when a side cannot be fitted or neighbouring lines are parallel.
int fitEdgeLines(const int32_t* contourX, const int32_t* contourY, const int32_t vertexIndex[5],
                 const double distortion[4], SidePoints* work, double edgeLines[4][3], double corners[4][2]);
// Corner i of neighbouring sides i-1 and i. 0, or -1 when two neighbours are parallel.
int intersectEdgeLines(const double edgeLines[4][3], double corners[4][2]);
// Fits and identifies every candidate into the marker list, dropping those that cannot be
// fitted; those of fewer than identifiedArea pixels are left unidentified (-1, -1, 0.0), for
// a finer identification. Returns the marker count.
int32_t buildMarkerList(const FrameImage* frame, const CameraParams* camera, const PatternLibrary* patterns,
                        const CandidateList* candidates, SidePoints* work, MarkerList* markers,
                        int32_t identifiedArea = 0);

}  // namespace zelk
