// zelk camera calibrate: chessboard views rendered through a known camera, lens included,
// give that camera back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/camera_params.h"
#include "camera/distortion.h"
#include "tests/apps/run_zelk.h"
#include "tests/support/paths.h"

namespace {

constexpr int CELL = 40;         // texture pixels per square
constexpr double SQUARE = 25.0;  // board units per square

// A board of 10 x 7 squares (9 x 6 inner corners) with a white margin of two squares.
cv::Mat boardTexture() {
    cv::Mat texture(11 * CELL, 14 * CELL, CV_8U, cv::Scalar(255));
    for (int row = 0; row < 7; ++row)
        for (int column = 0; column < 10; ++column)
            if ((row + column) % 2 == 0) texture(cv::Rect((column + 2) * CELL, (row + 2) * CELL, CELL, CELL)).setTo(0);
    return texture;
}

// The board seen by a 640 x 480 camera with the given distortion factors: every observed
// pixel is taken to ideal coordinates with the plug-in's lens model, then onto the board.
cv::Mat view(const cv::Mat& texture, const cv::Matx33d& k, const double distortion[4], const cv::Vec3d& rotation,
             const cv::Vec3d& translation) {
    cv::Matx33d r;
    cv::Rodrigues(rotation, r);
    // Texture pixel (u, v) is board point ((u + 0.5) / CELL - 3, (v + 0.5) / CELL - 3) squares
    // from the first inner corner.
    const double unit = SQUARE / CELL, offset = 0.5 * unit - 3 * SQUARE;
    const cv::Matx33d fromTexture(unit, 0, offset, 0, unit, offset, 0, 0, 1);
    const cv::Matx33d plane(r(0, 0), r(0, 1), translation[0], r(1, 0), r(1, 1), translation[1], r(2, 0), r(2, 1),
                            translation[2]);
    const cv::Matx33d toTexture = (k * plane * fromTexture).inv();
    cv::Mat mapX(480, 640, CV_32F), mapY(480, 640, CV_32F);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            double ix, iy;
            zelk::observedToIdeal(distortion, x, y, &ix, &iy);
            const cv::Vec3d t = toTexture * cv::Vec3d(ix, iy, 1);
            mapX.at<float>(y, x) = float(t[0] / t[2]);
            mapY.at<float>(y, x) = float(t[1] / t[2]);
        }
    }
    cv::Mat image;
    cv::remap(texture, image, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(255));
    return image;
}

TEST(CameraCalibrate, ChessboardViewsGiveBackTheCameraTheyWereRenderedThrough) {
    const cv::Matx33d k(700, 0, 319.5, 0, 700, 239.5, 0, 0, 1);
    const double distortion[4] = {319.5, 239.5, 30.0, 1.0};
    const cv::Mat texture = boardTexture();
    std::string images;
    const cv::Vec3d turns[] = {{0.3, 0, 0},     {-0.3, 0, 0},       {0, 0.35, 0},      {0, -0.35, 0},
                               {0.2, 0.2, 0.3}, {-0.25, 0.2, -0.4}, {0.15, -0.3, 1.2}, {0, 0, 0.1}};
    for (const cv::Vec3d& turn : turns) {
        const std::string path = scratchPath("board.png");
        ASSERT_TRUE(cv::imwrite(path, view(texture, k, distortion, turn, cv::Vec3d(-100, -60, 520))));
        images += " " + path;
    }
    const std::string blank = scratchPath("blank.png");
    ASSERT_TRUE(cv::imwrite(blank, cv::Mat(480, 640, CV_8U, cv::Scalar(200))));

    const std::string camera = scratchPath("calibrated.dat");
    const ZelkRun run = runZelk("camera calibrate" + images + " " + blank + " --board 9x6 --square 25 -o " + camera);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("blank.png: no board"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("calibrated from 8 of 9 images"), std::string::npos) << run.output;
    zelk::CameraParams record{};
    ASSERT_EQ(zelk::loadCameraParams(camera.c_str(), 1, &record), 0);
    EXPECT_EQ(record.imageWidth, 640);
    EXPECT_NEAR(record.projection[0][0], 700, 7);
    EXPECT_NEAR(record.projection[1][1], 700, 7);
    EXPECT_NEAR(record.projection[0][2], 319.5, 5);
    EXPECT_NEAR(record.projection[1][2], 239.5, 5);
    // The lens bends every point of the image as the true one does, to within a pixel.
    double largest = 0;
    for (int y = 0; y < 480; y += 24) {
        for (int x = 0; x < 640; x += 32) {
            double tx, ty, cx, cy;
            zelk::idealToObserved(distortion, x, y, &tx, &ty);
            zelk::idealToObserved(record.distortion, x, y, &cx, &cy);
            largest = std::max(largest, std::hypot(tx - cx, ty - cy));
        }
    }
    std::printf(
        "calibrated: fx %.2f fy %.2f cx %.2f cy %.2f radial %.3f scale %.5f; lens within %.3f px of the true one\n",
        record.projection[0][0], record.projection[1][1], record.projection[0][2], record.projection[1][2],
        record.distortion[2], record.distortion[3], largest);
    EXPECT_LT(largest, 1.0);
}

TEST(CameraCalibrate, RefusesTooFewViews) {
    const std::string blank = scratchPath("blank.png");
    ASSERT_TRUE(cv::imwrite(blank, cv::Mat(48, 64, CV_8U, cv::Scalar(200))));
    const ZelkRun run = runZelk("camera calibrate " + blank + " -o " + scratchPath("none.dat"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("zelk: the board was found in 0 images; at least 3 are needed"), std::string::npos)
        << run.output;
}

}  // namespace
