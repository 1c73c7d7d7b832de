// The automatic threshold: a dark bound per 16 x 16 tile from the frame's own light.
#pragma once
#include <cstdint>
#include "detect/marker_record.h"

namespace zelk {

// Tiles cover the pixels the labelling thresholds, 1 ... width-2 by 1 ... height-2, in
// squares of this side from (1, 1); the last column and row may be narrower.
constexpr int32_t THRESHOLD_TILE = 16;
// A pixel is dark when its three colour bytes sum to this much less than the mean round it.
constexpr int32_t AUTO_THRESHOLD_OFFSET = 21;
// The means are taken on every eighth frame row, from row 1 on.
constexpr int32_t SAMPLED_ROW_STEP = 8;
// The bounds of a row change every fourth row, from row 1 on.
constexpr int32_t BOUND_ROWS = 4;
// The most tiles, and tile columns, a labellable frame has (3 x 349,525 and 349,525 x 3).
constexpr int32_t TILE_CAPACITY = 21846;
constexpr int32_t TILE_COLUMN_CAPACITY = 21846;

struct TileGrid {
    int32_t columns, rows;
};

// The automatic threshold's working memory, tile by tile, row by row.
struct ThresholdTiles {
    uint16_t mean[TILE_CAPACITY];   // the tile's mean colour sum (its sum while being measured)
    uint16_t bound[TILE_CAPACITY];  // pixels summing below it are dark
    uint16_t columnSum[TILE_COLUMN_CAPACITY];
};

// A tile's sum, of its sampled rows' colour bytes, fits the 16 bits its mean is kept in.
static_assert((THRESHOLD_TILE + SAMPLED_ROW_STEP - 1) / SAMPLED_ROW_STEP * THRESHOLD_TILE * 765 < 65536,
              "a tile's sum fits 16 bits");

// The tiles of a labellable width x height (see labelImageFits).
TileGrid thresholdTiles(int32_t width, int32_t height);
// Measures a labellable frame's tiles: each bound is the mean colour sum over the tile and
// its eight neighbours (fewer at the frame's edges), less AUTO_THRESHOLD_OFFSET, never
// below 0.
void measureTileBounds(const FrameImage* frame, ThresholdTiles* tiles);
// The steps of that, for a labelling that measures as it goes: tile row r's means, all at
// once or sampled row by sampled row (from 0, then finished), and, once the means of rows
// r-1 ... r+1 are there, its bounds.
void measureTileRow(const FrameImage* frame, int32_t r, ThresholdTiles* tiles);
bool isSampledRow(int32_t y);
void addSampledRow(const FrameImage* frame, int32_t y, ThresholdTiles* tiles);
void finishTileRow(const FrameImage* frame, int32_t r, ThresholdTiles* tiles);
void boundTileRow(TileGrid grid, int32_t r, ThresholdTiles* tiles);
// The bound of each tile column at frame row y: the tile rows' bounds interpolated linearly
// between their middle rows, held beyond the first and last; every row of a block of
// BOUND_ROWS has the interpolation at the block's middle.
void rowBounds(const uint16_t* tileBound, TileGrid grid, int32_t y, uint16_t* columnBound);

}  // namespace zelk
