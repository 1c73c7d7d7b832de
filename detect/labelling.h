// Binarisation and 8-connected labelling of a frame's dark pixels.
#pragma once
#include <cstdint>
#include "detect/marker_record.h"

namespace zelk {

constexpr int LABEL_IMAGE_CAPACITY = 1048576;
constexpr int RAW_LABEL_CAPACITY = 32768;

// Raw labels are unsigned so that all 32,768 of them fit; 0 is background.
typedef uint16_t LabelPixel;

struct RawLabelStats {
    int32_t area, sumX, sumY, xMin, xMax, yMin, yMax;
};
struct RegionCentroid {
    double x, y;
};
struct RegionBounds {
    int32_t xMin, xMax, yMin, yMax;  // inclusive
};

// Labels the frame at the current camera's size: pixels whose first three bytes sum
// to at most 3 x threshold are dark. Returns the label image, or null on failure.
// When regionCount > 0, the four array out-parameters point at region k's entry k-1
// (labelTable: raw label r -> region number at entry r-1).
const LabelPixel* labelFrame(const FrameImage* frame, int threshold, int32_t* regionCount,
                             const int32_t** regionArea, const RegionCentroid** regionCentroid,
                             const RegionBounds** regionBounds, const int32_t** labelTable);

}  // namespace zelk
