// The automatic threshold follows the light across the frame: the mean level round a
// pixel, less a small offset, separates a black square from the paper it is printed on
// whether the room is dim, bright or both in one picture. The mean is taken over 48 x 48
// pixels (a tile and its neighbours) on every eighth row, which is enough for a mean and
// cheap beside the labelling's own read of the frame. Inside a black area wider than that,
// pixels are no darker than their mean and stay bright: the outline of a large marker is
// unchanged, it only encloses a hole. A frame of one level has nothing dark.
#include "detect/auto_threshold.h"

#include <algorithm>

#include "numeric/simd.h"

namespace zelk {

TileGrid thresholdTiles(int32_t width, int32_t height) {
    return TileGrid{(width - 2 + THRESHOLD_TILE - 1) / THRESHOLD_TILE,
                    (height - 2 + THRESHOLD_TILE - 1) / THRESHOLD_TILE};
}

// The colour sum of pixels x ... x+n-1 of a row.
static int32_t colourSum(const unsigned char* row, int32_t x, int32_t n) {
    int32_t sum = 0;
    for (int32_t k = 0; k < n; ++k) sum += row[4 * (x + k)] + row[4 * (x + k) + 1] + row[4 * (x + k) + 2];
    return sum;
}

// The columns of tile column c: 16, or fewer for the last.
static int32_t tileWidth(int32_t width, int32_t c) { return std::min(THRESHOLD_TILE, width - 2 - c * THRESHOLD_TILE); }

bool isSampledRow(int32_t y) { return (y - 1) % SAMPLED_ROW_STEP == 0; }

void addSampledRow(const FrameImage* frame, int32_t y, ThresholdTiles* tiles) {
    const TileGrid grid = thresholdTiles(frame->width, frame->height);
    uint16_t* sums = tiles->mean + (y - 1) / THRESHOLD_TILE * grid.columns;
    const unsigned char* row = frame->pixels + size_t(y) * frame->stride;
    int32_t c = 0;
#if ZELK_SSE2
    // A full tile's sixteen pixels in four loads, their fourth bytes masked off, summed by
    // the sum of absolute differences from 0 into two halves.
    const int32_t full = (frame->width - 2) / THRESHOLD_TILE;
    const __m128i colours = _mm_set1_epi32(0x00FFFFFF), zero = _mm_setzero_si128();
    for (; c < full; ++c) {
        const __m128i* p = reinterpret_cast<const __m128i*>(row + 4 * (1 + c * THRESHOLD_TILE));
        const __m128i total =
            _mm_add_epi32(_mm_add_epi32(_mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(p), colours), zero),
                                        _mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(p + 1), colours), zero)),
                          _mm_add_epi32(_mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(p + 2), colours), zero),
                                        _mm_sad_epu8(_mm_and_si128(_mm_loadu_si128(p + 3), colours), zero)));
        sums[c] = uint16_t(sums[c] + _mm_cvtsi128_si32(total) + _mm_cvtsi128_si32(_mm_srli_si128(total, 8)));
    }
#endif
    for (; c < grid.columns; ++c)
        sums[c] = uint16_t(sums[c] + colourSum(row, 1 + c * THRESHOLD_TILE, tileWidth(frame->width, c)));
}

void finishTileRow(const FrameImage* frame, int32_t r, ThresholdTiles* tiles) {
    const TileGrid grid = thresholdTiles(frame->width, frame->height);
    const int32_t rows =
        (std::min(THRESHOLD_TILE, frame->height - 2 - r * THRESHOLD_TILE) + SAMPLED_ROW_STEP - 1) / SAMPLED_ROW_STEP;
    uint16_t* mean = tiles->mean + r * grid.columns;
    // A full tile has one or two sampled rows of sixteen: its count is a power of two.
    const int32_t full = (frame->width - 2) / THRESHOLD_TILE, shift = rows == 1 ? 4 : 5;
    static_assert(THRESHOLD_TILE == 16 && SAMPLED_ROW_STEP == 8, "full tiles of 16 or 32 samples");
    int32_t c = 0;
    for (; c < full; ++c) mean[c] = uint16_t(mean[c] >> shift);
    for (; c < grid.columns; ++c) mean[c] = uint16_t(mean[c] / (rows * tileWidth(frame->width, c)));
}

void measureTileRow(const FrameImage* frame, int32_t r, ThresholdTiles* tiles) {
    const TileGrid grid = thresholdTiles(frame->width, frame->height);
    std::fill(tiles->mean + r * grid.columns, tiles->mean + (r + 1) * grid.columns, 0);
    const int32_t first = 1 + r * THRESHOLD_TILE, end = std::min(first + THRESHOLD_TILE, frame->height - 1);
    for (int32_t y = first; y < end; y += SAMPLED_ROW_STEP) addSampledRow(frame, y, tiles);
    finishTileRow(frame, r, tiles);
}

void boundTileRow(TileGrid grid, int32_t r, ThresholdTiles* tiles) {
    // Sums of three tile rows per column (fewer at the frame's edges), then of three columns.
    // A mean is at most 765, so even nine of them sum below 2^16.
    const int32_t top = std::max(r - 1, 0), rows = std::min(r + 1, grid.rows - 1) - top + 1;
    uint16_t* columnSum = tiles->columnSum;
    const uint16_t* mean = tiles->mean + top * grid.columns;
    for (int32_t c = 0; c < grid.columns; ++c)
        columnSum[c] =
            uint16_t(mean[c] + (rows > 1 ? mean[grid.columns + c] : 0) + (rows > 2 ? mean[2 * grid.columns + c] : 0));
    uint16_t* bound = tiles->bound + r * grid.columns;
    auto boundAt = [&](int32_t c) {
        const bool left = c > 0, right = c + 1 < grid.columns;
        const int32_t sum = columnSum[c] + (left ? columnSum[c - 1] : 0) + (right ? columnSum[c + 1] : 0);
        bound[c] = uint16_t(std::max(sum / (rows * (1 + left + right)) - AUTO_THRESHOLD_OFFSET, 0));
    };
    boundAt(0);
    int32_t c = 1;
#if ZELK_SSE2
    // Columns with both neighbours eight at a time: a sum below 2^16 divided by 3, 6 or 9
    // is the high half of its product with 2^16 / count rounded up, exactly at that size.
    const int32_t count = 3 * rows;
    const __m128i reciprocal = _mm_set1_epi16(int16_t(uint16_t((65536 + count - 1) / count)));
    const __m128i offset = _mm_set1_epi16(AUTO_THRESHOLD_OFFSET);
    for (; c + 9 <= grid.columns; c += 8) {
        const __m128i sum =
            _mm_add_epi16(_mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(columnSum + c - 1)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(columnSum + c))),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(columnSum + c + 1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bound + c),
                         _mm_subs_epu16(_mm_mulhi_epu16(sum, reciprocal), offset));
    }
#endif
    for (; c < grid.columns; ++c) boundAt(c);
}

void measureTileBounds(const FrameImage* frame, ThresholdTiles* tiles) {
    const TileGrid grid = thresholdTiles(frame->width, frame->height);
    for (int32_t r = 0; r < grid.rows; ++r) measureTileRow(frame, r, tiles);
    for (int32_t r = 0; r < grid.rows; ++r) boundTileRow(grid, r, tiles);
}

void rowBounds(const uint16_t* tileBound, TileGrid grid, int32_t y, uint16_t* columnBound) {
    // Tile row r's middle is at 16 r + 8.5, a block's at y0 + 1.5; positions count in half
    // rows (32 a tile) from the first tile row's middle.
    const int32_t y0 = y - (y - 1) % BOUND_ROWS;
    const int32_t position = std::max(2 * y0 + 3 - 17, 0);
    int32_t r = position / (2 * THRESHOLD_TILE), fraction = position % (2 * THRESHOLD_TILE);
    if (r >= grid.rows - 1) {
        r = grid.rows - 1;
        fraction = 0;
    }
    const uint16_t* upper = tileBound + r * grid.columns;
    const uint16_t* lower = fraction ? upper + grid.columns : upper;
    int32_t c = 0;
#if ZELK_SSE2
    // Eight columns at a time: a measured bound is at most 744 (any below 2048 would do), so
    // every product and sum fits 16 bits.
    const __m128i keep = _mm_set1_epi16(int16_t(32 - fraction)), take = _mm_set1_epi16(int16_t(fraction));
    for (; c + 8 <= grid.columns; c += 8) {
        const __m128i mixed =
            _mm_add_epi16(_mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + c)), keep),
                          _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + c)), take));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(columnBound + c),
                         _mm_srli_epi16(_mm_add_epi16(mixed, _mm_set1_epi16(16)), 5));
    }
#endif
    for (; c < grid.columns; ++c)
        columnBound[c] = uint16_t((upper[c] * (32 - fraction) + lower[c] * fraction + 16) >> 5);
}

}  // namespace zelk
