// Sub-pixel edge lines: each side of a square moved onto the grey-level edge around it.
//
// The outline's lines run through the centres of the dark pixels along the border, about
// half a pixel inside the true edge. Here every side is sampled across, at up to
// EDGE_SAMPLES places, in the observed picture (through the lens model), and the edge's
// position is read from the area under the normalised grey-level profile: a step of the
// same area lies there, whatever the blur. The edge points, mapped back to ideal
// coordinates, give the side's least-squares line. Pixel centres are at integer coordinates.
#pragma once
#include "detect/marker_record.h"

namespace zelk {

constexpr int EDGE_SAMPLES = 16;

// Refines the four edge lines (ideal coordinates, (a, b) unit) of a dark square on a lighter
// surround and their corners (corner i joins side i-1 and side i). 0 with both rewritten, or
// -1 with both untouched: a side with too few readable places (outside the frame, no
// contrast), non-finite input, a frame smaller than 2 x 2 or with rows shorter than its
// width, or neighbouring lines that do not meet.
int refineEdgeLines(const FrameImage* frame, const double distortion[4], double edgeLines[4][3], double corners[4][2]);

}  // namespace zelk
