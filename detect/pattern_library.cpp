#include "detect/pattern_library.h"

#include <cmath>
#include <cstdio>

#include "camera/camera_params.h"
#include "numeric/dense_matrix.h"

namespace zelk {

static const int ORIENTATIONS = 4;
static const double CONSTANT_TEMPLATE_NORM = 0.0000001;

// -1 until the first load; then the number of slots in use.
static int patternCount = -1;
static int slotInUse[PATTERN_SLOTS];
// Per slot and orientation: 255 - value, minus its block mean, at (row x 16 + column) x 3 + plane.
// The values are integers below 2^32 in magnitude, held exactly in doubles: a correlation
// with an image (terms below 2^8) sums 768 integer terms below 2^40, so every partial sum
// is an exact integer, in any order of summation.
static double templates[PATTERN_SLOTS][ORIENTATIONS][PATTERN_VALUES];
static double templateNorms[PATTERN_SLOTS][ORIENTATIONS];

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

// Reads one orientation block of the file into a template. false on a read error.
static bool readTemplate(FILE* file, double* values, double* norm) {
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
    for (int n = 0; n < PATTERN_VALUES; n++) {
        values[n] = static_cast<double>(inverted[n] - mean);
        squares += values[n] * values[n];
    }
    *norm = std::sqrt(squares);
    if (*norm == 0.0) *norm = CONSTANT_TEMPLATE_NORM;  // a constant block never divides by zero
    return true;
}

int loadPattern(const char* path) {
    if (patternCount == -1) {
        for (int slot = 0; slot < PATTERN_SLOTS; slot++) slotInUse[slot] = 0;
        patternCount = 0;
    }
    int slot = 0;
    while (slot < PATTERN_SLOTS && slotInUse[slot]) slot++;
    if (slot == PATTERN_SLOTS) return -1;

    FILE* file = std::fopen(path, "r");
    if (!file) {
        std::printf("\"%s\" not found!!\n", path);
        return -1;
    }
    for (int o = 0; o < ORIENTATIONS; o++) {
        if (!readTemplate(file, templates[slot][o], &templateNorms[slot][o])) {
            std::printf("Pattern Data read error!!\n");
            std::fclose(file);
            return -1;
        }
    }
    std::fclose(file);
    slotInUse[slot] = 1;
    patternCount++;
    return slot;
}

int freePattern(int id) {
    if (id < 0 || id >= PATTERN_SLOTS || !slotInUse[id]) return -1;
    slotInUse[id] = 0;
    patternCount--;
    return 1;
}

int computePerspective(const double plane[4][2], const double image[4][2], double h[3][3]) {
    DenseMatrix* a = createMatrix(8, 8);
    DenseMatrix* b = createMatrix(8, 1);
    DenseMatrix* solution = createMatrix(8, 1);
    int result = -1;
    if (a && b && solution) {
        for (int i = 0; i < 4; i++) {
            const double X = plane[i][0], Y = plane[i][1], x = image[i][0], y = image[i][1];
            const double rowX[8] = {X, Y, 1.0, 0.0, 0.0, 0.0, -X * x, -Y * x};
            const double rowY[8] = {0.0, 0.0, 0.0, X, Y, 1.0, -X * y, -Y * y};
            for (int j = 0; j < 8; j++) {
                a->data[(2 * i) * 8 + j] = rowX[j];
                a->data[(2 * i + 1) * 8 + j] = rowY[j];
            }
            b->data[2 * i] = x;
            b->data[2 * i + 1] = y;
        }
        if (invertMatrixInPlace(a) == 0 && multiplyMatrices(solution, a, b) == 0) {
            for (int k = 0; k < 8; k++) h[k / 3][k % 3] = solution->data[k];
            h[2][2] = 1.0;
            result = 0;
        }
    }
    if (a) destroyMatrix(a);
    if (b) destroyMatrix(b);
    if (solution) destroyMatrix(solution);
    return result;
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
    const int sx = nx / PATTERN_SIZE, sy = ny / PATTERN_SIZE;
    int32_t width, height;
    currentDetectSize(&width, &height);

    // The products with X belong to a column and those with Y to a row, so each is formed
    // once; every sample still adds and divides exactly as (h00 X + h01 Y + h02) / d would.
    double columnX[64], columnY[64], columnD[64];
    int columnCell[64];
    for (int i = 0; i < nx; i++) {
        const double X = 102.5 + 5.0 * (i + 0.5) / nx;
        columnX[i] = h[0][0] * X;
        columnY[i] = h[1][0] * X;
        columnD[i] = h[2][0] * X;
        columnCell[i] = (i / sx) * 3;
    }
    int32_t sums[PATTERN_VALUES] = {};
    double d[64], fx[64], fy[64];
    for (int j = 0; j < ny; j++) {
        const double Y = 102.5 + 5.0 * (j + 0.5) / ny;
        const double rowX = h[0][1] * Y, rowY = h[1][1] * Y, rowD = h[2][1] * Y;
        bool vanishing = false;
        for (int i = 0; i < nx; i++) {
            d[i] = columnD[i] + rowD + h[2][2];
            vanishing |= d[i] == 0.0;
        }
        if (vanishing) return -1;
        for (int i = 0; i < nx; i++) {
            fx[i] = (columnX[i] + rowX + h[0][2]) / d[i];
            fy[i] = (columnY[i] + rowY + h[1][2]) / d[i];
        }
        int32_t* rowSums = sums + (j / sy) * PATTERN_SIZE * 3;
        for (int i = 0; i < nx; i++) {
            // Truncation toward zero lands inside exactly when the value lies in (-1, size);
            // NaN and values too large for an int fail the test and are skipped.
            if (!(fx[i] > -1.0 && fx[i] < width && fy[i] > -1.0 && fy[i] < height)) continue;
            const int px = static_cast<int>(fx[i]), py = static_cast<int>(fy[i]);
            const unsigned char* pixel = frame + (static_cast<size_t>(py) * width + px) * 4;
            int32_t* sum = rowSums + columnCell[i];
            sum[0] += pixel[0];
            sum[1] += pixel[1];
            sum[2] += pixel[2];
        }
    }
    // Skipped samples still count in the divisor.
    for (int n = 0; n < PATTERN_VALUES; n++) image->value[n] = static_cast<unsigned char>(sums[n] / (sx * sy));
    return 0;
}

int matchPattern(const PatternImage* image, int32_t* patternId, int32_t* direction, double* confidence) {
    double input[PATTERN_VALUES];
    int32_t sum = 0;
    for (int n = 0; n < PATTERN_VALUES; n++) sum += 255 - image->value[n];
    const int32_t mean = sum / PATTERN_VALUES;
    int32_t squares = 0;
    for (int n = 0; n < PATTERN_VALUES; n++) {
        const int32_t u = (255 - image->value[n]) - mean;
        input[n] = u;
        squares += u * u;
    }
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
        if (!slotInUse[slot]) continue;
        for (int o = 0; o < ORIENTATIONS; o++) {
            const double* values = templates[slot][o];
            double partial[4] = {0.0, 0.0, 0.0, 0.0};  // exact integers: the order does not matter
            for (int n = 0; n < PATTERN_VALUES; n += 4)
                for (int k = 0; k < 4; k++) partial[k] += input[n + k] * values[n + k];
            const double dot = (partial[0] + partial[1]) + (partial[2] + partial[3]);
            const double r = dot / templateNorms[slot][o] / inputNorm;
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

int identifyCandidate(const FrameImage* frame, const int32_t* contourX, const int32_t* contourY,
                      const int32_t vertexIndex[5], int32_t* patternId, int32_t* direction,
                      double* confidence) {
    PatternImage image;
    if (extractPatternImage(frame, contourX, contourY, vertexIndex, &image) < 0) {
        *patternId = -1;
        *direction = -1;
        *confidence = 0.0;
        return 0;
    }
    matchPattern(&image, patternId, direction, confidence);
    return 0;
}

}  // namespace zelk
