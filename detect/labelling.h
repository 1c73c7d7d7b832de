// Binarisation and 8-connected labelling of a frame's dark pixels.
#pragma once
#include <cstdint>
#include "detect/marker_record.h"

namespace zelk {

constexpr int LABEL_IMAGE_CAPACITY = 1048576;
constexpr int RAW_LABEL_CAPACITY = 32768;

// Raw labels are unsigned so that all 32,768 of them fit; 0 is background.
typedef uint16_t LabelPixel;

// The coordinate sums are 64-bit: a very wide or very tall frame of at most
// LABEL_IMAGE_CAPACITY pixels can sum past the int32 range.
struct RawLabelStats {
    int32_t area;
    int64_t sumX, sumY;
    int32_t xMin, xMax, yMin, yMax;
};
struct RegionCentroid {
    double x, y;
};
struct RegionBounds {
    int32_t xMin, xMax, yMin, yMax;  // inclusive
};

// Whether a detect size can be labelled: at least 3 x 3 and at most LABEL_IMAGE_CAPACITY pixels.
bool labelImageFits(int32_t width, int32_t height);

// Labels the frame at the current camera's size: pixels whose first three bytes sum
// to at most 3 x threshold are dark (a threshold below 0 darkens nothing, one above 255
// everything). Returns the label image, or null on failure: a null frame, a detect size
// that labelImageFits refuses (nothing is read or written then), or more than
// RAW_LABEL_CAPACITY raw labels. On failure *regionCount is 0. When *regionCount > 0,
// the four array out-parameters point at region k's entry k-1 (labelTable: raw label
// r -> region number at entry r-1); otherwise they are left untouched.
const LabelPixel* labelFrame(const FrameImage* frame, int threshold, int32_t* regionCount,
                             const int32_t** regionArea, const RegionCentroid** regionCentroid,
                             const RegionBounds** regionBounds, const int32_t** labelTable);

}  // namespace zelk
