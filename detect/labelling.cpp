// One pass over the frame: threshold each row, then give every dark pixel a raw label
// from its already-visited neighbours (up, up-right, up-left, left, in that order of
// preference; joining two neighbours gives their joint representative). Connected raw
// labels are joined in a union-find table whose roots are always the smallest raw label
// of their set, so every representative is the one a table rewritten on each merge
// would hold; region numbers follow the raster order of the regions' first pixels.
// Each raw label's record holds the exact count, sums and bounds of its own pixels,
// added a stretch of equally labelled pixels at a time.
//
// Rows are marked and labelled in two row buffers that stay in the cache; the label image
// receives only the columns between a row's first and last dark pixel, and the columns it
// held labels in the frame before are cleared. A mostly bright frame is thus read once and
// hardly written, and the label image is still complete after every frame.
#include "detect/labelling.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "camera/camera_params.h"

namespace zelk {

static LabelPixel labelImage[LABEL_IMAGE_CAPACITY];
static int32_t labelTable[RAW_LABEL_CAPACITY];
static RawLabelStats rawLabelStats[RAW_LABEL_CAPACITY];
static int32_t regionArea[RAW_LABEL_CAPACITY];
static RegionCentroid regionCentroid[RAW_LABEL_CAPACITY];
static RegionBounds regionBounds[RAW_LABEL_CAPACITY];
static int32_t regionCount;

// The widest row a labellable size can have: both sides are at least 3.
constexpr int32_t WIDEST_ROW = LABEL_IMAGE_CAPACITY / 3;
static LabelPixel rowBuffers[2][WIDEST_ROW];
// Per row of the label image, the columns that may hold labels (first > last: none);
// all other pixels are 0, as the whole image is before the first frame. They describe
// the image at spanWidth x spanHeight.
struct ColumnSpan {
    int32_t first, last;
};
static ColumnSpan labelledSpan[WIDEST_ROW];
static int32_t spanWidth, spanHeight;

// A dark pixel of the row being labelled is marked 0xFFFF, never a raw label (at most
// 32,768); this is four of them as one word.
constexpr uint64_t DARK4 = ~uint64_t(0);

bool labelImageFits(int32_t width, int32_t height) {
    return width >= 3 && height >= 3 && int64_t(width) * height <= LABEL_IMAGE_CAPACITY;
}

// Writes 0xFFFF (byte sum below bound) or 0 for pixels first ... end-1 of a frame row and
// tells whether any was dark. The sums (at most 765) and the bound are kept in 16 bits so
// that the compiler vectorises the loop with eight or more pixels per instruction.
static bool markDarkRange(const FrameImage* row, int32_t first, int32_t end, uint16_t bound, LabelPixel* out) {
    LabelPixel any = 0;
    for (int32_t x = first; x < end; ++x) {
        const FrameImage* p = row + 4 * x;
        const uint16_t sum = uint16_t(uint16_t(p[0]) + uint16_t(p[1]) + uint16_t(p[2]));
        const LabelPixel mark = LabelPixel(-LabelPixel(sum < bound));
        out[x] = mark;
        any |= mark;
    }
    return any != 0;
}

#if defined(__SSE2__)
// The marks of four pixels as 32-bit lanes: byte 0 and byte 2 are added in 16-bit halves,
// byte 1 joins the sum, and a sum below the bound gives all ones.
static inline __m128i darkLanes(const __m128i* p, __m128i bound) {
    const __m128i pixels = _mm_loadu_si128(p);
    const __m128i outer = _mm_madd_epi16(_mm_and_si128(pixels, _mm_set1_epi32(0x00FF00FF)), _mm_set1_epi32(0x00010001));
    const __m128i middle = _mm_and_si128(_mm_srli_epi32(pixels, 8), _mm_set1_epi32(0xFF));
    return _mm_cmpgt_epi32(bound, _mm_add_epi32(outer, middle));
}

// Writes the marks of the sixteen pixels from x on; their OR, as a vector.
static inline __m128i markSixteen(const FrameImage* row, int32_t x, __m128i bound, LabelPixel* out) {
    const __m128i* p = reinterpret_cast<const __m128i*>(row + 4 * x);
    const __m128i low = _mm_packs_epi32(darkLanes(p, bound), darkLanes(p + 1, bound));
    const __m128i high = _mm_packs_epi32(darkLanes(p + 2, bound), darkLanes(p + 3, bound));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), high);
    return _mm_or_si128(low, high);
}

// Whether every colour byte (not the fourth) of the sixteen pixels from x on is at least floor.
static inline bool sixteenAtLeast(const FrameImage* row, int32_t x, __m128i floor) {
    const __m128i* p = reinterpret_cast<const __m128i*>(row + 4 * x);
    const __m128i smallest =
        _mm_or_si128(_mm_min_epu8(_mm_min_epu8(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                                  _mm_min_epu8(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3))),
                     _mm_set1_epi32(int32_t(0xFF000000u)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(smallest, floor), smallest)) == 0xFFFF;
}
#endif

// Marks pixels 1 ... width-2 of a frame row (threshold already clamped to -1 ... 255) and
// tells whether any is dark. With SSE2, sixteen pixels at a time: a pixel whose three bytes
// all exceed the threshold sums to more than three times it, so sixteen pixels whose
// smallest colour byte does are bright without summing them, a test that costs about what
// reading the bytes does. The row's last sixteen are done again from its end rather than
// one by one; marking is idempotent.
static bool markDarkPixels(const FrameImage* row, int32_t width, int threshold, uint16_t bound, LabelPixel* out) {
#if defined(__SSE2__)
    if (width >= 18) {
        const __m128i boundLanes = _mm_set1_epi32(bound);
        const __m128i floor = _mm_set1_epi8(char(uint8_t(threshold + 1)));
        const __m128i zero = _mm_setzero_si128();
        const bool screen = threshold < 255;
        __m128i any = zero;
        for (int32_t x = 1;; x += 16) {
            if (x > width - 17) x = width - 17;
            if (screen && sixteenAtLeast(row, x, floor)) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), zero);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 8), zero);
            } else {
                any = _mm_or_si128(any, markSixteen(row, x, boundLanes, out));
            }
            if (x == width - 17) break;
        }
        return _mm_movemask_epi8(any) != 0;
    }
#else
    (void)threshold;
#endif
    return markDarkRange(row, 1, width - 1, bound, out);
}

// Four label pixels as one word.
static uint64_t fourPixels(const LabelPixel* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
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

// Adds pixels first ... last of row y, all given one raw label, to its record.
static inline void countStretch(int32_t label, int32_t first, int32_t last, int32_t y) {
    RawLabelStats& s = rawLabelStats[label - 1];
    const int32_t n = last - first + 1;
    s.area += n;
    s.sumX += int64_t(first + last) * n / 2;
    s.sumY += int64_t(y) * n;
    s.xMin = std::min(s.xMin, first);
    s.xMax = std::max(s.xMax, last);
    s.yMax = y;
}

// Labels the dark pixels of row y (already marked 0xFFFF) from the row above.
// Returns the raw label count, or -1 when the table overflows.
// *firstDark and *lastDark receive the row's first and last dark column.
static int32_t labelRow(LabelPixel* cur, const LabelPixel* up, int32_t width, int32_t y,
                        int32_t rawCount, int32_t* firstDark, int32_t* lastDark) {
    const int32_t last = width - 2;
    int32_t x = 1;
    for (;;) {
        while (x + 15 <= last && (fourPixels(cur + x) | fourPixels(cur + x + 4) | fourPixels(cur + x + 8) |
                                  fourPixels(cur + x + 12)) == 0)
            x += 16;
        while (x + 3 <= last && fourPixels(cur + x) == 0) x += 4;
        while (x <= last && cur[x] == 0) ++x;
        if (x > last) return rawCount;
        *firstDark = std::min(*firstDark, x);
        // A run of dark pixels, counted in stretches that share a raw label.
        int32_t stretchLabel = 0, stretchStart = x;
        do {
            // Below an equally labelled stretch of the row above, pixels just copy it.
            if (stretchLabel && up[x] == stretchLabel) {
                const uint64_t same4 = uint64_t(stretchLabel) * 0x0001000100010001u;
                while (x + 3 <= last && fourPixels(up + x) == same4 && fourPixels(cur + x) == DARK4) {
                    std::memcpy(cur + x, &same4, sizeof same4);
                    x += 4;
                }
                while (x <= last && cur[x] && up[x] == stretchLabel) cur[x++] = LabelPixel(stretchLabel);
                if (x > last || !cur[x]) break;
            }
            int32_t label = up[x];
            if (!label) {
                const int32_t upRight = up[x + 1], upLeft = up[x - 1], left = cur[x - 1];
                if (upRight && (upLeft || left)) {
                    label = mergeLabels(upRight, upLeft ? upLeft : left);
                } else if (upRight) {
                    label = upRight;
                } else if (upLeft) {
                    label = upLeft;
                } else if (left) {
                    label = left;
                } else {
                    if (rawCount == RAW_LABEL_CAPACITY) return -1;
                    label = ++rawCount;
                    labelTable[label - 1] = label;
                    rawLabelStats[label - 1] = RawLabelStats{0, 0, 0, x, x, y, y};
                }
            }
            if (label != stretchLabel) {
                if (stretchLabel) countStretch(stretchLabel, stretchStart, x - 1, y);
                stretchLabel = label;
                stretchStart = x;
            }
            cur[x] = LabelPixel(label);
        } while (++x <= last && cur[x]);
        countStretch(stretchLabel, stretchStart, x - 1, y);
        *lastDark = x - 1;
    }
}

// Fills columns from ... to-1 of a label image row with 0 (nothing when from >= to).
static void clearColumns(LabelPixel* row, int32_t from, int32_t to) {
    if (from < to) std::fill(row + from, row + to, LabelPixel(0));
}

// Clears what the spans of the image at spanWidth x spanHeight hold, and starts empty
// spans for width x height.
static void startSpans(int32_t width, int32_t height) {
    for (int32_t y = 0; y < spanHeight; ++y)
        clearColumns(labelImage + size_t(y) * spanWidth, labelledSpan[y].first, labelledSpan[y].last + 1);
    std::fill(labelledSpan, labelledSpan + height, ColumnSpan{width, -1});
    spanWidth = width;
    spanHeight = height;
}

// Makes row y of the label image equal to the labelled row, whose labels lie in columns
// first ... last (none when first > last).
static void storeRow(const LabelPixel* labelled, int32_t y, int32_t first, int32_t last) {
    LabelPixel* row = labelImage + size_t(y) * spanWidth;
    ColumnSpan& span = labelledSpan[y];
    if (first > last) {
        clearColumns(row, span.first, span.last + 1);
    } else {
        clearColumns(row, span.first, std::min(span.last + 1, first));
        clearColumns(row, std::max(span.first, last + 1), span.last + 1);
        std::memcpy(row + first, labelled + first, size_t(last - first + 1) * sizeof(LabelPixel));
    }
    span = ColumnSpan{first, last};
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
    // Dark means a sum of at most 3 x threshold, that is below this bound. The sums are
    // 0 ... 765, so clamping the threshold changes nothing but keeps 3 x threshold in range.
    threshold = std::max(-1, std::min(threshold, 255));
    const uint16_t bound = threshold < 0 ? 0 : uint16_t(3 * threshold + 1);

    if (width != spanWidth || height != spanHeight) startSpans(width, height);
    LabelPixel* up = rowBuffers[0];
    LabelPixel* cur = rowBuffers[1];
    std::fill(up, up + width, LabelPixel(0));  // the top row
    cur[0] = cur[width - 1] = 0;
    int32_t rawCount = 0;
    for (int32_t y = 1; y < height - 1; ++y) {
        int32_t first = width, last = -1;
        if (markDarkPixels(frame + size_t(y) * width * 4, width, threshold, bound, cur)) {
            rawCount = labelRow(cur, up, width, y, rawCount, &first, &last);
            if (rawCount < 0) return nullptr;
        }
        storeRow(cur, y, first, last);
        std::swap(up, cur);
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
