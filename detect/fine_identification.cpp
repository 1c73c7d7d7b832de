// The ordinary unwarp goes through the outline's corner pixels and reads the nearest pixel
// per sample. On a marker 12 pixels wide a corner pixel can be a pixel off, a twelfth of
// the side, and the middle half it compares is six pixels across: the picture it gives is
// shifted and coarse. Here the corners are the fitted sides' intersections and every
// sample is interpolated between the four pixels round it, so the picture keeps its true
// place and scale. It costs about as much per marker as the ordinary unwarp and match, so
// it is spent on the markers that need it: small ones, and those the first look left unsure.
#include "detect/fine_identification.h"

#include <cstring>

#include "camera/distortion.h"
#include "numeric/simd.h"

namespace zelk {

constexpr int SAMPLES_PER_SIDE = 2;

namespace {

// What a sample outside the frame reads: with a finite weight it adds +0, as nothing.
const unsigned char BLANK_PIXEL[4] = {0, 0, 0, 0};

// A pattern pixel's colour summed over its weighted samples. Both forms do the same
// multiplications and additions in the same order; with SSE2 blue and green share a register.
#if ZELK_SSE2
struct ColourSum {
    __m128d blueGreen = _mm_setzero_pd(), red = _mm_setzero_pd();
    void add(double weight, const unsigned char* p) {
        int32_t word;
        std::memcpy(&word, p, 4);
        const __m128i zero = _mm_setzero_si128();
        addWide(weight, _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero));
    }
    // Two neighbouring pixels from p on, read at once.
    void addPair(double first, double second, const unsigned char* p) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i words = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
        addWide(first, _mm_unpacklo_epi16(words, zero));
        addWide(second, _mm_unpackhi_epi16(words, zero));
    }
    // A pixel's bytes as 32-bit lanes.
    void addWide(double weight, __m128i wide) {
        const __m128d w = _mm_set1_pd(weight);
        blueGreen = _mm_add_pd(blueGreen, _mm_mul_pd(w, _mm_cvtepi32_pd(wide)));
        red = _mm_add_pd(red, _mm_mul_pd(w, _mm_cvtepi32_pd(_mm_srli_si128(wide, 8))));
    }
    void get(double colour[3]) const {
        _mm_storeu_pd(colour, blueGreen);
        colour[2] = _mm_cvtsd_f64(red);
    }
};
#else
struct ColourSum {
    double value[3] = {0.0, 0.0, 0.0};
    void add(double weight, const unsigned char* p) {
        for (int b = 0; b < 3; ++b) value[b] += weight * p[b];
    }
    void addPair(double first, double second, const unsigned char* p) {
        add(first, p);
        add(second, p + 4);
    }
    void get(double colour[3]) const {
        for (int b = 0; b < 3; ++b) colour[b] = value[b];
    }
};
#endif

}  // namespace

// Adds a bilinear sample whose four pixels, from (left, top) on, all lie in the frame.
static void addInnerSample(const FrameImage* frame, int32_t left, int32_t top, const double weights[4],
                           ColourSum* sum) {
    const unsigned char* p = frame->pixels + size_t(top) * frame->stride + size_t(left) * 4;
    sum->addPair(weights[0], weights[1], p);
    sum->addPair(weights[2], weights[3], p + frame->stride);
}

// Adds the bilinear colour at (fx, fy), pixel centres at integer coordinates, to sum;
// pixels outside the frame count as 0. fx and fy lie in (-1, width) and (-1, height).
static void addBilinearSample(const FrameImage* frame, double fx, double fy, ColourSum* sum) {
    // The floors: truncation, less one in (-1, 0), which it rounds up.
    const int32_t left = int32_t(fx) - (fx < 0.0), top = int32_t(fy) - (fy < 0.0);
    const double ax = fx - left, ay = fy - top;
    const double weights[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
    // fx and fy lie in (-1, size): only the left column or top row can fall short, and only
    // the right or bottom one pass the edge.
    const bool column[2] = {left >= 0, left + 1 < frame->width}, row[2] = {top >= 0, top + 1 < frame->height};
    if (column[0] && column[1] && row[0] && row[1]) return addInnerSample(frame, left, top, weights, sum);
    for (int k = 0; k < 4; ++k) {
        const int32_t x = left + (k & 1), y = top + (k >> 1);
        sum->add(weights[k], column[k & 1] && row[k >> 1] ? frame->pixels + size_t(y) * frame->stride + size_t(x) * 4
                                                          : BLANK_PIXEL);
    }
}

#if ZELK_SSE2
// The samples at lanes 0 and 1 of (fx, fy), added to sum one after the other as
// addBilinearSample adds them, those outside (-1, width) x (-1, height) skipped. Their
// floors and weights are formed two at a time: packed doubles round each operation as
// scalar ones do.
static void addSamplePair(const FrameImage* frame, __m128d fx, __m128d fy, ColourSum* sum) {
    const __m128d low = _mm_set1_pd(-1.0), zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    const __m128d right = _mm_set1_pd(frame->width), bottom = _mm_set1_pd(frame->height);
    // Also false for NaN, which a vanishing denominator gives.
    const int inside = _mm_movemask_pd(_mm_and_pd(_mm_and_pd(_mm_cmpgt_pd(fx, low), _mm_cmplt_pd(fx, right)),
                                                  _mm_and_pd(_mm_cmpgt_pd(fy, low), _mm_cmplt_pd(fy, bottom))));
    if (!inside) return;
    // The floors: truncation, less one where it rounded up.
    __m128d x0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(fx)), y0 = _mm_cvtepi32_pd(_mm_cvttpd_epi32(fy));
    x0 = _mm_sub_pd(x0, _mm_and_pd(_mm_cmpgt_pd(x0, fx), one));
    y0 = _mm_sub_pd(y0, _mm_and_pd(_mm_cmpgt_pd(y0, fy), one));
    const __m128d ax = _mm_sub_pd(fx, x0), ay = _mm_sub_pd(fy, y0);
    const __m128d bx = _mm_sub_pd(one, ax), by = _mm_sub_pd(one, ay);
    const __m128d w0 = _mm_mul_pd(bx, by), w1 = _mm_mul_pd(ax, by), w2 = _mm_mul_pd(bx, ay), w3 = _mm_mul_pd(ax, ay);
    alignas(16) double weights[2][4];
    _mm_store_pd(weights[0], _mm_unpacklo_pd(w0, w1));
    _mm_store_pd(weights[0] + 2, _mm_unpacklo_pd(w2, w3));
    _mm_store_pd(weights[1], _mm_unpackhi_pd(w0, w1));
    _mm_store_pd(weights[1] + 2, _mm_unpackhi_pd(w2, w3));
    const int inner = inside & _mm_movemask_pd(_mm_and_pd(
                                   _mm_and_pd(_mm_cmpge_pd(x0, zero), _mm_cmplt_pd(_mm_add_pd(x0, one), right)),
                                   _mm_and_pd(_mm_cmpge_pd(y0, zero), _mm_cmplt_pd(_mm_add_pd(y0, one), bottom))));
    alignas(16) int32_t left[4], top[4];
    alignas(16) double xs[2], ys[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(left), _mm_cvttpd_epi32(x0));
    _mm_store_si128(reinterpret_cast<__m128i*>(top), _mm_cvttpd_epi32(y0));
    _mm_store_pd(xs, fx);
    _mm_store_pd(ys, fy);
    for (int s = 0; s < 2; ++s) {
        if (inner >> s & 1)
            addInnerSample(frame, left[s], top[s], weights[s], sum);
        else if (inside >> s & 1)
            addBilinearSample(frame, xs[s], ys[s], sum);
    }
}
#endif

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
    ColourSum sums[PATTERN_SIZE];
    for (int j = 0; j < n; ++j) {
        const double Y = 102.5 + 5.0 * (j + 0.5) / n;
        const double rowX = h[0][1] * Y, rowY = h[1][1] * Y, rowD = h[2][1] * Y;
#if ZELK_SSE2
        // The two samples of a pattern pixel's row at once.
        static_assert(SAMPLES_PER_SIDE == 2, "a pattern pixel's samples in one register");
        const __m128d rX = _mm_set1_pd(rowX), rY = _mm_set1_pd(rowY), rD = _mm_set1_pd(rowD);
        const __m128d h02 = _mm_set1_pd(h[0][2]), h12 = _mm_set1_pd(h[1][2]), h22 = _mm_set1_pd(h[2][2]);
        for (int i = 0; i < n; i += 2) {
            const __m128d d = _mm_add_pd(_mm_add_pd(_mm_load_pd(columnD + i), rD), h22);
            addSamplePair(frame, _mm_div_pd(_mm_add_pd(_mm_add_pd(_mm_load_pd(columnX + i), rX), h02), d),
                          _mm_div_pd(_mm_add_pd(_mm_add_pd(_mm_load_pd(columnY + i), rY), h12), d),
                          &sums[i / SAMPLES_PER_SIDE]);
        }
#else
        for (int i = 0; i < n; ++i) {
            const double d = columnD[i] + rowD + h[2][2];
            const double fx = (columnX[i] + rowX + h[0][2]) / d;
            const double fy = (columnY[i] + rowY + h[1][2]) / d;
            // Also false for NaN, which a vanishing denominator gives.
            if (fx > -1.0 && fx < frame->width && fy > -1.0 && fy < frame->height)
                addBilinearSample(frame, fx, fy, &sums[i / SAMPLES_PER_SIDE]);
        }
#endif
        if (j % SAMPLES_PER_SIDE < SAMPLES_PER_SIDE - 1) continue;
        unsigned char* row = image->value + j / SAMPLES_PER_SIDE * PATTERN_SIZE * 3;
        for (int column = 0; column < PATTERN_SIZE; ++column) {
            double colour[3];
            sums[column].get(colour);
            for (int b = 0; b < 3; ++b)
                row[column * 3 + b] =
                    static_cast<unsigned char>(colour[b] / (SAMPLES_PER_SIDE * SAMPLES_PER_SIDE) + 0.5);
            sums[column] = ColourSum();
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
    }
}

}  // namespace zelk
