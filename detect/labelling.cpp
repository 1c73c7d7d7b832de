// One pass over the frame: threshold each row, then give every dark pixel a raw label
// from its already-visited neighbours (up, up-right, up-left, left, in that order of
// preference; joining two neighbours gives their joint representative). Connected raw
// labels are joined in a union-find table whose roots are always the smallest raw label
// of their set, so every representative is the one a table rewritten on each merge
// would hold; region numbers follow the raster order of the regions' first pixels.
// Only the regions' counts, sums and bounds are ever read, so a run of dark pixels, which
// lies in one region, is added whole to the record of one of its raw labels.
//
// Rows are marked and labelled in two row buffers that stay in the cache; the label image
// receives only the columns between a row's first and last dark pixel, and the columns it
// held labels in the frame before are cleared. A mostly bright frame is thus read once and
// hardly written, and the label image is still complete after every frame.
#include "detect/labelling.h"

#include <algorithm>
#include <cstring>

#include "numeric/simd.h"

namespace zelk {

// The words that hold a width's pixels 1 ... width-2.
static int32_t maskWords(int32_t width) { return (width - 2 + 63) / 64; }

bool labelImageFits(int32_t width, int32_t height) {
    return width >= 1 && height >= 1 && int64_t(width) * height <= LABEL_IMAGE_CAPACITY;
}

// Adds the marks of pixels x ... x+n-1 (bit k for pixel x + k, n <= 16) to a row mask.
static inline void addMarks(uint64_t* mask, int32_t x, uint32_t marks) {
    const int32_t i = x - 1, shift = i & 63;
    mask[i >> 6] |= uint64_t(marks) << shift;
    if (shift > 48) mask[(i >> 6) + 1] |= uint64_t(marks) >> (64 - shift);
}

// A dark pixel copies the label above it, a bright one gets 0. Pixels first ... end-1 of
// a frame row one at a time; whether any was dark.
static bool markRange(LabelBuffers& b, const unsigned char* row, int32_t first, int32_t end, uint16_t bound,
                      const LabelPixel* up, LabelPixel* cur) {
    bool any = false;
    for (int32_t x = first; x < end; ++x) {
        const unsigned char* p = row + 4 * x;
        const bool dark = p[0] + p[1] + p[2] < bound;
        cur[x] = dark ? up[x] : 0;
        addMarks(b.darkMask, x, dark);
        addMarks(b.unsetMask, x, dark && !up[x]);
        any |= dark;
    }
    return any;
}

#if ZELK_SSE2
// The marks of four pixels as 32-bit lanes: byte 0 and byte 2 are added in 16-bit halves,
// byte 1 joins the sum, and a sum below the bound gives all ones.
static inline __m128i darkLanes(const __m128i* p, __m128i bound) {
    const __m128i pixels = _mm_loadu_si128(p);
    const __m128i outer = _mm_madd_epi16(_mm_and_si128(pixels, _mm_set1_epi32(0x00FF00FF)), _mm_set1_epi32(0x00010001));
    const __m128i middle = _mm_and_si128(_mm_srli_epi32(pixels, 8), _mm_set1_epi32(0xFF));
    return _mm_cmpgt_epi32(bound, _mm_add_epi32(outer, middle));
}

// The bounds of sixteen pixels from x on: lanes[k] holds those of pixels x + 4k ... x + 4k + 3.
struct SixteenBounds {
    __m128i lanes[4];
};

// The same for the sixteen pixels from x on, with the dark ones returned as bits.
static inline uint32_t markSixteen(LabelBuffers& b, const unsigned char* row, int32_t x, const SixteenBounds& bound,
                                   const LabelPixel* up, LabelPixel* cur) {
    const __m128i* p = reinterpret_cast<const __m128i*>(row + 4 * x);
    const __m128i low = _mm_packs_epi32(darkLanes(p, bound.lanes[0]), darkLanes(p + 1, bound.lanes[1]));
    const __m128i high = _mm_packs_epi32(darkLanes(p + 2, bound.lanes[2]), darkLanes(p + 3, bound.lanes[3]));
    const __m128i upLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x));
    const __m128i upHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x + 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x), _mm_and_si128(low, upLow));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x + 8), _mm_and_si128(high, upHigh));
    const __m128i zero = _mm_setzero_si128();
    const __m128i unsetLow = _mm_and_si128(low, _mm_cmpeq_epi16(upLow, zero));
    const __m128i unsetHigh = _mm_and_si128(high, _mm_cmpeq_epi16(upHigh, zero));
    const uint32_t dark = uint32_t(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
    addMarks(b.darkMask, x, dark);
    addMarks(b.unsetMask, x, uint32_t(_mm_movemask_epi8(_mm_packs_epi16(unsetLow, unsetHigh))));
    return dark;
}

// Whether every colour byte (not the fourth) of the sixteen pixels from x on exceeds each
// byte of ceiling; never when ceiling is 255.
static inline bool sixteenAbove(const unsigned char* row, int32_t x, __m128i ceiling) {
    const __m128i* p = reinterpret_cast<const __m128i*>(row + 4 * x);
    const __m128i smallest = _mm_or_si128(_mm_min_epu8(_mm_min_epu8(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                                                       _mm_min_epu8(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3))),
                                          _mm_set1_epi32(int32_t(0xFF000000u)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(smallest, ceiling), ceiling)) == 0;
}

// Whether each of the sixteen pixels from x on sums to at least bound (equal lanes): the
// bytes' minima over the pixels 4 apart, summed per lane, are at most any pixel's sum.
// Unlike the test above this holds for coloured light too, whose bytes differ widely.
static inline bool sixteenSumAtLeast(const unsigned char* row, int32_t x, __m128i bound) {
    const __m128i* p = reinterpret_cast<const __m128i*>(row + 4 * x);
    const __m128i least = _mm_min_epu8(_mm_min_epu8(_mm_loadu_si128(p), _mm_loadu_si128(p + 1)),
                                       _mm_min_epu8(_mm_loadu_si128(p + 2), _mm_loadu_si128(p + 3)));
    return _mm_movemask_epi8(darkLanes(&least, bound)) == 0;
}

// A byte that every colour byte of sixteen pixels exceeds only if they all sum to at least
// bound: a third of it rounded up, less one; 255 (never) for a bound above 765.
static inline uint8_t byteCeiling(int32_t bound) { return uint8_t(std::min(std::max(bound - 1, 0) / 3, 255)); }

#endif

// The row masks' words w with first <= w < end, outside which a row's masks hold no mark.
struct MarkedWords {
    int32_t first, end;
};

// Thresholds pixels 1 ... width-2 of a frame row (threshold already clamped to -1 ... 255)
// into the row's masks, gives every dark pixel the label above it (0 where that is
// background) and tells which mask words hold marks (none when no pixel is dark), so that a
// row crossing a marker is finished over the marker's words alone. `cur` must hold 0 on
// entry: bright pixels may be left as they are. With SSE2, sixteen pixels at a time: a
// pixel whose three bytes all exceed the threshold sums to more than three times it, so
// sixteen pixels whose smallest colour byte does are bright without summing or writing
// them, a test that costs about what reading the bytes does. The row's last sixteen are
// done again from its end rather than one by one; doing a pixel twice changes nothing.
static MarkedWords markDarkPixels(LabelBuffers& b, const unsigned char* row, int32_t width, int threshold,
                                  uint16_t bound, const LabelPixel* up, LabelPixel* cur) {
#if ZELK_SSE2
    if (width >= 18) {
        const __m128i lanes = _mm_set1_epi32(bound);
        const SixteenBounds boundLanes = {{lanes, lanes, lanes, lanes}};
        const __m128i ceiling = _mm_set1_epi8(char(uint8_t(std::max(threshold, 0))));
        const bool screen = threshold < 255;
        int32_t firstMarked = width, lastMarked = 0;  // the first and last pixel of the groups with marks
        for (int32_t x = 1;; x += 16) {
            if (x > width - 17) x = width - 17;
            if ((!screen || !sixteenAbove(row, x, ceiling)) && markSixteen(b, row, x, boundLanes, up, cur)) {
                firstMarked = std::min(firstMarked, x);
                lastMarked = x + 15;
            }
            if (x == width - 17) break;
        }
        return firstMarked > lastMarked ? MarkedWords{0, 0}
                                        : MarkedWords{(firstMarked - 1) >> 6, ((lastMarked - 1) >> 6) + 1};
    }
#else
    (void)threshold;
#endif
    return MarkedWords{0, markRange(b, row, 1, width - 1, bound, up, cur) ? maskWords(width) : 0};
}

// The same with a bound per tile column of the automatic threshold (tile column c holds
// pixels 1 + 16c ... 16 + 16c), sixteen pixels at a time where SSE2 is available and the
// row is wide enough, else one at a time. Each group of sixteen, one cache line of the frame,
// asks for the group below it in the frame row `soon` (none when null): the tiles' reads
// ahead break the run of rows the processor would fetch by itself, and the labelling would
// then wait on each row it reaches.
static bool markDarkPixelsByColumn(LabelBuffers& b, const unsigned char* row, int32_t width, const LabelPixel* up,
                                   LabelPixel* cur, const unsigned char* soon) {
    const uint16_t* columnBound = b.columnBound;
    bool any = false;
#if ZELK_SSE2
    if (width >= 18) {
        const int32_t full = (width - 2) / THRESHOLD_TILE;  // columns of sixteen
        for (int32_t c = 0; c < full; ++c) {
            const int32_t x = 1 + c * THRESHOLD_TILE;
            if (soon) __builtin_prefetch(soon + 4 * x);
            if (sixteenAbove(row, x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.columnCeiling[c])))) continue;
            const __m128i lanes = _mm_set1_epi32(columnBound[c]);
            if (!sixteenSumAtLeast(row, x, lanes))
                any |= markSixteen(b, row, x, SixteenBounds{{lanes, lanes, lanes, lanes}}, up, cur) != 0;
        }
        if (full * THRESHOLD_TILE < width - 2) {
            // A narrower last column: its group is the row's last sixteen, which reach back
            // into the column before, with that column's bound.
            const int32_t x = width - 17;
            alignas(16) int32_t lane[16];
            for (int32_t k = 0; k < 16; ++k) lane[k] = columnBound[(x + k - 1) / THRESHOLD_TILE];
            SixteenBounds bounds;
            for (int k = 0; k < 4; ++k)
                bounds.lanes[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(lane + 4 * k));
            const int32_t largest = std::max(columnBound[full - 1], columnBound[full]);
            if (!sixteenAbove(row, x, _mm_set1_epi8(char(byteCeiling(largest)))) &&
                !sixteenSumAtLeast(row, x, _mm_set1_epi32(largest)))
                any |= markSixteen(b, row, x, bounds, up, cur) != 0;
        }
        return any;
    }
#else
    (void)soon;  // one pixel at a time waits on the sums, not on memory
#endif
    for (int32_t x = 1; x < width - 1; ++x)
        any |= markRange(b, row, x, x + 1, columnBound[(x - 1) / THRESHOLD_TILE], up, cur);
    return any;
}

#if ZELK_SSE2
// Stores each of the low eight bytes of v sixteen times over, into ceilings[0 ... 7].
static void spreadBytes(__m128i v, uint8_t (*ceilings)[16]) {
    const __m128i pairs = _mm_unpacklo_epi8(v, v);
    const __m128i fours[2] = {_mm_unpacklo_epi16(pairs, pairs), _mm_unpackhi_epi16(pairs, pairs)};
    for (int h = 0; h < 2; ++h) {
        const __m128i eights[2] = {_mm_unpacklo_epi32(fours[h], fours[h]), _mm_unpackhi_epi32(fours[h], fours[h])};
        for (int q = 0; q < 2; ++q) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(ceilings[4 * h + 2 * q]),
                             _mm_unpacklo_epi64(eights[q], eights[q]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(ceilings[4 * h + 2 * q + 1]),
                             _mm_unpackhi_epi64(eights[q], eights[q]));
        }
    }
}
#endif

// The bounds of the block of rows from y on, and with SSE2 their ceilings for the screening.
static void startBoundBlock(LabelBuffers& b, TileGrid grid, int32_t y) {
    rowBounds(b.tiles.bound, grid, y, b.columnBound);
#if ZELK_SSE2
    // Eight columns at a time in 16-bit lanes: a bound held to at most 766 (whose ceiling
    // is 255 too), less one, is divided by 3 as the high half of its product with 21846,
    // which is exact below 32768.
    int32_t c = 0;
    for (; c + 8 <= grid.columns; c += 8) {
        const __m128i bound = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.columnBound + c));
        const __m128i held = _mm_sub_epi16(bound, _mm_subs_epu16(bound, _mm_set1_epi16(766)));
        const __m128i third = _mm_mulhi_epu16(_mm_subs_epu16(held, _mm_set1_epi16(1)), _mm_set1_epi16(21846));
        spreadBytes(_mm_packus_epi16(third, third), b.columnCeiling + c);
    }
    for (; c < grid.columns; ++c) std::memset(b.columnCeiling[c], byteCeiling(b.columnBound[c]), 16);
#endif
}

// Before row y is labelled: makes row y's tile bounds ready. Frame rows are measured three
// tile rows ahead of the labelling, one sampled row each eight rows labelled, so that the
// reads of both go along together and a measured row is still cached when it is labelled.
static void measureAhead(const FrameImage* frame, TileGrid grid, int32_t y, ThresholdTiles* tiles) {
    const int32_t band = (y - 1) / THRESHOLD_TILE, ahead = band + 3;
    if ((y - 1) % THRESHOLD_TILE == 0) {
        // Bounds of the tile rows up to band + 1, whose smoothing reads means up to band + 2.
        if (band == 0)
            for (int32_t r = 0; r < std::min(3, grid.rows); ++r) measureTileRow(frame, r, tiles);
        else if (band + 2 < grid.rows)
            finishTileRow(frame, band + 2, tiles);
        for (int32_t r = band == 0 ? 0 : band + 1; r <= std::min(band + 1, grid.rows - 1); ++r)
            boundTileRow(grid, r, tiles);
        if (ahead < grid.rows)
            std::fill(tiles->mean + ahead * grid.columns, tiles->mean + (ahead + 1) * grid.columns, 0);
    }
    const int32_t sampled = y + 3 * THRESHOLD_TILE;
    if (ahead < grid.rows && sampled < frame->height - 1 && isSampledRow(sampled)) addSampledRow(frame, sampled, tiles);
    // The next sampled row is asked for an eighth at a time over the rows before it, so that
    // it has arrived when it is summed: read in one go it would wait on memory.
    const int32_t next = sampled + SAMPLED_ROW_STEP - (sampled - 1) % SAMPLED_ROW_STEP;
    if (next < frame->height - 1) {
        const unsigned char* row = frame->pixels + size_t(next) * frame->stride;
        const int32_t part = (frame->width * 4 + SAMPLED_ROW_STEP - 1) / SAMPLED_ROW_STEP;
        const int32_t start = (sampled - 1) % SAMPLED_ROW_STEP * part, end = std::min(start + part, frame->width * 4);
        for (int32_t byte = start; byte < end; byte += 64) __builtin_prefetch(row + byte);
    }
}

// The representative of raw label r: the root of its tree, with path halving.
static int32_t findRepresentative(int32_t* labelTable, int32_t r) {
    while (labelTable[r - 1] != r) {
        const int32_t parent = labelTable[r - 1];
        labelTable[r - 1] = labelTable[parent - 1];
        r = parent;
    }
    return r;
}

// Joins the sets of raw labels a and b; returns the joint representative (the smaller).
static int32_t mergeLabels(int32_t* labelTable, int32_t a, int32_t b) {
    a = findRepresentative(labelTable, a);
    b = findRepresentative(labelTable, b);
    if (a > b) std::swap(a, b);
    labelTable[b - 1] = a;
    return a;
}

// Adds pixels first ... last of row y, a run of one region, to the record s of a raw
// label of that region. Any raw label of the region will do: only the regions' sums
// and bounds are ever read.
static inline void countRun(RawLabelStats& s, int32_t first, int32_t last, int32_t y) {
    const int32_t n = last - first + 1;
    s.area += n;
    s.sumX += (int64_t(first) + last) * n / 2;
    s.sumY += int64_t(y) * n;
    s.xMin = std::min(s.xMin, first);
    s.xMax = std::max(s.xMax, last);
    s.yMax = y;
}

// The label of a dark pixel whose up neighbour is background, from its other three
// already-visited neighbours; 0 when it needs a new raw label.
static int32_t labelWithoutUp(int32_t* labelTable, int32_t upRight, int32_t upLeft, int32_t left) {
    if (upRight && (upLeft || left)) return mergeLabels(labelTable, upRight, upLeft ? upLeft : left);
    if (upRight) return upRight;
    if (upLeft) return upLeft;
    return left;
}

// The index of a word's lowest set bit (the word is not 0).
static int32_t lowestBit(uint64_t word) { return __builtin_ctzll(word); }

// Finishes row y, whose dark pixels already hold the label above them: labels the pixels
// below background from left to right, each seeing its left neighbour's final label, then
// counts the row's runs of dark pixels. Clears the row's masks. Returns the raw label
// count, or -1 when the table overflows. *firstDark and *lastDark receive the row's first
// and last dark column.
static int32_t labelRow(LabelBuffers& b, LabelPixel* cur, const LabelPixel* up, MarkedWords marked, int32_t y,
                        int32_t rawCount, int32_t* firstDark, int32_t* lastDark) {
    for (int32_t w = marked.first; w < marked.end; ++w) {
        for (uint64_t bits = b.unsetMask[w]; bits; bits &= bits - 1) {
            const int32_t x = 64 * w + lowestBit(bits) + 1;
            int32_t label = labelWithoutUp(b.labelTable, up[x + 1], up[x - 1], cur[x - 1]);
            if (!label) {
                if (rawCount == RAW_LABEL_CAPACITY) return -1;
                label = ++rawCount;
                b.labelTable[label - 1] = label;
                b.rawLabelStats[label - 1] = RawLabelStats{0, 0, 0, x, x, y, y};
            }
            cur[x] = LabelPixel(label);
        }
        b.unsetMask[w] = 0;
    }
    // A run starts at a dark pixel whose left neighbour is bright and ends at one whose
    // right neighbour is; one that reaches past a word is carried to the next.
    int32_t runStart = -1;
    uint64_t carry = 0;  // the previous word's last pixel
    for (int32_t w = marked.first; w < marked.end; ++w) {
        const uint64_t dark = b.darkMask[w];
        uint64_t starts = dark & ~((dark << 1) | carry);
        uint64_t ends = dark & ~((dark >> 1) | (b.darkMask[w + 1] << 63));
        carry = dark >> 63;
        b.darkMask[w] = 0;
        while (starts | ends) {
            if (runStart < 0) {
                runStart = 64 * w + lowestBit(starts) + 1;
                starts &= starts - 1;
            }
            if (!ends) break;
            const int32_t runEnd = 64 * w + lowestBit(ends) + 1;
            ends &= ends - 1;
            countRun(b.rawLabelStats[cur[runStart] - 1], runStart, runEnd, y);
            *firstDark = std::min(*firstDark, runStart);
            *lastDark = runEnd;
            runStart = -1;
        }
    }
    return rawCount;
}

// Fills columns from ... to-1 of a label image row with 0 (nothing when from >= to).
static void clearColumns(LabelPixel* row, int32_t from, int32_t to) {
    if (from < to) std::fill(row + from, row + to, LabelPixel(0));
}

// Clears what the spans of the image at spanWidth x spanHeight hold: the whole image is 0.
static void clearSpans(LabelBuffers& b) {
    for (int32_t y = 0; y < b.spanHeight; ++y)
        clearColumns(b.image + size_t(y) * b.spanWidth, b.labelledSpan[y].first, b.labelledSpan[y].last + 1);
    b.spanWidth = b.spanHeight = 0;
}

// Clears the spans and starts empty ones for width x height (a width of at most WIDEST_ROW).
static void startSpans(LabelBuffers& b, int32_t width, int32_t height) {
    clearSpans(b);
    std::fill(b.labelledSpan, b.labelledSpan + height, ColumnSpan{width, -1});
    b.spanWidth = width;
    b.spanHeight = height;
}

// Makes row y of the label image equal to the labelled row, whose labels lie in columns
// first ... last (none when first > last).
static void storeRow(LabelBuffers& b, const LabelPixel* labelled, int32_t y, int32_t first, int32_t last) {
    LabelPixel* row = b.image + size_t(y) * b.spanWidth;
    ColumnSpan& span = b.labelledSpan[y];
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
static int32_t gatherRegions(LabelBuffers& b, int32_t rawCount, int32_t width, int32_t height) {
    int32_t* labelTable = b.labelTable;
    int32_t next = 1;
    for (int32_t r = 1; r <= rawCount; ++r) {
        // A parent is smaller than its child, so its entry already holds the final number.
        labelTable[r - 1] = labelTable[r - 1] == r ? next++ : labelTable[labelTable[r - 1] - 1];
    }
    const int32_t count = next - 1;
    for (int32_t k = 0; k < count; ++k) {
        b.regionArea[k] = 0;
        b.regionCentroid[k] = RegionCentroid{0.0, 0.0};
        b.regionBounds[k] = RegionBounds{width, 0, height, 0};
    }
    for (int32_t r = 0; r < rawCount; ++r) {
        const RawLabelStats& s = b.rawLabelStats[r];
        const int32_t k = labelTable[r] - 1;
        b.regionArea[k] += s.area;
        b.regionCentroid[k].x += double(s.sumX);
        b.regionCentroid[k].y += double(s.sumY);
        RegionBounds& bounds = b.regionBounds[k];
        bounds.xMin = std::min(bounds.xMin, s.xMin);
        bounds.xMax = std::max(bounds.xMax, s.xMax);
        bounds.yMin = std::min(bounds.yMin, s.yMin);
        bounds.yMax = std::max(bounds.yMax, s.yMax);
    }
    for (int32_t k = 0; k < count; ++k) {
        b.regionCentroid[k].x /= b.regionArea[k];
        b.regionCentroid[k].y /= b.regionArea[k];
    }
    return count;
}

// Labels with the fixed threshold, or with the tile bounds in b.tiles when local; with
// measure too, the bounds are first measured from this frame as the rows are labelled.
static Labelling labelWith(LabelBuffers* buffers, const FrameImage* frame, int threshold, bool local, bool measure) {
    LabelBuffers& b = *buffers;
    Labelling result = {nullptr, 0, 0, 0, b.regionArea, b.regionCentroid, b.regionBounds, b.labelTable};
    if (!frame || !frame->pixels || !labelImageFits(frame->width, frame->height) ||
        frame->stride < int64_t(frame->width) * 4)
        return result;
    const int32_t width = frame->width, height = frame->height;
    result.width = width;
    result.height = height;
    if (width < 3 || height < 3) {  // nothing inside the border ring: an all-zero image
        clearSpans(b);
        result.image = b.image;
        return result;
    }
    // Dark means a sum of at most 3 x threshold, that is below this bound. The sums are
    // 0 ... 765, so clamping the threshold changes nothing but keeps 3 x threshold in range.
    threshold = std::max(-1, std::min(threshold, 255));
    const uint16_t bound = threshold < 0 ? 0 : uint16_t(3 * threshold + 1);

    if (width != b.spanWidth || height != b.spanHeight) startSpans(b, width, height);
    LabelPixel* up = b.rowBuffers[0];
    LabelPixel* cur = b.rowBuffers[1];
    std::fill(up, up + width, LabelPixel(0));  // the top row
    std::fill(cur, cur + width, LabelPixel(0));
    std::fill(b.darkMask, b.darkMask + maskWords(width) + 1, 0);  // a failed frame leaves bits
    std::fill(b.unsetMask, b.unsetMask + maskWords(width) + 1, 0);
    int32_t rawCount = 0;
    const TileGrid grid = thresholdTiles(width, height);
    for (int32_t y = 1; y < height - 1; ++y) {
        int32_t first = width, last = -1;
        if (y > 2) clearColumns(cur, b.labelledSpan[y - 2].first, b.labelledSpan[y - 2].last + 1);  // row y-2's labels
        const unsigned char* row = frame->pixels + size_t(y) * frame->stride;
        if (measure) measureAhead(frame, grid, y, &b.tiles);
        const unsigned char* soon = measure && y + 2 < height - 1 ? row + 2 * frame->stride : nullptr;
        if (local && (y - 1) % BOUND_ROWS == 0) startBoundBlock(b, grid, y);
        const MarkedWords marked =
            local ? MarkedWords{0, markDarkPixelsByColumn(b, row, width, up, cur, soon) ? maskWords(width) : 0}
                  : markDarkPixels(b, row, width, threshold, bound, up, cur);
        if (marked.first < marked.end) {
            rawCount = labelRow(b, cur, up, marked, y, rawCount, &first, &last);
            if (rawCount < 0) return result;
        }
        storeRow(b, cur, y, first, last);
        std::swap(up, cur);
    }

    result.image = b.image;
    result.regionCount = gatherRegions(b, rawCount, width, height);
    return result;
}

Labelling labelFrame(LabelBuffers* buffers, const FrameImage* frame, int threshold) {
    return labelWith(buffers, frame, threshold, false, false);
}

Labelling labelFrameLocally(LabelBuffers* buffers, const FrameImage* frame, bool measure) {
    return labelWith(buffers, frame, 0, true, measure);
}

}  // namespace zelk
