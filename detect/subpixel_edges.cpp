#include "detect/subpixel_edges.h"

#include <cmath>
#include <cstddef>

#include "camera/distortion.h"
#include "detect/edge_lines.h"

namespace zelk {

namespace {

constexpr double PROFILE_STEP = 0.5;  // pixels between grey samples across the edge
// The profile reaches this far either side of the line: a tenth of the side, so that it stays
// inside the black border (a quarter of the side) and takes in a blur of a pixel or two.
constexpr double WINDOW_SHARE = 0.1;
constexpr double WINDOW_MIN = 1.5;
constexpr double WINDOW_MAX = 3.5;
constexpr int PROFILE_CAPACITY = 2 * int(WINDOW_MAX / PROFILE_STEP) + 1;
// Grey levels (B + G + R, 0-765) between the profile's dark and light ends for a readable edge.
constexpr double MIN_CONTRAST = 24;
// The second pass centres the profiles on the first pass's edge.
constexpr int PASSES = 2;

bool inFrame(const FrameImage& frame, double x, double y) {
    return x >= 0 && y >= 0 && x <= frame.width - 1 && y <= frame.height - 1;
}

// B + G + R at observed point (x, y) inside the frame, bilinear between pixel centres.
double sampleGrey(const FrameImage& frame, double x, double y) {
    const int32_t x0 = x < frame.width - 1 ? int32_t(x) : frame.width - 2;
    const int32_t y0 = y < frame.height - 1 ? int32_t(y) : frame.height - 2;
    const double fx = x - x0, fy = y - y0;
    const unsigned char* p = frame.pixels + size_t(y0) * size_t(frame.stride) + size_t(x0) * 4;
    const unsigned char* q = p + frame.stride;
    const auto grey = [](const unsigned char* pixel) { return double(pixel[0] + pixel[1] + pixel[2]); };
    const double top = grey(p) + fx * (grey(p + 4) - grey(p));
    const double bottom = grey(q) + fx * (grey(q + 4) - grey(q));
    return top + fy * (bottom - top);
}

// The edge's offset from observed point o along the unit outward normal n: where a step with
// the same area under the normalised profile over [-halfWidth, halfWidth] would stand. False
// outside the frame, without contrast, or when the edge is not inside the window.
bool edgeOffset(const FrameImage& frame, const double o[2], const double n[2], double halfWidth, double* offset) {
    const int half = int(halfWidth / PROFILE_STEP);
    const int count = 2 * half + 1;
    // The samples move monotonically along the normal: with both ends in the frame, all are.
    const double first = -half * PROFILE_STEP, last = (count - 1 - half) * PROFILE_STEP;
    if (!inFrame(frame, o[0] + first * n[0], o[1] + first * n[1]) ||
        !inFrame(frame, o[0] + last * n[0], o[1] + last * n[1]))
        return false;
    double v[PROFILE_CAPACITY];
    for (int j = 0; j < count; j++) {
        const double s = (j - half) * PROFILE_STEP;
        v[j] = sampleGrey(frame, o[0] + s * n[0], o[1] + s * n[1]);
    }
    const double dark = (v[0] + v[1]) / 2, light = (v[count - 2] + v[count - 1]) / 2;
    if (!(light - dark >= MIN_CONTRAST)) return false;
    double area = -(v[0] + v[count - 1]) / 2 + dark;  // trapezoid ends
    for (int j = 0; j < count; j++) area += v[j] - dark;
    const double end = half * PROFILE_STEP;
    *offset = end - area * PROFILE_STEP / (light - dark);
    return *offset > -end + PROFILE_STEP && *offset < end - PROFILE_STEP;
}

// The total least-squares line through count points (x, y pairs): through their mean, along
// the direction of largest spread. 0, or -1 when the points do not spread.
int fitLine(const double* points, int count, double line[3]) {
    double mx = 0, my = 0;
    for (int k = 0; k < count; k++) mx += points[2 * k], my += points[2 * k + 1];
    mx /= count, my /= count;
    double sxx = 0, sxy = 0, syy = 0;
    for (int k = 0; k < count; k++) {
        const double dx = points[2 * k] - mx, dy = points[2 * k + 1] - my;
        sxx += dx * dx, sxy += dx * dy, syy += dy * dy;
    }
    // The direction of largest spread is at half the angle of (sxx - syy, 2 sxy).
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
    if (!(sxx + syy > 0) || !std::isfinite(angle)) return -1;
    line[0] = std::sin(angle);
    line[1] = -std::cos(angle);
    line[2] = -(line[0] * mx + line[1] * my);
    return 0;
}

// Side from ideal corner a to corner b of a square around `inside`: its refined line, or -1.
int refineSide(const FrameImage& frame, const double distortion[4], const double a[2], const double b[2],
               const double inside[2], double line[3]) {
    const double dx = b[0] - a[0], dy = b[1] - a[1];
    const double length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 0) || !std::isfinite(length)) return -1;
    const double d[2] = {dx / length, dy / length};
    double n[2] = {d[1], -d[0]};
    if (n[0] * (inside[0] - a[0]) + n[1] * (inside[1] - a[1]) > 0) n[0] = -n[0], n[1] = -n[1];
    const double halfWidth = std::fmin(WINDOW_MAX, std::fmax(WINDOW_MIN, WINDOW_SHARE * length));
    // Away from the corners, where the profile would cross the neighbouring side.
    const double margin = halfWidth + 1;
    const double usable = length - 2 * margin;
    if (usable < 2) return -1;
    const int places = usable + 1 < EDGE_SAMPLES ? int(usable) + 1 : EDGE_SAMPLES;

    double points[EDGE_SAMPLES * 2];
    int found = 0;
    for (int k = 0; k < places; k++) {
        const double t = margin + usable * k / (places - 1);
        const double p[2] = {a[0] + t * d[0], a[1] + t * d[1]};
        double o[2], beyond[2], offset;
        if (idealToObserved(distortion, p[0], p[1], &o[0], &o[1]) != 0) continue;
        if (idealToObserved(distortion, p[0] + n[0], p[1] + n[1], &beyond[0], &beyond[1]) != 0) continue;
        double m[2] = {beyond[0] - o[0], beyond[1] - o[1]};
        const double mLength = std::sqrt(m[0] * m[0] + m[1] * m[1]);
        if (!(mLength > 0)) continue;
        m[0] /= mLength, m[1] /= mLength;
        if (!edgeOffset(frame, o, m, halfWidth, &offset)) continue;
        // The lens stretches the ideal normal by mLength here: back to ideal pixels to first
        // order, which is within a thousandth of a pixel over a few pixels of offset.
        points[2 * found] = p[0] + offset / mLength * n[0];
        points[2 * found + 1] = p[1] + offset / mLength * n[1];
        found++;
    }
    // Half the places at least, so that a few stray profiles cannot carry the line.
    if (found < 3 || 2 * found < places) return -1;
    return fitLine(points, found, line);
}

}  // namespace

int refineEdgeLines(const FrameImage* image, const double distortion[4], double edgeLines[4][3], double corners[4][2]) {
    if (!image || !image->pixels || !distortion || image->width < 2 || image->height < 2 ||
        image->stride / 4 < image->width)
        return -1;
    const FrameImage& frame = *image;
    double lines[4][3], points[4][2];
    for (int i = 0; i < 4; i++) {
        for (int k = 0; k < 2; k++) {
            if (!std::isfinite(corners[i][k])) return -1;
            points[i][k] = corners[i][k];
        }
    }
    for (int pass = 0; pass < PASSES; pass++) {
        const double inside[2] = {(points[0][0] + points[1][0] + points[2][0] + points[3][0]) / 4,
                                  (points[0][1] + points[1][1] + points[2][1] + points[3][1]) / 4};
        for (int i = 0; i < 4; i++)
            if (refineSide(frame, distortion, points[i], points[(i + 1) % 4], inside, lines[i]) != 0) return -1;
        if (intersectEdgeLines(lines, points) != 0) return -1;
        for (int i = 0; i < 4; i++)
            if (!std::isfinite(points[i][0]) || !std::isfinite(points[i][1])) return -1;
    }
    for (int i = 0; i < 4; i++) {
        for (int k = 0; k < 3; k++) edgeLines[i][k] = lines[i][k];
        for (int k = 0; k < 2; k++) corners[i][k] = points[i][k];
    }
    return 0;
}

}  // namespace zelk
