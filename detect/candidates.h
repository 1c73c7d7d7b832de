// Square candidates: plausible dark regions whose outline splits into four sides.
#pragma once
#include <cstdint>
#include "detect/labelling.h"

namespace zelk {

constexpr int CANDIDATE_CAPACITY = 30;
constexpr int CONTOUR_CAPACITY = 10000;
// The most vertices splitSegment puts in a list; a seventh makes it fail.
constexpr int SPLIT_LIST_CAPACITY = 6;

struct SquareCandidate {
    int32_t pixelArea;  // 0 marks a candidate removed as a duplicate
    double centre[2];
    int32_t contourLength;  // includes the closing copy of entry 0
    int32_t contourX[CONTOUR_CAPACITY];
    int32_t contourY[CONTOUR_CAPACITY];
    int32_t vertexIndex[5];  // v(0) = 0 ... v(4) = contourLength - 1
};

// Outlines the regions with areas in [minArea, maxArea] away from the border and keeps
// the quadrilaterals, without nested duplicates. Returns the candidate list (never null).
const SquareCandidate* extractCandidates(const LabelPixel* labelImage, int32_t regionCount,
                                         const int32_t* labelTable, const int32_t* regionArea,
                                         const RegionCentroid* regionCentroid,
                                         const RegionBounds* regionBounds, int32_t maxArea,
                                         int32_t minArea, double factor, int32_t* candidateCount);
// Traces region's outline clockwise into slot, closed and re-anchored. 0 or -1 (after
// printing "??? 1", "??? 2" or "??? 3").
int traceContour(const LabelPixel* labelImage, const int32_t* labelTable, int32_t region,
                 const RegionBounds* bounds, SquareCandidate* slot);
// Finds the four corners of slot's outline into vertexIndex. 0, or -1 if not a quadrilateral.
int findVertices(int32_t area, SquareCandidate* slot, double factor);
// Appends the vertices between st and ed (farther than threshold from the chord) to list,
// which holds SPLIT_LIST_CAPACITY entries. 0, or -1 when too many.
int splitSegment(const int32_t* contourX, const int32_t* contourY, int32_t st, int32_t ed,
                 double threshold, int32_t* list, int32_t* count);

}  // namespace zelk
