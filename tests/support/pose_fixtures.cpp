#include "tests/support/pose_fixtures.h"

#include <cmath>

namespace {
const double PI = 3.141592653589793;
}  // namespace

zelk::CameraParams pinholeCamera() {
    zelk::CameraParams camera{};
    camera.imageWidth = 640;
    camera.imageHeight = 480;
    const double P[3][4] = {{700, 0, 320, 0}, {0, 700, 240, 0}, {0, 0, 1, 0}};
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) camera.projection[r][c] = P[r][c];
    camera.distortion[0] = 320;
    camera.distortion[1] = 240;
    camera.distortion[2] = 0;
    camera.distortion[3] = 1;
    return camera;
}

void axisRotation(double x, double y, double z, double degrees, double R[3][3]) {
    const double length = std::sqrt(x * x + y * y + z * z);
    x /= length;
    y /= length;
    z /= length;
    const double c = std::cos(degrees * PI / 180), s = std::sin(degrees * PI / 180), v = 1 - c;
    const double M[3][3] = {{x * x * v + c, x * y * v - z * s, x * z * v + y * s},
                            {x * y * v + z * s, y * y * v + c, y * z * v - x * s},
                            {x * z * v - y * s, y * z * v + x * s, z * z * v + c}};
    for (int r = 0; r < 3; r++)
        for (int k = 0; k < 3; k++) R[r][k] = M[r][k];
}

void multiply3(const double a[3][3], const double b[3][3], double out[3][3]) {
    double m[3][3];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) m[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) out[r][c] = m[r][c];
}

void viewPose(double x, double y, double distance, double tilt, double tiltAxis, double inPlane, double pose[3][4]) {
    // Facing the camera upright: marker x to the right, marker y up (camera -y), normal towards the camera.
    const double facing[3][3] = {{1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    double spin[3][3], lean[3][3], R[3][3];
    axisRotation(0, 0, 1, inPlane, spin);
    axisRotation(std::cos(tiltAxis * PI / 180), std::sin(tiltAxis * PI / 180), 0, tilt, lean);
    multiply3(facing, spin, R);
    multiply3(lean, R, R);
    const double t[3] = {x, y, distance};
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) pose[r][c] = R[r][c];
        pose[r][3] = t[r];
    }
}

void projectMarkerPoint(const double P[3][4], const double pose[3][4], double x, double y, double image[2]) {
    double X[3];
    for (int r = 0; r < 3; r++) X[r] = pose[r][0] * x + pose[r][1] * y + pose[r][3];
    double h[3];
    for (int r = 0; r < 3; r++) h[r] = P[r][0] * X[0] + P[r][1] * X[1] + P[r][2] * X[2] + P[r][3];
    image[0] = h[0] / h[2];
    image[1] = h[1] / h[2];
}

namespace {
// The line through p and q as (a, b, c) with (a, b) of unit length.
void lineThrough(const double p[2], const double q[2], double line[3]) {
    double a = q[1] - p[1], b = p[0] - q[0];
    const double length = std::sqrt(a * a + b * b);
    a /= length;
    b /= length;
    line[0] = a;
    line[1] = b;
    line[2] = -(a * p[0] + b * p[1]);
}
}  // namespace

zelk::MarkerRecord markerFromPose(const double P[3][4], const double pose[3][4], double width, int direction) {
    zelk::MarkerRecord marker{};
    marker.pixelArea = 1000;
    marker.patternId = 0;
    marker.direction = direction;
    marker.confidence = 0.9;
    const double h = width / 2;
    const double model[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    for (int j = 0; j < 4; j++) {
        const int slot = ((4 - direction + j) % 4 + 4) % 4;
        projectMarkerPoint(P, pose, model[j][0], model[j][1], marker.corners[slot]);
    }
    for (int i = 0; i < 4; i++) lineThrough(marker.corners[i], marker.corners[(i + 1) % 4], marker.edgeLines[i]);
    projectMarkerPoint(P, pose, 0, 0, marker.centre);
    return marker;
}

void makeOppositeSideParallel(zelk::MarkerRecord* marker, int side) {
    double* line = marker->edgeLines[side];
    const double* opposite = marker->edgeLines[(side + 2) % 4];
    const double* corner = marker->corners[side];
    line[0] = opposite[0];
    line[1] = opposite[1];
    line[2] = -(line[0] * corner[0] + line[1] * corner[1]);
}

double rotationDifferenceDegrees(const double a[3][3], const double b[3][3]) {
    // |a - b| (Frobenius) = 2 sqrt(2) sin(angle / 2): precise for small angles too.
    double sum = 0;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) sum += (a[r][c] - b[r][c]) * (a[r][c] - b[r][c]);
    double half = std::sqrt(sum) / (2 * std::sqrt(2.0));
    if (half > 1) half = 1;
    return 2 * std::asin(half) * 180 / PI;
}

double rotationDifferenceDegrees(const double a[3][4], const double b[3][4]) {
    double ra[3][3], rb[3][3];
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) {
            ra[r][c] = a[r][c];
            rb[r][c] = b[r][c];
        }
    return rotationDifferenceDegrees(ra, rb);
}
