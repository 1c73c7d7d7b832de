// The built-in marker path: smooth changes of distance, tilt, in-plane turn and place.
#include <algorithm>
#include <cmath>

#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::synth {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double MARGIN = 4.0;  // pixels kept free at the edge of a marker's part of the frame

// Rotation by angle about the unit axis (Rodrigues).
void axisRotation(const double axis[3], double angle, double r[3][3]) {
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    const double x = axis[0], y = axis[1], z = axis[2];
    r[0][0] = t * x * x + c;
    r[0][1] = t * x * y - s * z;
    r[0][2] = t * x * z + s * y;
    r[1][0] = t * x * y + s * z;
    r[1][1] = t * y * y + c;
    r[1][2] = t * y * z - s * x;
    r[2][0] = t * x * z - s * y;
    r[2][1] = t * y * z + s * x;
    r[2][2] = t * z * z + c;
}

// The camera point at depth z that projects to the ideal image point (u, v).
void backProject(const CameraParams& camera, double u, double v, double z, double point[3]) {
    // Solve P[:, 0:3] X + P[:, 3] = lambda (u, v, 1) with X_z = z, by Cramer's rule on
    // the two image equations: (p0 - u p2) . X = u p23 - p03, (p1 - v p2) . X = v p23 - p13.
    const double(*p)[4] = camera.projection;
    double a[2][3], b[2];
    for (int c = 0; c < 3; ++c) {
        a[0][c] = p[0][c] - u * p[2][c];
        a[1][c] = p[1][c] - v * p[2][c];
    }
    b[0] = u * p[2][3] - p[0][3] - a[0][2] * z;
    b[1] = v * p[2][3] - p[1][3] - a[1][2] * z;
    const double det = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    point[0] = (b[0] * a[1][1] - a[0][1] * b[1]) / det;
    point[1] = (a[0][0] * b[1] - b[0] * a[1][0]) / det;
    point[2] = z;
}

// 0 ... 1 and back, smoothly, with the given period and phase.
double wave(double seconds, double period, double phase) {
    return 0.5 - 0.5 * std::cos(2 * PI * seconds / period + phase);
}

}  // namespace

void pathPose(const CameraParams& camera, const PathRanges& ranges, double width, int index, int count, double seconds,
              double pose[3][4]) {
    const int w = std::max(1, camera.imageWidth), h = std::max(1, camera.imageHeight);
    count = std::max(1, count);
    const int columns =
        std::clamp(static_cast<int>(std::lround(std::sqrt(count * static_cast<double>(w) / h))), 1, count);
    const int rows = (count + columns - 1) / columns;
    const double cellWidth = static_cast<double>(w) / columns, cellHeight = static_cast<double>(h) / rows;
    const double centreX = (index % columns + 0.5) * cellWidth - 0.5;
    const double centreY = (index / columns + 0.5) * cellHeight - 0.5;

    // The marker's image radius at distance d is at most focal * a / (d - a), a the half
    // diagonal; keep it within the cell.
    const double a = width * std::sqrt(0.5);
    const double focal = std::max(std::fabs(camera.projection[0][0]), std::fabs(camera.projection[1][1]));
    const double room = std::max(1.0, 0.5 * std::min(cellWidth, cellHeight) - MARGIN);
    const double nearest = a + focal * a / room;
    const double near = std::max(ranges.distance[0], nearest);
    const double far = std::max(ranges.distance[1], near);
    const double phase = index * 1.3;
    const double distance = near + (far - near) * wave(seconds, 11.0, phase);
    const double radius = focal * a / (distance - a);

    const double drift = std::clamp(ranges.drift, 0.0, 1.0);
    const double reachX = std::max(0.0, 0.5 * cellWidth - MARGIN - radius);
    const double reachY = std::max(0.0, 0.5 * cellHeight - MARGIN - radius);
    const double u = centreX + drift * reachX * std::sin(2 * PI * seconds / 9.0 + 0.5 * index);
    const double v = centreY + drift * reachY * std::sin(2 * PI * seconds / 6.5 + 0.9 * index);
    double position[3];
    backProject(camera, u, v, distance, position);

    // Upright and square to the camera, turned in its plane, then tilted about an axis in
    // the image plane whose direction turns slowly.
    const double tilt =
        (ranges.tilt[0] + (ranges.tilt[1] - ranges.tilt[0]) * wave(seconds, 7.0, 0.7 * index)) * PI / 180;
    const double spin = ranges.spin * seconds * PI / 180 + 1.1 * index;
    const double axisAngle = 2 * PI * seconds / 13.0 + 2.1 * index;
    const double axis[3] = {std::cos(axisAngle), std::sin(axisAngle), 0};
    const double zAxis[3] = {0, 0, 1};
    double tilting[3][3], turning[3][3];
    axisRotation(axis, tilt, tilting);
    axisRotation(zAxis, spin, turning);
    const double facing[3] = {1, -1, -1};  // diag(1, -1, -1)
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += tilting[r][k] * facing[k] * turning[k][c];
            pose[r][c] = sum;
        }
        pose[r][3] = position[r];
    }
}

}  // namespace zelk::synth
