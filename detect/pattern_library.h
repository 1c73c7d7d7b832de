// The pattern library and the identification of a square candidate's inside.
//
// Pattern files are text: 3,072 decimal integers, orientation block 0..3, then plane
// 0..2 (frame byte order), then row 0..15, then column 0..15. A number that does not
// fit a 32-bit int counts as a read error. Templates are kept mean-removed and
// inverted, their sums formed in 64 bits and their correlations as exact integers held in
// doubles, so that no accepted value can overflow; for ordinary 0..255 files every
// result is the one 32-bit integer arithmetic gives.
//
// When the inside cannot be unwarped (a projective denominator of exactly 0, or the
// four corners admit no projective transform), identification reports no match:
// id -1, direction -1, confidence 0.0. An unwritten pattern image is never read.
#pragma once
#include <cstdint>

#include "detect/marker_record.h"

namespace zelk {

constexpr int PATTERN_SLOTS = 50;
constexpr int PATTERN_SIZE = 16;
constexpr int PATTERN_VALUES = PATTERN_SIZE * PATTERN_SIZE * 3;

// 16 x 16 pixels x 3 bytes, row-major; byte k of a pixel is frame byte k.
struct PatternImage {
    unsigned char value[PATTERN_VALUES];
};

constexpr int PATTERN_ORIENTATIONS = 4;

// The registered patterns. Per slot and orientation: 255 - value, minus its block mean, at
// (row x 16 + column) x 3 + plane. The values are integers below 2^32 in magnitude, held
// exactly in doubles: a correlation with an image (terms below 2^8) sums 768 integer terms
// below 2^40, so every partial sum is an exact integer, in any order of summation.
// The same values are kept in 16 bits for the blocks whose values all lie within
// SMALL_TEMPLATE_LIMIT (every block of a file of 0..255 values): their correlations are
// summed in 32-bit integers. Other blocks hold zeros there. About 1.5 MB; a zeroed
// library (value-initialised) is empty.
struct PatternLibrary {
    bool slotInUse[PATTERN_SLOTS];
    double templates[PATTERN_SLOTS][PATTERN_ORIENTATIONS][PATTERN_VALUES];
    double templateNorms[PATTERN_SLOTS][PATTERN_ORIENTATIONS];
    alignas(16) int16_t smallTemplates[PATTERN_SLOTS][PATTERN_ORIENTATIONS][PATTERN_VALUES];
    bool templateIsSmall[PATTERN_SLOTS][PATTERN_ORIENTATIONS];
};

// Loads a pattern file into the lowest free slot. Returns the slot id 0..49, or -1.
int loadPattern(PatternLibrary* library, const char* path);
// Frees a slot. Returns 1, or -1 when the id is not a slot in use.
int freePattern(PatternLibrary* library, int id);
// Unwarps the candidate's inside and matches it. Always returns 0 and writes all outputs.
int identifyCandidate(const PatternLibrary* library, const FrameImage* frame, const int32_t* contourX,
                      const int32_t* contourY, const int32_t vertexIndex[5], int32_t* patternId, int32_t* direction,
                      double* confidence);
// Samples the inside through the raw corner points into image. 0, or -1 (image unwritten).
int extractPatternImage(const FrameImage* frame, const int32_t* contourX, const int32_t* contourY,
                        const int32_t vertexIndex[5], PatternImage* image);
// Samples the inside through transform h at nx x ny points (16, 32 or 64 each) into image.
// 0, or -1 (image unwritten) for other counts or when a sample's denominator is 0.
int samplePatternImage(const FrameImage* frame, const double h[3][3], int nx, int ny, PatternImage* image);
// Projective transform (h22 = 1) taking the 4 plane points onto the 4 image points. 0 or -1.
int computePerspective(const double plane[4][2], const double image[4][2], double h[3][3]);
// Best correlation over the slots in use and their orientations. 0, or -1 for a uniform image.
int matchPattern(const PatternLibrary* library, const PatternImage* image, int32_t* patternId, int32_t* direction,
                 double* confidence);

}  // namespace zelk
