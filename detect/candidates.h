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

// A frame's candidates, about 2.4 MB: keep it off the stack.
struct CandidateList {
    SquareCandidate entries[CANDIDATE_CAPACITY];
    int32_t count;
};

// Which regions are outlined: areas in [smallestArea, largestArea], and the factor of the
// corner-finding threshold.
struct CandidateLimits {
    int32_t largestArea;
    int32_t smallestArea;
    double vertexFactor;
};

// Outlines the labelled regions within the limits and away from the border into the list
// and keeps the quadrilaterals, without nested duplicates. Returns the candidate count.
int32_t extractCandidates(const Labelling* labelling, const CandidateLimits* limits, CandidateList* candidates);
// Traces region's outline clockwise into slot, closed and re-anchored. 0 or -1 (after
// printing "??? 1", "??? 2" or "??? 3").
int traceContour(const Labelling* labelling, int32_t region, const RegionBounds* bounds, SquareCandidate* slot);
// Finds the four corners of slot's outline into vertexIndex. 0, or -1 if not a quadrilateral.
int findVertices(int32_t area, SquareCandidate* slot, double factor);
// Appends the vertices between st and ed (farther than threshold from the chord) to list,
// which holds SPLIT_LIST_CAPACITY entries. 0, or -1 when too many.
int splitSegment(const int32_t* contourX, const int32_t* contourY, int32_t st, int32_t ed, double threshold,
                 int32_t* list, int32_t* count);

}  // namespace zelk
