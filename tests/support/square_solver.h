// OpenCV's square-marker solver (IPPE), the cross-check for our poses; for OpenCV builds only.
#pragma once
#include <opencv2/calib3d.hpp>
#include <vector>

// The pose of a square `width` wide centred on the marker origin whose corners (top-left,
// top-right, bottom-right, bottom-left, ideal coordinates) are seen through projection P.
// False when the solver fails.
inline bool squareSolverPose(const double corners[4][2], const double P[3][4], double width, double pose[3][4]) {
    const double h = width / 2;
    const std::vector<cv::Point3d> model = {{-h, h, 0}, {h, h, 0}, {h, -h, 0}, {-h, -h, 0}};
    std::vector<cv::Point2d> image;
    for (int j = 0; j < 4; j++) image.emplace_back(corners[j][0], corners[j][1]);
    const cv::Matx33d K(P[0][0], P[0][1], P[0][2], P[1][0], P[1][1], P[1][2], P[2][0], P[2][1], P[2][2]);
    cv::Vec3d rvec, tvec;
    if (!cv::solvePnP(model, image, K, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_IPPE_SQUARE)) return false;
    cv::Matx33d R;
    cv::Rodrigues(rvec, R);
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++) pose[r][c] = R(r, c);
        pose[r][3] = tvec[r];
    }
    return true;
}
