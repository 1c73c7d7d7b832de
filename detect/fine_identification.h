// Identification of small and unsure squares through their fitted corners.
#pragma once
#include <cstdint>

#include "detect/marker_record.h"
#include "detect/pattern_library.h"

namespace zelk {

// Markers smaller than this many pixels are identified through their corners.
constexpr int32_t FINE_IDENTIFICATION_AREA = 1024;
// The automatic mode keeps an identity only this sure or surer. On the real photos every
// right identity came at 0.63 or more, and a tag behind a lamp's glare was read as another
// at 0.59: the fixed mode's floor of 0.5 suits clear prints, not real light.
constexpr double FINE_CONFIDENCE_FLOOR = 0.6;

// The inside's picture through the transform h from plane units (the square is 100 ... 110)
// to observed pixels: each pattern pixel the mean of 2 x 2 bilinear samples, pixels outside
// the frame counting as 0.
void sampleFinely(const FrameImage* frame, const double h[3][3], PatternImage* image);
// Unwarps the inside through corners (ideal coordinates, taken to the picture with the
// distortion factors) with bilinear samples, 2 x 2 per pattern pixel, and matches it.
// Writes all outputs; no match (-1, -1, 0.0) when the corners admit no transform, the
// picture is uniform or no pattern is loaded.
void identifyThroughCorners(const PatternLibrary* library, const FrameImage* frame, const double corners[4][2],
                            const double distortion[4], int32_t* patternId, int32_t* direction, double* confidence);
// Identifies again, through their corners, the markers smaller than FINE_IDENTIFICATION_AREA
// or less sure than confidenceFloor, and keeps that identity, or no pattern (-1) where it is
// still less sure than confidenceFloor.
void identifyFinely(const PatternLibrary* library, const FrameImage* frame, const double distortion[4],
                    double confidenceFloor, MarkerList* markers);

}  // namespace zelk
