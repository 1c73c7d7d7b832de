// Lines are straight in ideal coordinates (corners, projected cube edges) and are drawn as
// short pieces through the lens distortion, so that they bend exactly as the picture does.
#include "apps/zelk/overlay.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "apps/zelk/commands.h"
#include "camera/distortion.h"
#include "plugin/marker_query.h"

namespace zelk::tool {

namespace {

constexpr int SHIFT = 4;  // sub-pixel bits of the drawing coordinates
constexpr int PIECES = 12;
const cv::Scalar FOUND(60, 220, 60), UNKNOWN(40, 140, 255), CUBE(255, 200, 40), TOP(255, 90, 200);

cv::Point drawingPoint(const cv::Point2d& p) { return {cvRound(p.x * (1 << SHIFT)), cvRound(p.y * (1 << SHIFT))}; }

cv::Point2d observed(const OverlayCamera& camera, const cv::Point2d& ideal) {
    double x = ideal.x, y = ideal.y;
    if (idealToObserved(camera.distortion, ideal.x, ideal.y, &x, &y) != 0) return ideal;
    return {x, y};
}

void idealLine(cv::Mat& picture, const OverlayCamera& camera, const cv::Point2d& from, const cv::Point2d& to,
               const cv::Scalar& colour) {
    std::vector<cv::Point> points;
    for (int i = 0; i <= PIECES; i++)
        points.push_back(drawingPoint(observed(camera, from + (to - from) * (double(i) / PIECES))));
    cv::polylines(picture, points, false, colour, 2, cv::LINE_AA, SHIFT);
}

// The ideal image point of a marker-frame point; false when it lies behind the camera.
bool project(const OverlayCamera& camera, const double pose[3][4], double x, double y, double z, cv::Point2d* image) {
    double X[3], h[3];
    for (int r = 0; r < 3; r++) X[r] = pose[r][0] * x + pose[r][1] * y + pose[r][2] * z + pose[r][3];
    for (int r = 0; r < 3; r++)
        h[r] = camera.projection[r][0] * X[0] + camera.projection[r][1] * X[1] + camera.projection[r][2] * X[2] +
               camera.projection[r][3];
    if (X[2] <= 0 || h[2] <= 0) return false;
    *image = {h[0] / h[2], h[1] / h[2]};
    return true;
}

// A cube as wide as the marker, standing on it: the marker's z axis points out of its face.
void drawCube(cv::Mat& picture, const OverlayCamera& camera, const double pose[3][4]) {
    const double h = MARKER_WIDTH / 2;
    const double square[4][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}};
    cv::Point2d base[4], top[4];
    for (int i = 0; i < 4; i++) {
        if (!project(camera, pose, square[i][0], square[i][1], 0, &base[i]) ||
            !project(camera, pose, square[i][0], square[i][1], MARKER_WIDTH, &top[i]))
            return;
    }
    for (int i = 0; i < 4; i++) idealLine(picture, camera, base[i], top[i], CUBE);  // the base is the outline
    for (int i = 0; i < 4; i++) idealLine(picture, camera, top[i], top[(i + 1) % 4], TOP);
}

void label(cv::Mat& picture, const std::string& text, cv::Point at, const cv::Scalar& colour) {
    at.x = std::clamp(at.x, 2, std::max(2, picture.cols - 8 * static_cast<int>(text.size())));
    at.y = std::clamp(at.y, 14, std::max(14, picture.rows - 4));
    cv::putText(picture, text, at, cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(0, 0, 0), 3, cv::LINE_AA);
    cv::putText(picture, text, at, cv::FONT_HERSHEY_SIMPLEX, 0.5, colour, 1, cv::LINE_AA);
}

}  // namespace

void drawOverlay(cv::Mat& picture, const OverlayCamera& camera, const std::vector<OverlayMarker>& markers, int frame) {
    for (const auto& marker : markers) {
        const bool known = !marker.name.empty();
        const cv::Scalar colour = known ? FOUND : UNKNOWN;
        cv::Point2d corner[4];
        for (int i = 0; i < 4; i++) corner[i] = {marker.info.corners[i][0], marker.info.corners[i][1]};
        for (int i = 0; i < 4; i++) idealLine(picture, camera, corner[i], corner[(i + 1) % 4], colour);
        if (marker.posed) drawCube(picture, camera, marker.pose);
        // The printed picture's top-left corner shows the direction; the name goes above
        // the marker's highest corner.
        int highest = 0;
        for (int i = 1; i < 4; i++)
            if (corner[i].y < corner[highest].y) highest = i;
        const cv::Point2d labelAt = observed(camera, corner[highest]);
        if (known && marker.info.direction >= 0) {
            const cv::Point2d topLeft = observed(camera, corner[(4 - marker.info.direction) % 4]);
            cv::circle(picture, drawingPoint(topLeft), 4 << SHIFT, colour, cv::FILLED, cv::LINE_AA, SHIFT);
        }
        label(picture, known ? marker.name : "?", cv::Point(cvRound(labelAt.x) - 10, cvRound(labelAt.y) - 8), colour);
    }
    label(picture, cv::format("frame %d", frame), cv::Point(6, 18), cv::Scalar(255, 255, 255));
}

}  // namespace zelk::tool
