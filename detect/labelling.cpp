// One pass over the frame: threshold each row, then give every dark pixel a raw label
// from its already-visited neighbours (up, up-right, up-left, left, in that order of
// preference). Connected raw labels are joined in a union-find table whose roots are
// always the smallest raw label of their set, so the representative of a set is the
// same as if every merge rewrote the whole table; region numbers follow the raster
// order of the regions' first pixels.
#include "detect/labelling.h"

#include <algorithm>
#include <cstring>

#include "camera/camera_params.h"

namespace zelk {

static LabelPixel labelImage[LABEL_IMAGE_CAPACITY];
static int32_t labelTable[RAW_LABEL_CAPACITY];
static RawLabelStats rawLabelStats[RAW_LABEL_CAPACITY];
static int32_t regionArea[RAW_LABEL_CAPACITY];
static RegionCentroid regionCentroid[RAW_LABEL_CAPACITY];
static RegionBounds regionBounds[RAW_LABEL_CAPACITY];
static int32_t regionCount;

// Marks a dark pixel of the row being labelled; never a raw label, which is at most 32,768.
constexpr LabelPixel DARK = 0xFFFF;

bool labelImageFits(int32_t width, int32_t height) {
    return width >= 3 && height >= 3 && int64_t(width) * height <= LABEL_IMAGE_CAPACITY;
}

// Writes DARK or 0 for pixels 1 ... width-2 of a frame row. Written as a plain loop
// over whole pixels so that the compiler can vectorise it.
static void markDarkPixels(const FrameImage* row, int32_t width, int32_t limit, LabelPixel* out) {
    for (int32_t x = 1; x < width - 1; ++x) {
        const FrameImage* p = row + 4 * x;
        const int32_t sum = p[0] + p[1] + p[2];
        out[x] = sum <= limit ? DARK : 0;
    }
}

static bool fourBackground(const LabelPixel* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word == 0;
}

// The representative of raw label r: the root of its tree, with path halving.
static int32_t findRepresentative(int32_t r) {
    while (labelTable[r - 1] != r) {
        const int32_t parent = labelTable[r - 1];
        labelTable[r - 1] = labelTable[parent - 1];
        r = parent;
    }
    return r;
}

// Joins the sets of raw labels a and b; returns the joint representative (the smaller).
static int32_t mergeLabels(int32_t a, int32_t b) {
    a = findRepresentative(a);
    b = findRepresentative(b);
    if (a > b) std::swap(a, b);
    labelTable[b - 1] = a;
    return a;
}

// Labels the dark pixels of row y (already marked DARK) from the row above.
// Returns the raw label count, or -1 when the table overflows.
static int32_t labelRow(LabelPixel* cur, const LabelPixel* up, int32_t width, int32_t y,
                        int32_t rawCount) {
    const int32_t last = width - 2;
    int32_t x = 1;
    for (;;) {
        while (x + 3 <= last && fourBackground(cur + x)) x += 4;
        while (x <= last && cur[x] == 0) ++x;
        if (x > last) return rawCount;
        do {
            int32_t label;
            RawLabelStats* s;
            if (up[x]) {
                label = up[x];
                s = &rawLabelStats[label - 1];
                s->yMax = y;
            } else {
                const int32_t upRight = up[x + 1], upLeft = up[x - 1], left = cur[x - 1];
                if (upRight && (upLeft || left)) {
                    label = mergeLabels(upRight, upLeft ? upLeft : left);
                    s = &rawLabelStats[label - 1];
                    if (upLeft) s->yMax = y;
                } else if (upRight) {
                    label = upRight;
                    s = &rawLabelStats[label - 1];
                    s->xMin = std::min(s->xMin, x);
                    s->yMax = y;
                } else if (upLeft) {
                    label = upLeft;
                    s = &rawLabelStats[label - 1];
                    s->xMax = std::max(s->xMax, x);
                    s->yMax = y;
                } else if (left) {
                    label = left;
                    s = &rawLabelStats[label - 1];
                    s->xMax = std::max(s->xMax, x);
                } else {
                    if (rawCount == RAW_LABEL_CAPACITY) return -1;
                    label = ++rawCount;
                    labelTable[label - 1] = label;
                    rawLabelStats[label - 1] = RawLabelStats{1, x, y, x, x, y, y};
                    cur[x] = LabelPixel(label);
                    continue;
                }
            }
            s->area += 1;
            s->sumX += x;
            s->sumY += y;
            cur[x] = LabelPixel(label);
        } while (++x <= last && cur[x]);
    }
}

// Turns the table into raw label -> region number and gathers the region statistics.
static int32_t gatherRegions(int32_t rawCount, int32_t width, int32_t height) {
    int32_t next = 1;
    for (int32_t r = 1; r <= rawCount; ++r) {
        // A parent is smaller than its child, so its entry already holds the final number.
        labelTable[r - 1] = labelTable[r - 1] == r ? next++ : labelTable[labelTable[r - 1] - 1];
    }
    const int32_t count = next - 1;
    for (int32_t k = 0; k < count; ++k) {
        regionArea[k] = 0;
        regionCentroid[k] = RegionCentroid{0.0, 0.0};
        regionBounds[k] = RegionBounds{width, 0, height, 0};
    }
    for (int32_t r = 0; r < rawCount; ++r) {
        const RawLabelStats& s = rawLabelStats[r];
        const int32_t k = labelTable[r] - 1;
        regionArea[k] += s.area;
        regionCentroid[k].x += double(s.sumX);
        regionCentroid[k].y += double(s.sumY);
        RegionBounds& b = regionBounds[k];
        b.xMin = std::min(b.xMin, s.xMin);
        b.xMax = std::max(b.xMax, s.xMax);
        b.yMin = std::min(b.yMin, s.yMin);
        b.yMax = std::max(b.yMax, s.yMax);
    }
    for (int32_t k = 0; k < count; ++k) {
        regionCentroid[k].x /= regionArea[k];
        regionCentroid[k].y /= regionArea[k];
    }
    return count;
}

const LabelPixel* labelFrame(const FrameImage* frame, int threshold, int32_t* regionCountOut,
                             const int32_t** regionAreaOut, const RegionCentroid** regionCentroidOut,
                             const RegionBounds** regionBoundsOut, const int32_t** labelTableOut) {
    *regionCountOut = 0;
    int32_t width, height;
    currentDetectSize(&width, &height);
    if (!frame || !labelImageFits(width, height)) return nullptr;
    // Clamped so that 3 x threshold cannot overflow; the sum of three bytes is 0 ... 765.
    const int32_t limit = 3 * std::clamp(threshold, -1, 255);

    std::fill(labelImage, labelImage + width, LabelPixel(0));
    std::fill(labelImage + (height - 1) * width, labelImage + height * width, LabelPixel(0));
    int32_t rawCount = 0;
    for (int32_t y = 1; y < height - 1; ++y) {
        LabelPixel* cur = labelImage + y * width;
        cur[0] = 0;
        cur[width - 1] = 0;
        markDarkPixels(frame + size_t(y) * width * 4, width, limit, cur);
        rawCount = labelRow(cur, cur - width, width, y, rawCount);
        if (rawCount < 0) return nullptr;
    }

    regionCount = gatherRegions(rawCount, width, height);
    *regionCountOut = regionCount;
    if (regionCount > 0) {
        *regionAreaOut = regionArea;
        *regionCentroidOut = regionCentroid;
        *regionBoundsOut = regionBounds;
        *labelTableOut = labelTable;
    }
    return labelImage;
}

}  // namespace zelk
