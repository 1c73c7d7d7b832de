// Drawing synthetic BGRA frames for tests and benchmarks: blank frames, filled
// polygons, rectangles, discs and dark-bordered squares. A pixel (x, y) is covered by a
// shape when the point (x, y) lies inside it or on its edge.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera/camera_params.h"
#include "detect/marker_record.h"

struct Bgra {
    uint8_t b, g, r, a;
};
constexpr Bgra kWhite{255, 255, 255, 255};
constexpr Bgra kBlack{0, 0, 0, 255};

struct Point2 {
    double x, y;
};

struct TestFrame {
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;  // width x height x 4, rows top to bottom, no padding

    uint8_t* data() { return bytes.data(); }
    const uint8_t* data() const { return bytes.data(); }
    uint8_t* pixel(int x, int y) { return bytes.data() + (std::size_t(y) * width + x) * 4; }
    void set(int x, int y, Bgra c);
    // The frame as detection reads it.
    zelk::FrameImage image() const { return {bytes.data(), width, height, 4 * width}; }
};

TestFrame blankFrame(int width, int height, Bgra colour = kWhite);
// Clipped to the frame.
void fillRect(TestFrame& frame, int x0, int y0, int x1, int y1, Bgra colour);  // inclusive corners
void fillPolygon(TestFrame& frame, const std::vector<Point2>& corners, Bgra colour);
void fillDisc(TestFrame& frame, double cx, double cy, double radius, Bgra colour);
// A dark square of side `size` centred at (cx, cy), turned by `angle` radians, whose inner
// half is bright: the border of a printed marker.
void drawMarkerBorder(TestFrame& frame, double cx, double cy, double size, double angle, Bgra dark = kBlack,
                      Bgra bright = kWhite);
// The corners of that square, clockwise on screen from the top-left when angle is 0.
std::vector<Point2> squareCorners(double cx, double cy, double size, double angle);
// A camera without lens distortion (ideal and observed points agree) and without projection.
zelk::CameraParams undistortedCamera(int width, int height);
