#include "detect/pattern_library.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "numeric/dense_matrix.h"
#include "numeric/simd.h"

namespace zelk {

static const double CONSTANT_TEMPLATE_NORM = 0.0000001;
// An image's values lie within 255 (a byte less a mean of bytes), so no sum of 768 products
// with 16-bit template values within this limit exceeds 768 x 255 x 8191 = 1,604,125,440
// < 2^31 in any order of summation, and the integer is the exact one the doubles hold.
static const int32_t SMALL_TEMPLATE_LIMIT = 8191;

// Reads the next whitespace-separated, optionally signed decimal integer, as the "%d"
// scan would, but refuses a value outside the int32 range instead of leaving it undefined.
static bool readPatternValue(FILE* file, int32_t* value) {
    int ch = getc(file);
    while (ch == ' ' || (ch >= '\t' && ch <= '\r')) ch = getc(file);
    const bool negative = ch == '-';
    if (ch == '-' || ch == '+') ch = getc(file);
    if (ch < '0' || ch > '9') return false;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t magnitude = 0;
    bool fits = true;
    for (; ch >= '0' && ch <= '9'; ch = getc(file)) {
        magnitude = magnitude * 10 + (ch - '0');
        if (magnitude > limit) {
            fits = false;
            magnitude = limit;  // keeps consuming the digits without growing
        }
    }
    if (ch != EOF) ungetc(ch, file);
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return fits;
}

// Reads one orientation block of the file into a template, and its 16-bit copy when it
// fits. false on a read error.
static bool readTemplate(FILE* file, double* values, double* norm, int16_t* smallValues, bool* isSmall) {
    int64_t inverted[PATTERN_VALUES];
    int64_t sum = 0;
    for (int plane = 0; plane < 3; plane++) {
        for (int pixel = 0; pixel < PATTERN_SIZE * PATTERN_SIZE; pixel++) {
            int32_t value;
            if (!readPatternValue(file, &value)) return false;
            inverted[pixel * 3 + plane] = 255 - static_cast<int64_t>(value);
            sum += inverted[pixel * 3 + plane];
        }
    }
    const int64_t mean = sum / PATTERN_VALUES;
    // Squares are summed in double: exact for 0..255 values, and no overflow for any int32.
    double squares = 0.0;
    *isSmall = true;
    for (int n = 0; n < PATTERN_VALUES; n++) {
        const int64_t value = inverted[n] - mean;
        values[n] = static_cast<double>(value);
        squares += values[n] * values[n];
        *isSmall = *isSmall && value >= -SMALL_TEMPLATE_LIMIT && value <= SMALL_TEMPLATE_LIMIT;
        smallValues[n] = static_cast<int16_t>(*isSmall ? value : 0);
    }
    if (!*isSmall) std::fill(smallValues, smallValues + PATTERN_VALUES, int16_t(0));
    *norm = std::sqrt(squares);
    if (*norm == 0.0) *norm = CONSTANT_TEMPLATE_NORM;  // a constant block never divides by zero
    return true;
}

int loadPattern(PatternLibrary* library, const char* path) {
    int slot = 0;
    while (slot < PATTERN_SLOTS && library->slotInUse[slot]) slot++;
    if (slot == PATTERN_SLOTS) return -1;

    FILE* file = std::fopen(path, "r");
    if (!file) {
        std::printf("\"%s\" not found!!\n", path);
        return -1;
    }
    for (int o = 0; o < PATTERN_ORIENTATIONS; o++) {
        if (!readTemplate(file, library->templates[slot][o], &library->templateNorms[slot][o],
                          library->smallTemplates[slot][o], &library->templateIsSmall[slot][o])) {
            std::printf("Pattern Data read error!!\n");
            std::fclose(file);
            return -1;
        }
    }
    std::fclose(file);
    library->slotInUse[slot] = true;
    return slot;
}

int freePattern(PatternLibrary* library, int id) {
    if (id < 0 || id >= PATTERN_SLOTS || !library->slotInUse[id]) return -1;
    library->slotInUse[id] = false;
    return 1;
}

int computePerspective(const double plane[4][2], const double image[4][2], double h[3][3]) {
    // The system's size is fixed and small: its matrices live on the stack.
    double aData[64], bData[8], solutionData[8];
    DenseMatrix a = {aData, 8, 8}, b = {bData, 8, 1}, solution = {solutionData, 8, 1};
    for (int i = 0; i < 4; i++) {
        const double X = plane[i][0], Y = plane[i][1], x = image[i][0], y = image[i][1];
        const double rowX[8] = {X, Y, 1.0, 0.0, 0.0, 0.0, -X * x, -Y * x};
        const double rowY[8] = {0.0, 0.0, 0.0, X, Y, 1.0, -X * y, -Y * y};
        for (int j = 0; j < 8; j++) {
            aData[(2 * i) * 8 + j] = rowX[j];
            aData[(2 * i + 1) * 8 + j] = rowY[j];
        }
        bData[2 * i] = x;
        bData[2 * i + 1] = y;
    }
    if (invertMatrixInPlace(&a) != 0 || multiplyMatrices(&solution, &a, &b) != 0) return -1;
    for (int k = 0; k < 8; k++) h[k / 3][k % 3] = solutionData[k];
    h[2][2] = 1.0;
    return 0;
}

// Samples along one direction of the inside: 16, 32 or 64, from the longer side's squared length.
static int sampleCount(double longerSideSquared) {
    const double quarter = std::floor(std::floor(longerSideSquared) / 4.0);
    int count = 16;
    while (count < 64 && count * count < quarter) count *= 2;
    return count;
}

static double squaredDistance(const double p[2], const double q[2]) {
    return (p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]);
}

// One row of samples of the unwarp. The products with X belong to a column and those with
// Y to the row, so each is formed once; every sample still adds and divides exactly as
// (h00 X + h01 Y + h02) / d would, in the same order.
struct SampleRow {
    const double* columnX;
    const double* columnY;
    const double* columnD;
    int count;                // even
    double rowX, rowY, rowD;  // the row's products with Y
    double h02, h12, h22;
};

// What a sample outside the frame reads: it adds nothing but still counts in the divisor.
static const unsigned char BLANK_PIXEL[4] = {0, 0, 0, 0};

// Points each sample of the row at its frame pixel, or at the blank pixel when it falls
// outside: truncation toward zero lands inside exactly when the value lies in (-1, size),
// and NaN and values too large for an int fail that test. false when a denominator is 0
// (nothing is divided then).
static bool locateRowSamples(const SampleRow& row, const unsigned char* frame, size_t stride, int32_t width,
                             int32_t height, const unsigned char** pixels) {
    double d[64];
    bool vanishing = false;
    for (int i = 0; i < row.count; i++) {
        d[i] = row.columnD[i] + row.rowD + row.h22;
        vanishing |= d[i] == 0.0;
    }
    if (vanishing) return false;
    for (int i = 0; i < row.count; i++) {
        const double fx = (row.columnX[i] + row.rowX + row.h02) / d[i];
        const double fy = (row.columnY[i] + row.rowY + row.h12) / d[i];
        pixels[i] = fx > -1.0 && fx < width && fy > -1.0 && fy < height
                        ? frame + static_cast<size_t>(static_cast<int>(fy)) * stride +
                              static_cast<size_t>(static_cast<int>(fx)) * 4
                        : BLANK_PIXEL;
    }
    return true;
}

#if ZELK_AVX_DISPATCH
// The same, four samples at a time where the processor has four-double vectors, whose
// divisions go through in about the time of two: the same operations in the same order,
// so the same quotients, the same comparisons (false for NaN) and the same truncations.
// Selecting rather than branching lets the divisions of the next samples overlap this work.
ZELK_AVX static bool locateRowSamplesWide(const SampleRow& row, const unsigned char* frame, size_t stride,
                                          int32_t width, int32_t height, const unsigned char** pixels) {
    alignas(32) double d[64];
    const __m256d zero = _mm256_setzero_pd(), rowD = _mm256_set1_pd(row.rowD), h22 = _mm256_set1_pd(row.h22);
    __m256d vanishing = zero;
    for (int i = 0; i < row.count; i += 4) {
        const __m256d di = _mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(row.columnD + i), rowD), h22);
        vanishing = _mm256_or_pd(vanishing, _mm256_cmp_pd(di, zero, _CMP_EQ_OQ));
        _mm256_store_pd(d + i, di);
    }
    if (_mm256_movemask_pd(vanishing)) return false;
    const __m256d rowX = _mm256_set1_pd(row.rowX), rowY = _mm256_set1_pd(row.rowY);
    const __m256d h02 = _mm256_set1_pd(row.h02), h12 = _mm256_set1_pd(row.h12);
    const __m256d low = _mm256_set1_pd(-1.0), right = _mm256_set1_pd(width), bottom = _mm256_set1_pd(height);
    for (int i = 0; i < row.count; i += 4) {
        const __m256d di = _mm256_load_pd(d + i);
        const __m256d fx = _mm256_div_pd(_mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(row.columnX + i), rowX), h02), di);
        const __m256d fy = _mm256_div_pd(_mm256_add_pd(_mm256_add_pd(_mm256_loadu_pd(row.columnY + i), rowY), h12), di);
        const __m256d inside =
            _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(fx, low, _CMP_GT_OQ), _mm256_cmp_pd(fx, right, _CMP_LT_OQ)),
                          _mm256_and_pd(_mm256_cmp_pd(fy, low, _CMP_GT_OQ), _mm256_cmp_pd(fy, bottom, _CMP_LT_OQ)));
        const int mask = _mm256_movemask_pd(inside);
        alignas(16) int32_t px[4], py[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(px), _mm256_cvttpd_epi32(fx));
        _mm_store_si128(reinterpret_cast<__m128i*>(py), _mm256_cvttpd_epi32(fy));
        for (int k = 0; k < 4; k++)
            pixels[i + k] = mask >> k & 1 ? frame + static_cast<size_t>(py[k]) * stride + static_cast<size_t>(px[k]) * 4
                                          : BLANK_PIXEL;
    }
    return true;
}
#endif

// Adds the first three bytes of count pixels to sum[0..2] (sum[3] takes the fourth byte).
static void addPixels(const unsigned char* const* pixels, int count, uint16_t sum[4]) {
#if ZELK_SSE2
    const __m128i zero = _mm_setzero_si128();
    __m128i s = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sum));
    for (int k = 0; k < count; k++) {
        int32_t word;
        std::memcpy(&word, pixels[k], 4);
        s = _mm_add_epi16(s, _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero));
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(sum), s);
#else
    for (int k = 0; k < count; k++)
        for (int byte = 0; byte < 3; byte++) sum[byte] = static_cast<uint16_t>(sum[byte] + pixels[k][byte]);
#endif
}

int extractPatternImage(const FrameImage* frame, const int32_t* contourX, const int32_t* contourY,
                        const int32_t vertexIndex[5], PatternImage* image) {
    // The marker square in plane coordinates; its middle half [102.5, 107.5] is the picture.
    static const double plane[4][2] = {{100.0, 100.0}, {110.0, 100.0}, {110.0, 110.0}, {100.0, 110.0}};
    double corner[4][2];
    for (int i = 0; i < 4; i++) {
        corner[i][0] = contourX[vertexIndex[i]];
        corner[i][1] = contourY[vertexIndex[i]];
    }
    double h[3][3];
    if (computePerspective(plane, corner, h) < 0) return -1;

    const int nx = sampleCount(std::fmax(squaredDistance(corner[0], corner[1]), squaredDistance(corner[2], corner[3])));
    const int ny = sampleCount(std::fmax(squaredDistance(corner[1], corner[2]), squaredDistance(corner[3], corner[0])));
    return samplePatternImage(frame, h, nx, ny, image);
}

int samplePatternImage(const FrameImage* frame, const double h[3][3], int nx, int ny, PatternImage* image) {
    if ((nx != 16 && nx != 32 && nx != 64) || (ny != 16 && ny != 32 && ny != 64)) return -1;
    const int sx = nx / PATTERN_SIZE, sy = ny / PATTERN_SIZE;
    if (!frame || !frame->pixels || frame->width < 0 || frame->height < 0 || frame->stride < int64_t(frame->width) * 4)
        return -1;
    const size_t stride = static_cast<size_t>(frame->stride);

    alignas(16) double columnX[64], columnY[64], columnD[64];
    for (int i = 0; i < nx; i++) {
        const double X = 102.5 + 5.0 * (i + 0.5) / nx;
        columnX[i] = h[0][0] * X;
        columnY[i] = h[1][0] * X;
        columnD[i] = h[2][0] * X;
    }
    SampleRow row = {columnX, columnY, columnD, nx, 0.0, 0.0, 0.0, h[0][2], h[1][2], h[2][2]};
    // A pattern pixel's sums stay below 16 x 256, and sx x sy is a power of two, which the
    // shift divides by.
    alignas(16) uint16_t sums[PATTERN_SIZE * PATTERN_SIZE][4] = {};
    const int shift = (sx == 1 ? 0 : sx == 2 ? 1 : 2) + (sy == 1 ? 0 : sy == 2 ? 1 : 2);
    const unsigned char* pixels[64];
#if ZELK_AVX_DISPATCH
    const bool wide = avxAvailable();
#endif
    for (int j = 0; j < ny; j++) {
        const double Y = 102.5 + 5.0 * (j + 0.5) / ny;
        row.rowX = h[0][1] * Y;
        row.rowY = h[1][1] * Y;
        row.rowD = h[2][1] * Y;
#if ZELK_AVX_DISPATCH
        const bool located = wide
                                 ? locateRowSamplesWide(row, frame->pixels, stride, frame->width, frame->height, pixels)
                                 : locateRowSamples(row, frame->pixels, stride, frame->width, frame->height, pixels);
#else
        const bool located = locateRowSamples(row, frame->pixels, stride, frame->width, frame->height, pixels);
#endif
        if (!located) return -1;
        // A pattern pixel's samples of this row are summed in registers, then added once.
        uint16_t(*rowSums)[4] = sums + (j / sy) * PATTERN_SIZE;
        for (int column = 0; column < PATTERN_SIZE; column++) addPixels(pixels + column * sx, sx, rowSums[column]);
    }
    // Skipped samples still count in the divisor.
    for (int n = 0; n < PATTERN_SIZE * PATTERN_SIZE; n++)
        for (int byte = 0; byte < 3; byte++)
            image->value[n * 3 + byte] = static_cast<unsigned char>(sums[n][byte] >> shift);
    return 0;
}

// An image's correlations with a slot's four blocks: exact integers either way, summed in
// 32-bit integers for the blocks that allow it (all four in one pass), else in doubles.
static void slotCorrelations(const PatternLibrary* library, const int16_t* smallInput, int slot,
                             double correlations[PATTERN_ORIENTATIONS]) {
    const auto& smallTemplates = library->smallTemplates;
    const int16_t* small[PATTERN_ORIENTATIONS] = {smallTemplates[slot][0], smallTemplates[slot][1],
                                                  smallTemplates[slot][2], smallTemplates[slot][3]};
    int32_t dots[PATTERN_ORIENTATIONS] = {0, 0, 0, 0};
    for (int n = 0; n < PATTERN_VALUES; n++)
        for (int o = 0; o < PATTERN_ORIENTATIONS; o++) dots[o] += int32_t(smallInput[n]) * small[o][n];
    for (int o = 0; o < PATTERN_ORIENTATIONS; o++) {
        if (library->templateIsSmall[slot][o]) {
            correlations[o] = dots[o];
            continue;
        }
        const double* values = library->templates[slot][o];
        double partial[4] = {0.0, 0.0, 0.0, 0.0};  // exact integers: the order does not matter
        for (int n = 0; n < PATTERN_VALUES; n += 4)
            for (int k = 0; k < 4; k++) partial[k] += double(smallInput[n + k]) * values[n + k];
        correlations[o] = (partial[0] + partial[1]) + (partial[2] + partial[3]);
    }
}

int matchPattern(const PatternLibrary* library, const PatternImage* image, int32_t* patternId, int32_t* direction,
                 double* confidence) {
    alignas(16) int16_t smallInput[PATTERN_VALUES];
    int32_t sum = 0;
    for (int n = 0; n < PATTERN_VALUES; n++) sum += 255 - image->value[n];
    const int32_t mean = sum / PATTERN_VALUES;
    for (int n = 0; n < PATTERN_VALUES; n++) smallInput[n] = static_cast<int16_t>((255 - image->value[n]) - mean);
    int32_t squares = 0;
    for (int n = 0; n < PATTERN_VALUES; n++) squares += int32_t(smallInput[n]) * smallInput[n];
    const double inputNorm = std::sqrt(static_cast<double>(squares));
    if (inputNorm == 0.0) {
        *patternId = 0;
        *direction = 0;
        *confidence = -1.0;
        return -1;
    }
    double best = 0.0;
    *patternId = -1;
    *direction = -1;
    for (int slot = 0; slot < PATTERN_SLOTS; slot++) {
        if (!library->slotInUse[slot]) continue;
        double correlations[PATTERN_ORIENTATIONS];
        slotCorrelations(library, smallInput, slot, correlations);
        for (int o = 0; o < PATTERN_ORIENTATIONS; o++) {
            const double r = correlations[o] / library->templateNorms[slot][o] / inputNorm;
            if (r > best) {  // ties keep the lower slot, then the lower orientation
                best = r;
                *patternId = slot;
                *direction = o;
            }
        }
    }
    *confidence = best;
    return 0;
}

int identifyCandidate(const PatternLibrary* library, const FrameImage* frame, const int32_t* contourX,
                      const int32_t* contourY, const int32_t vertexIndex[5], int32_t* patternId, int32_t* direction,
                      double* confidence) {
    PatternImage image;
    if (extractPatternImage(frame, contourX, contourY, vertexIndex, &image) < 0) {
        *patternId = -1;
        *direction = -1;
        *confidence = 0.0;
        return 0;
    }
    matchPattern(library, &image, patternId, direction, confidence);
    return 0;
}

}  // namespace zelk
