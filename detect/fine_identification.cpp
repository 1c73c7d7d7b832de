// The ordinary unwarp goes through the outline's corner pixels and reads the nearest pixel
// per sample. On a marker 12 pixels wide a corner pixel can be a pixel off, a twelfth of
// the side, and the middle half it compares is six pixels across: the picture it gives is
// shifted and coarse. Here the corners are the fitted sides' intersections and every
// sample is interpolated between the four pixels round it, so the picture keeps its true
// place and scale. It costs about as much per marker as the ordinary unwarp and match, so
// it is spent on the markers that need it: small ones, and those the first look left unsure.
#include "detect/fine_identification.h"

#include <cmath>

#include "camera/distortion.h"

namespace zelk {

constexpr int SAMPLES_PER_SIDE = 2;

// Adds the bilinear colour at (fx, fy), pixel centres at integer coordinates, to colour;
// pixels outside the frame count as 0. fx and fy lie in (-1, width) and (-1, height).
static void addBilinearSample(const FrameImage* frame, double fx, double fy, double colour[3]) {
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const double ax = fx - x0, ay = fy - y0;
    const double weights[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
    for (int k = 0; k < 4; ++k) {
        const int32_t x = int32_t(x0) + (k & 1), y = int32_t(y0) + (k >> 1);
        if (x < 0 || y < 0 || x >= frame->width || y >= frame->height) continue;
        const unsigned char* p = frame->pixels + size_t(y) * frame->stride + size_t(x) * 4;
        for (int b = 0; b < 3; ++b) colour[b] += weights[k] * p[b];
    }
}

void identifyThroughCorners(const PatternLibrary* library, const FrameImage* frame, const double corners[4][2],
                            const double distortion[4], int32_t* patternId, int32_t* direction, double* confidence) {
    *patternId = -1;
    *direction = -1;
    *confidence = 0.0;
    static const double plane[4][2] = {{100.0, 100.0}, {110.0, 100.0}, {110.0, 110.0}, {100.0, 110.0}};
    double observed[4][2];
    for (int i = 0; i < 4; ++i)
        if (idealToObserved(distortion, corners[i][0], corners[i][1], &observed[i][0], &observed[i][1]) < 0) return;
    double h[3][3];
    if (computePerspective(plane, observed, h) < 0) return;

    PatternImage image;
    constexpr int n = PATTERN_SIZE * SAMPLES_PER_SIDE;
    for (int row = 0; row < PATTERN_SIZE; ++row)
        for (int column = 0; column < PATTERN_SIZE; ++column) {
            double colour[3] = {0.0, 0.0, 0.0};
            for (int j = 0; j < SAMPLES_PER_SIDE; ++j)
                for (int i = 0; i < SAMPLES_PER_SIDE; ++i) {
                    // The middle half of the square, [102.5, 107.5] in plane units.
                    const double X = 102.5 + 5.0 * (column * SAMPLES_PER_SIDE + i + 0.5) / n;
                    const double Y = 102.5 + 5.0 * (row * SAMPLES_PER_SIDE + j + 0.5) / n;
                    const double d = h[2][0] * X + h[2][1] * Y + h[2][2];
                    const double fx = (h[0][0] * X + h[0][1] * Y + h[0][2]) / d;
                    const double fy = (h[1][0] * X + h[1][1] * Y + h[1][2]) / d;
                    // Also false for NaN, which a vanishing denominator gives.
                    if (fx > -1.0 && fx < frame->width && fy > -1.0 && fy < frame->height)
                        addBilinearSample(frame, fx, fy, colour);
                }
            for (int b = 0; b < 3; ++b)
                image.value[(row * PATTERN_SIZE + column) * 3 + b] =
                    static_cast<unsigned char>(colour[b] / (SAMPLES_PER_SIDE * SAMPLES_PER_SIDE) + 0.5);
        }
    if (matchPattern(library, &image, patternId, direction, confidence) < 0 || *patternId < 0) {
        *patternId = -1;  // a uniform picture, or no patterns
        *direction = -1;
        *confidence = 0.0;
    }
}

void identifyFinely(const PatternLibrary* library, const FrameImage* frame, const double distortion[4],
                    double confidenceFloor, MarkerList* markers) {
    for (int32_t m = 0; m < markers->count; ++m) {
        MarkerRecord& marker = markers->records[m];
        if (marker.pixelArea >= FINE_IDENTIFICATION_AREA && marker.confidence >= confidenceFloor) continue;
        identifyThroughCorners(library, frame, marker.corners, distortion, &marker.patternId, &marker.direction,
                               &marker.confidence);
    }
}

}  // namespace zelk
