// The ordinary unwarp goes through the outline's corner pixels and reads the nearest pixel
// per sample. On a marker 12 pixels wide a corner pixel can be a pixel off, a twelfth of
// the side, and the middle half it compares is six pixels across: the picture it gives is
// shifted and coarse. Here the corners are the fitted sides' intersections and every
// sample is interpolated between the four pixels round it, so the picture keeps its true
// place and scale. It costs about as much per marker as the ordinary unwarp and match, so
// it is spent on the markers that need it: small ones, and those the first look left unsure.
#include "detect/fine_identification.h"

#include <cstddef>

#include "camera/distortion.h"
#include "numeric/simd.h"

namespace zelk {

constexpr int SAMPLES_PER_SIDE = 2;
// A sample's place is kept to 1/128 of a pixel on each axis, far finer than the pattern
// pixels it feeds: its four weights then sum to 2^14, a pattern pixel's four samples to 2^16,
// and every sum stays an exact integer, whichever path forms it.
constexpr int32_t PLACE_STEPS = 128;
constexpr int32_t PIXEL_WEIGHT_SHIFT = 16;

// The weighted colour sums of a pattern pixel: blue, green, red and an unused fourth.
struct ColourSum {
    alignas(16) int32_t value[4];
};

// Adds the sample whose pixels are (left, top) ... (left+1, top+1), weighted by its place's
// fractions fx and fy (in 1/PLACE_STEPS), to sum; pixels outside the frame add nothing.
static void addSample(const FrameImage* frame, int32_t left, int32_t top, int32_t fx, int32_t fy, ColourSum* sum) {
    const int32_t weights[4] = {(PLACE_STEPS - fx) * (PLACE_STEPS - fy), fx * (PLACE_STEPS - fy),
                                (PLACE_STEPS - fx) * fy, fx * fy};
#if ZELK_SSE2
    if (left >= 0 && top >= 0 && left + 1 < frame->width && top + 1 < frame->height) {
        // Each row's two pixels with their bytes paired, b0 b1 g0 g1 r0 r1 as 16 bits, so
        // that one multiply-add weighs both.
        const unsigned char* p = frame->pixels + size_t(top) * frame->stride + size_t(left) * 4;
        const __m128i zero = _mm_setzero_si128();
        auto paired = [&](const unsigned char* q) {
            const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q));
            return _mm_unpacklo_epi8(_mm_unpacklo_epi8(two, _mm_srli_si128(two, 4)), zero);
        };
        const __m128i upper = _mm_madd_epi16(paired(p), _mm_set1_epi32(weights[0] | weights[1] << 16));
        const __m128i lower = _mm_madd_epi16(paired(p + frame->stride), _mm_set1_epi32(weights[2] | weights[3] << 16));
        __m128i* total = reinterpret_cast<__m128i*>(sum->value);
        _mm_store_si128(total, _mm_add_epi32(_mm_load_si128(total), _mm_add_epi32(upper, lower)));
        return;
    }
#endif
    for (int k = 0; k < 4; ++k) {
        const int32_t x = left + (k & 1), y = top + (k >> 1);
        if (x < 0 || y < 0 || x >= frame->width || y >= frame->height) continue;
        const unsigned char* pixel = frame->pixels + size_t(y) * frame->stride + size_t(x) * 4;
        for (int b = 0; b < 3; ++b) sum->value[b] += weights[k] * pixel[b];
    }
}

// The sample at (x, y), pixel centres at integer coordinates, added to sum; nothing when it
// lies outside (-1, width) x (-1, height) (also for NaN, which a vanishing denominator gives).
static void addSampleAt(const FrameImage* frame, double x, double y, ColourSum* sum) {
    if (!(x > -1.0 && x < frame->width && y > -1.0 && y < frame->height)) return;
    // The floors: truncation, less one in (-1, 0), which it rounds up.
    const int32_t left = int32_t(x) - (x < 0.0), top = int32_t(y) - (y < 0.0);
    addSample(frame, left, top, int32_t((x - left) * PLACE_STEPS + 0.5), int32_t((y - top) * PLACE_STEPS + 0.5), sum);
}

void sampleFinely(const FrameImage* frame, const double h[3][3], PatternImage* image) {
    // The middle half of the square, [102.5, 107.5] in plane units. The products with a
    // sample's X belong to its column and those with Y to its row: formed once each, they
    // still add as h00 X + h01 Y + h02 does.
    constexpr int n = PATTERN_SIZE * SAMPLES_PER_SIDE;
    alignas(16) double columnX[n], columnY[n], columnD[n];
    for (int i = 0; i < n; ++i) {
        const double X = 102.5 + 5.0 * (i + 0.5) / n;
        columnX[i] = h[0][0] * X;
        columnY[i] = h[1][0] * X;
        columnD[i] = h[2][0] * X;
    }
    ColourSum sums[PATTERN_SIZE] = {};
    for (int j = 0; j < n; ++j) {
        const double Y = 102.5 + 5.0 * (j + 0.5) / n;
        const double rowX = h[0][1] * Y, rowY = h[1][1] * Y, rowD = h[2][1] * Y;
        // The places of a row's samples, with one division each, two at a time with SSE2
        // (packed doubles round each operation as scalar ones do).
        alignas(16) double x[n], y[n];
        int i = 0;
#if ZELK_SSE2
        const __m128d rX = _mm_set1_pd(rowX), rY = _mm_set1_pd(rowY), rD = _mm_set1_pd(rowD);
        const __m128d h02 = _mm_set1_pd(h[0][2]), h12 = _mm_set1_pd(h[1][2]), h22 = _mm_set1_pd(h[2][2]);
        for (; i < n; i += 2) {
            const __m128d r = _mm_div_pd(_mm_set1_pd(1.0), _mm_add_pd(_mm_add_pd(_mm_load_pd(columnD + i), rD), h22));
            _mm_store_pd(x + i, _mm_mul_pd(_mm_add_pd(_mm_add_pd(_mm_load_pd(columnX + i), rX), h02), r));
            _mm_store_pd(y + i, _mm_mul_pd(_mm_add_pd(_mm_add_pd(_mm_load_pd(columnY + i), rY), h12), r));
        }
#endif
        for (; i < n; ++i) {
            const double r = 1.0 / (columnD[i] + rowD + h[2][2]);
            x[i] = (columnX[i] + rowX + h[0][2]) * r;
            y[i] = (columnY[i] + rowY + h[1][2]) * r;
        }
        for (i = 0; i < n; ++i) addSampleAt(frame, x[i], y[i], &sums[i / SAMPLES_PER_SIDE]);
        if (j % SAMPLES_PER_SIDE < SAMPLES_PER_SIDE - 1) continue;
        unsigned char* row = image->value + j / SAMPLES_PER_SIDE * PATTERN_SIZE * 3;
        for (int column = 0; column < PATTERN_SIZE; ++column) {
            for (int b = 0; b < 3; ++b)
                row[column * 3 + b] = static_cast<unsigned char>(
                    (sums[column].value[b] + (1 << (PIXEL_WEIGHT_SHIFT - 1))) >> PIXEL_WEIGHT_SHIFT);
            sums[column] = ColourSum{};
        }
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
    sampleFinely(frame, h, &image);
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
        if (marker.confidence < confidenceFloor) marker.patternId = -1;
    }
}

}  // namespace zelk
