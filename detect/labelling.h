// Binarisation and 8-connected labelling of a frame's dark pixels.
#pragma once
#include <cstdint>
#include "detect/auto_threshold.h"
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

// The widest row labelled row by row: sides below 3 have no row to label.
constexpr int32_t WIDEST_ROW = LABEL_IMAGE_CAPACITY / 3;
// The row being labelled as bit masks, bit i of word i / 64 standing for pixel 1 + i. One
// spare word past the widest row reads as 0.
constexpr int32_t MASK_WORDS = WIDEST_ROW / 64 + 2;

// Per row of the label image, the columns that may hold labels (first > last: none).
struct ColumnSpan {
    int32_t first, last;
};

// The labelling's working memory and results, about 9 MB: keep it off the stack. It must
// start zeroed (value-initialised), as the label image outside the spans is always 0.
struct LabelBuffers {
    LabelPixel image[LABEL_IMAGE_CAPACITY];
    int32_t labelTable[RAW_LABEL_CAPACITY];
    RawLabelStats rawLabelStats[RAW_LABEL_CAPACITY];
    int32_t regionArea[RAW_LABEL_CAPACITY];
    RegionCentroid regionCentroid[RAW_LABEL_CAPACITY];
    RegionBounds regionBounds[RAW_LABEL_CAPACITY];
    LabelPixel rowBuffers[2][WIDEST_ROW];
    // The spans describe the image at spanWidth x spanHeight.
    ColumnSpan labelledSpan[WIDEST_ROW];
    int32_t spanWidth, spanHeight;
    // The row's dark pixels, and those of them below background, which cannot simply copy
    // the label above.
    uint64_t darkMask[MASK_WORDS];
    uint64_t unsetMask[MASK_WORDS];
    // The automatic threshold's tiles, and their bounds at the row being labelled, each
    // also as the byte that all three colour bytes of a surely bright pixel exceed, sixteen
    // times over for the screening of sixteen pixels at once.
    ThresholdTiles tiles;
    uint16_t columnBound[TILE_COLUMN_CAPACITY];
    uint8_t columnCeiling[TILE_COLUMN_CAPACITY][16];
};
static_assert(TILE_COLUMN_CAPACITY >= (WIDEST_ROW - 2 + THRESHOLD_TILE - 1) / THRESHOLD_TILE, "every tile column fits");

// A frame's labelling: pointers into the buffers that made it, valid until they label again.
struct Labelling {
    const LabelPixel* image;  // width x height raw labels; null when the frame could not be labelled
    int32_t width, height;
    int32_t regionCount;
    // Region k's entry k-1.
    const int32_t* regionArea;
    const RegionCentroid* regionCentroid;
    const RegionBounds* regionBounds;
    const int32_t* labelTable;  // raw label r -> region number at entry r-1
};

// Whether a frame size can be labelled: both sides at least 1 and at most
// LABEL_IMAGE_CAPACITY pixels. A frame with a side below 3 has no pixel inside the border
// ring that labelling skips, and so no region.
bool labelImageFits(int32_t width, int32_t height);

// Labels the frame into the buffers: pixels whose first three bytes sum to at most
// 3 x threshold are dark (a threshold below 0 darkens nothing, one above 255 everything).
// On failure the image is null and the region count 0: a null frame or pixels, a size
// that labelImageFits refuses or a stride below 4 x width (nothing is read or written
// then), or more than
// RAW_LABEL_CAPACITY raw labels.
Labelling labelFrame(LabelBuffers* buffers, const FrameImage* frame, int threshold);
// The same with the automatic threshold: a pixel is dark when its sum is below its tile
// column's bound at its row (see rowBounds). With measure, the bounds are measured from this
// frame into buffers->tiles first, as measureTileBounds does; without, the bounds already
// in buffers->tiles are used.
Labelling labelFrameLocally(LabelBuffers* buffers, const FrameImage* frame, bool measure);

}  // namespace zelk
