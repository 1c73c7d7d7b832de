#include "tests/support/frames.h"

#include <algorithm>
#include <cmath>

#include "camera/camera_params.h"

void TestFrame::set(int x, int y, Bgra c) {
    uint8_t* p = pixel(x, y);
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
    p[3] = c.a;
}

TestFrame blankFrame(int width, int height, Bgra colour) {
    TestFrame frame;
    frame.width = width;
    frame.height = height;
    frame.bytes.resize(size_t(width) * height * 4);
    for (size_t i = 0; i < frame.bytes.size(); i += 4) {
        frame.bytes[i] = colour.b;
        frame.bytes[i + 1] = colour.g;
        frame.bytes[i + 2] = colour.r;
        frame.bytes[i + 3] = colour.a;
    }
    return frame;
}

void fillRect(TestFrame& frame, int x0, int y0, int x1, int y1, Bgra colour) {
    for (int y = std::max(y0, 0); y <= std::min(y1, frame.height - 1); ++y)
        for (int x = std::max(x0, 0); x <= std::min(x1, frame.width - 1); ++x) frame.set(x, y, colour);
}

namespace {
// Inside or on the edge, for a convex or concave polygon (crossing count, edges inclusive).
bool covers(const std::vector<Point2>& poly, double x, double y) {
    bool inside = false;
    const size_t n = poly.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const Point2 a = poly[j], b = poly[i];
        const double cross = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        const bool within = std::min(a.x, b.x) - 1e-9 <= x && x <= std::max(a.x, b.x) + 1e-9 &&
                            std::min(a.y, b.y) - 1e-9 <= y && y <= std::max(a.y, b.y) + 1e-9;
        if (std::fabs(cross) < 1e-9 && within) return true;
        if ((a.y > y) != (b.y > y) && x < a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y)) inside = !inside;
    }
    return inside;
}
}  // namespace

void fillPolygon(TestFrame& frame, const std::vector<Point2>& corners, Bgra colour) {
    double xMin = 1e300, xMax = -1e300, yMin = 1e300, yMax = -1e300;
    for (const Point2& p : corners) {
        xMin = std::min(xMin, p.x);
        xMax = std::max(xMax, p.x);
        yMin = std::min(yMin, p.y);
        yMax = std::max(yMax, p.y);
    }
    for (int y = std::max(0, int(std::floor(yMin))); y <= std::min(frame.height - 1, int(std::ceil(yMax))); ++y)
        for (int x = std::max(0, int(std::floor(xMin))); x <= std::min(frame.width - 1, int(std::ceil(xMax))); ++x)
            if (covers(corners, x, y)) frame.set(x, y, colour);
}

void fillDisc(TestFrame& frame, double cx, double cy, double radius, Bgra colour) {
    for (int y = std::max(0, int(std::floor(cy - radius)));
         y <= std::min(frame.height - 1, int(std::ceil(cy + radius))); ++y)
        for (int x = std::max(0, int(std::floor(cx - radius)));
             x <= std::min(frame.width - 1, int(std::ceil(cx + radius))); ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) frame.set(x, y, colour);
}

std::vector<Point2> squareCorners(double cx, double cy, double size, double angle) {
    const double h = size / 2, c = std::cos(angle), s = std::sin(angle);
    const double local[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
    std::vector<Point2> corners;
    for (const auto& p : local) corners.push_back({cx + c * p[0] - s * p[1], cy + s * p[0] + c * p[1]});
    return corners;
}

void drawMarkerBorder(TestFrame& frame, double cx, double cy, double size, double angle, Bgra dark, Bgra bright) {
    fillPolygon(frame, squareCorners(cx, cy, size, angle), dark);
    fillPolygon(frame, squareCorners(cx, cy, size / 2, angle), bright);
}

zelk::CameraParams undistortedCamera(int width, int height) {
    zelk::CameraParams camera{};
    camera.imageWidth = width;
    camera.imageHeight = height;
    camera.distortion[3] = 1.0;
    return camera;
}
