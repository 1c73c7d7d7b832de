// Square candidates. A region of plausible size is outlined with a clockwise
// neighbour-following tracer, the outline is re-anchored at the point farthest from
// where the trace began, and it is accepted when recursive chord splitting finds
// exactly four corners. Candidates centred inside a larger one are dropped.
#include "detect/candidates.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "numeric/simd.h"

namespace zelk {

// Directions clockwise on screen, starting upwards.
static const int32_t stepX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
static const int32_t stepY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// A trace that reaches this many entries without closing fails: at most 9,998 distinct
// points, leaving room for the closing entry and the copy appended by the re-anchoring.
constexpr int32_t TRACE_LIMIT = 9999;

// Measures of an outline point (x, y): its squared distance from a point, and the square
// of a line's value at it. Each has a scalar form and an SSE2 form doing the same
// operations on two points, one per lane, so that both give the same doubles.
struct DistanceFrom {
    double x0, y0;
    double operator()(double x, double y) const {
        const double dx = x - x0, dy = y - y0;
        return dx * dx + dy * dy;
    }
#if ZELK_SSE2
    __m128d operator()(__m128d x, __m128d y) const {
        const __m128d dx = _mm_sub_pd(x, _mm_set1_pd(x0)), dy = _mm_sub_pd(y, _mm_set1_pd(y0));
        return _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
    }
#endif
};

struct LineValue {
    double a, b, c;
    double operator()(double x, double y) const {
        const double value = a * x + b * y + c;
        return value * value;
    }
#if ZELK_SSE2
    __m128d operator()(__m128d x, __m128d y) const {
        const __m128d value =
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(a), x), _mm_mul_pd(_mm_set1_pd(b), y)), _mm_set1_pd(c));
        return _mm_mul_pd(value, value);
    }
#endif
};

// The first index in first ... last whose measure is the largest and above 0, with that
// measure in *largest; -1 (and 0) when none is above 0.
template <class Measure>
static int32_t firstLargest(const int32_t* xs, const int32_t* ys, int32_t first, int32_t last, const Measure& measure,
                            double* largest) {
    int32_t best = -1;
    double bestValue = 0.0;
    int32_t i = first;
#if ZELK_SSE2
    // Four points at a time: first the largest measure (never NaN: the points are integers),
    // then the first point that has it. Both passes compute each measure as the scalar form
    // does, so that is the point the plain scan's strictly-larger rule keeps.
    if (last - first + 1 >= 4) {
        const int32_t end = first + ((last - first + 1) & ~3);
        const auto measureAt = [&](int32_t j) {
            const __m128d x = _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(xs + j)));
            const __m128d y = _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ys + j)));
            return measure(x, y);
        };
        __m128d top[2] = {_mm_setzero_pd(), _mm_setzero_pd()};
        for (; i < end; i += 4) {
            top[0] = _mm_max_pd(top[0], measureAt(i));
            top[1] = _mm_max_pd(top[1], measureAt(i + 2));
        }
        const __m128d both = _mm_max_pd(top[0], top[1]);
        bestValue = _mm_cvtsd_f64(_mm_max_sd(both, _mm_unpackhi_pd(both, both)));
        if (bestValue > 0.0) {
            const __m128d wanted = _mm_set1_pd(bestValue);
            for (int32_t j = first; j < end; j += 2) {
                const int hit = _mm_movemask_pd(_mm_cmpeq_pd(measureAt(j), wanted));
                if (hit != 0) {
                    best = j + (hit & 1 ? 0 : 1);
                    break;
                }
            }
        }
    }
#endif
    for (; i <= last; ++i) {
        const double m = measure(xs[i], ys[i]);
        if (m > bestValue) {
            bestValue = m;
            best = i;
        }
    }
    *largest = bestValue;
    return best;
}

// The index in first ... last farthest from entry 0; the first of equal maxima wins,
// and 0 when no point is farther than distance 0.
static int32_t farthestFromStart(const SquareCandidate* slot, int32_t first, int32_t last) {
    const int32_t* cx = slot->contourX;
    const int32_t* cy = slot->contourY;
    double largest = 0.0;
    const int32_t best = firstLargest(cx, cy, first, last, DistanceFrom{double(cx[0]), double(cy[0])}, &largest);
    // Below 2^53 every square and sum was an exact integer (one at or above it would have
    // rounded to at least 2^53), so the comparisons were those of exact arithmetic.
    if (largest < 0x1p53) return best < 0 ? 0 : best;
    // Far-flung points: exact integers, the sum with its carry (it can pass 2^64).
    int32_t exactBest = 0;
    uint64_t bestHigh = 0, bestLow = 0;
    for (int32_t i = first; i <= last; ++i) {
        const uint64_t dx = uint64_t(std::llabs(int64_t(cx[i]) - cx[0]));
        const uint64_t dy = uint64_t(std::llabs(int64_t(cy[i]) - cy[0]));
        const uint64_t low = dx * dx + dy * dy;
        const uint64_t high = low < dx * dx ? 1 : 0;
        if (high > bestHigh || (high == bestHigh && low > bestLow)) {
            bestHigh = high;
            bestLow = low;
            exactBest = i;
        }
    }
    return exactBest;
}

// Turns values[0 ... length-1] left by q places. Three reversals move every value twice in
// plain sequential passes, which the compiler vectorises; a cycle-following rotation moves
// each once, but one value at a time.
static void rotateLeft(int32_t* values, int32_t q, int32_t length) {
    std::reverse(values, values + q);
    std::reverse(values + q, values + length);
    std::reverse(values, values + length);
}

int traceContour(const Labelling* labelling, int32_t region, const RegionBounds* bounds, SquareCandidate* slot) {
    const LabelPixel* labelImage = labelling->image;
    const int32_t* labelTable = labelling->labelTable;
    const int32_t width = labelling->width, height = labelling->height;
    int32_t* cx = slot->contourX;
    int32_t* cy = slot->contourY;
    slot->contourLength = 0;

    // Every labelled pixel lies inside the border ring, so its eight neighbours are
    // in the image; only the start search has to keep to the image itself.
    int32_t startX = -1;
    const int32_t y0 = bounds->yMin;
    if (labelImage && labelImageFits(width, height) && y0 >= 0 && y0 < height) {
        const LabelPixel* row = labelImage + y0 * width;
        for (int32_t x = bounds->xMin < 0 ? 0 : bounds->xMin; x <= bounds->xMax && x < width; ++x) {
            if (row[x] > 0 && labelTable[row[x] - 1] == region) {
                startX = x;
                break;
            }
        }
    }
    if (startX < 0) {
        std::printf("??? 1\n");
        return -1;
    }

    // The neighbours as offsets from the current pixel, which the walk carries along.
    ptrdiff_t neighbour[8];
    for (int32_t k = 0; k < 8; ++k) neighbour[k] = ptrdiff_t(stepY[k]) * width + stepX[k];
    const LabelPixel* at = labelImage + (ptrdiff_t(y0) * width + startX);
    cx[0] = startX;
    cy[0] = y0;
    int32_t x = startX, y = y0;
    int32_t length = 1;
    int32_t d = 5;
    for (;;) {
        d = (d + 5) & 7;  // three steps back, counter-clockwise, from the last move
        int32_t tries = 0;
        while (tries < 8 && at[neighbour[d]] == 0) {
            d = (d + 1) & 7;
            ++tries;
        }
        if (tries == 8) {
            slot->contourLength = length;
            std::printf("??? 2\n");
            return -1;
        }
        at += neighbour[d];
        x += stepX[d];
        y += stepY[d];
        cx[length] = x;
        cy[length] = y;
        if (x == startX && y == y0) break;
        if (++length == TRACE_LIMIT) {
            slot->contourLength = length;
            std::printf("??? 3\n");
            return -1;
        }
    }

    // Re-anchor at the point farthest from the start, then close the outline.
    const int32_t q = farthestFromStart(slot, 1, length - 1);
    rotateLeft(cx, q, length);
    rotateLeft(cy, q, length);
    cx[length] = cx[0];
    cy[length] = cy[0];
    slot->contourLength = length + 1;
    return 0;
}

// pending: the callers above that found a vertex but have not appended it yet. Each of
// them appends one if the whole split succeeds, so once the list plus the pending ones
// would pass SPLIT_LIST_CAPACITY the split is bound to fail; failing at once keeps the
// recursion shallow and the list in bounds.
static int splitRecursive(const int32_t* contourX, const int32_t* contourY, int32_t st, int32_t ed, double threshold,
                          int32_t* list, int32_t* count, int32_t pending) {
    const int64_t a = int64_t(contourY[ed]) - contourY[st];
    const int64_t b = int64_t(contourX[st]) - contourX[ed];
    const int64_t c = int64_t(contourX[ed]) * contourY[st] - int64_t(contourY[ed]) * contourX[st];
    const double da = double(a), db = double(b), dc = double(c);

    double largest = 0.0;
    const int32_t farthest = firstLargest(contourX, contourY, st + 1, ed - 1, LineValue{da, db, dc}, &largest);
    if (farthest < 0) return 0;
    // A chord of length zero (both ends on one pixel) puts every other point infinitely far.
    const double chord = da * da + db * db;
    const double distance = chord > 0.0 ? largest / chord : std::numeric_limits<double>::infinity();
    if (!(distance > threshold)) return 0;

    if (*count + pending + 1 > SPLIT_LIST_CAPACITY) return -1;
    if (splitRecursive(contourX, contourY, st, farthest, threshold, list, count, pending + 1) < 0) return -1;
    list[(*count)++] = farthest;
    return splitRecursive(contourX, contourY, farthest, ed, threshold, list, count, pending);
}

int splitSegment(const int32_t* contourX, const int32_t* contourY, int32_t st, int32_t ed, double threshold,
                 int32_t* list, int32_t* count) {
    if (st < 0 || ed >= CONTOUR_CAPACITY || *count < 0 || *count > SPLIT_LIST_CAPACITY) return -1;
    return splitRecursive(contourX, contourY, st, ed, threshold, list, count, 0);
}

// Splits st ... ed and reports whether it found exactly one vertex, stored in *vertex.
static bool splitsOnce(const SquareCandidate* slot, int32_t st, int32_t ed, double threshold, int32_t* vertex) {
    int32_t list[SPLIT_LIST_CAPACITY];
    int32_t count = 0;
    if (splitSegment(slot->contourX, slot->contourY, st, ed, threshold, list, &count) < 0 || count != 1) return false;
    *vertex = list[0];
    return true;
}

int findVertices(int32_t area, SquareCandidate* slot, double factor) {
    const int32_t n = slot->contourLength;
    if (n < 2 || n > CONTOUR_CAPACITY) return -1;
    const int32_t f = farthestFromStart(slot, 1, n - 2);
    const double threshold = area / 0.75 * 0.01 * factor;

    int32_t first[SPLIT_LIST_CAPACITY], second[SPLIT_LIST_CAPACITY];
    int32_t firstCount = 0, secondCount = 0;
    if (splitSegment(slot->contourX, slot->contourY, 0, f, threshold, first, &firstCount) < 0 ||
        splitSegment(slot->contourX, slot->contourY, f, n - 1, threshold, second, &secondCount) < 0)
        return -1;

    int32_t* v = slot->vertexIndex;
    v[0] = 0;
    if (firstCount == 1 && secondCount == 1) {
        v[1] = first[0];
        v[2] = f;
        v[3] = second[0];
    } else if (firstCount > 1 && secondCount == 0) {
        // Entry 0 and f are neighbouring corners: the first half holds the other two.
        const int32_t m = f / 2;
        if (!splitsOnce(slot, 0, m, threshold, &v[1]) || !splitsOnce(slot, m, f, threshold, &v[2])) return -1;
        v[3] = f;
    } else if (firstCount == 0 && secondCount > 1) {
        const int32_t m = (f + n - 1) / 2;
        v[1] = f;
        if (!splitsOnce(slot, f, m, threshold, &v[2]) || !splitsOnce(slot, m, n - 1, threshold, &v[3])) return -1;
    } else {
        return -1;
    }
    v[4] = n - 1;
    return 0;
}

// Marks (pixelArea 0) every candidate whose centre lies within half the square root of
// a larger candidate's area from that one's centre, then closes the gaps.
static int32_t suppressDuplicates(SquareCandidate* candidateList, int32_t count) {
    for (int32_t j = 0; j < count; ++j) {
        for (int32_t k = j + 1; k < count; ++k) {
            SquareCandidate& cj = candidateList[j];
            SquareCandidate& ck = candidateList[k];
            const double dx = cj.centre[0] - ck.centre[0];
            const double dy = cj.centre[1] - ck.centre[1];
            const double d2 = dx * dx + dy * dy;
            if (cj.pixelArea > ck.pixelArea) {
                if (cj.pixelArea / 4 > d2) ck.pixelArea = 0;
            } else if (ck.pixelArea / 4 > d2) {
                cj.pixelArea = 0;
            }
        }
    }
    int32_t kept = 0;
    for (int32_t j = 0; j < count; ++j) {
        if (candidateList[j].pixelArea == 0) continue;
        if (kept != j) candidateList[kept] = candidateList[j];
        ++kept;
    }
    return kept;
}

int32_t extractCandidates(const Labelling* labelling, const CandidateLimits* limits, CandidateList* candidates) {
    const int32_t width = labelling->width, height = labelling->height;
    int32_t count = 0;
    for (int32_t k = 0; labelling->image && k < labelling->regionCount && count < CANDIDATE_CAPACITY; ++k) {
        const int32_t area = labelling->regionArea[k];
        if (area < limits->smallestArea || area > limits->largestArea) continue;
        const RegionBounds& b = labelling->regionBounds[k];
        if (b.xMin == 1 || b.xMax == width - 2 || b.yMin == 1 || b.yMax == height - 2) continue;
        SquareCandidate* slot = &candidates->entries[count];
        if (traceContour(labelling, k + 1, &b, slot) < 0) continue;
        if (findVertices(area, slot, limits->vertexFactor) < 0) continue;
        slot->pixelArea = area;
        slot->centre[0] = labelling->regionCentroid[k].x;
        slot->centre[1] = labelling->regionCentroid[k].y;
        ++count;
    }
    candidates->count = suppressDuplicates(candidates->entries, count);
    return candidates->count;
}

}  // namespace zelk
