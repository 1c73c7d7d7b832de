// zelk camera import and write: OpenCV calibrations mapped onto the plug-in's single radial
// term, with the residual it reports checked against OpenCV's own model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "camera/camera_params.h"
#include "camera/distortion.h"
#include "tests/apps/run_zelk.h"
#include "tests/support/paths.h"

namespace {

struct Calibration {
    const char* name;
    cv::Matx33d matrix;
    std::vector<double> coefficients;
};

std::string writeCalibration(const Calibration& calibration, bool withSize = true) {
    const std::string path = scratchPath(std::string(calibration.name) + ".yml");
    cv::FileStorage file(path, cv::FileStorage::WRITE);
    if (withSize) {
        file << "image_width" << 640;
        file << "image_height" << 480;
    }
    file << "camera_matrix" << cv::Mat(calibration.matrix);
    file << "distortion_coefficients" << cv::Mat(calibration.coefficients).reshape(1, 1);
    return path;
}

struct Difference {
    double rms, largest;
};

// How far OpenCV's distortion and the camera file's lie apart over the image, corners included.
Difference difference(const Calibration& calibration, const zelk::CameraParams& record) {
    Difference d{0, 0};
    int count = 0;
    for (int j = 0; j <= 40; ++j) {
        for (int i = 0; i <= 40; ++i) {
            const cv::Point2d pixel(639.0 * i / 40, 479.0 * j / 40);
            std::vector<cv::Point2d> normalised, observed;
            cv::undistortPoints(std::vector<cv::Point2d>{pixel}, normalised, calibration.matrix,
                                calibration.coefficients, cv::noArray(), cv::noArray(),
                                cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-12));
            cv::projectPoints(std::vector<cv::Point3d>{{normalised[0].x, normalised[0].y, 1}}, cv::Vec3d(), cv::Vec3d(),
                              calibration.matrix, calibration.coefficients, observed);
            const cv::Vec3d ideal = calibration.matrix * cv::Vec3d(normalised[0].x, normalised[0].y, 1);
            double ox, oy;
            EXPECT_EQ(zelk::idealToObserved(record.distortion, ideal[0], ideal[1], &ox, &oy), 0);
            const double error = std::hypot(ox - observed[0].x, oy - observed[0].y);
            d.rms += error * error;
            d.largest = std::max(d.largest, error);
            ++count;
        }
    }
    d.rms = std::sqrt(d.rms / count);
    return d;
}

// "differ over the 640 x 480 image by R px RMS, L px at most"
double reportedLargest(const std::string& output) {
    const size_t at = output.find("image by ");
    double rms = -1, largest = -1;
    if (at == std::string::npos || std::sscanf(output.c_str() + at, "image by %lf px RMS, %lf px", &rms, &largest) != 2)
        ADD_FAILURE() << output;
    return largest;
}

class CalibrationImport : public ::testing::TestWithParam<Calibration> {};

TEST_P(CalibrationImport, KeepsTheCameraMatrixAndReportsWhatTheRadialTermMisses) {
    const Calibration& calibration = GetParam();
    const std::string camera = scratchPath("imported.dat");
    const ZelkRun run = runZelk("camera import " + writeCalibration(calibration) + " -o " + camera);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    zelk::CameraParams record{};
    ASSERT_EQ(zelk::loadCameraParams(camera.c_str(), 1, &record), 0);
    EXPECT_EQ(record.imageWidth, 640);
    EXPECT_EQ(record.imageHeight, 480);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(record.projection[r][c], c < 3 ? calibration.matrix(r, c) : 0.0);
    EXPECT_EQ(record.distortion[0], calibration.matrix(0, 2));
    EXPECT_EQ(record.distortion[1], calibration.matrix(1, 2));

    const Difference actual = difference(calibration, record);
    const double reported = reportedLargest(run.output);
    EXPECT_NEAR(reported, actual.largest, 0.05 * actual.largest + 0.002) << run.output;
    // The fit is at least as close as dropping the distortion.
    zelk::CameraParams undistorted = record;
    undistorted.distortion[2] = 0;
    undistorted.distortion[3] = 1;
    const Difference dropped = difference(calibration, undistorted);
    EXPECT_LE(actual.rms, dropped.rms + 1e-9);
    std::printf("%s: fitted %.3f px RMS, %.3f px at most; without distortion %.3f px RMS, %.3f px at most\n",
                calibration.name, actual.rms, actual.largest, dropped.rms, dropped.largest);
    EXPECT_EQ(run.output.find("warning") != std::string::npos, reported > 1.0) << run.output;
}

// k1 alone with fx = fy is exactly our model: k = -k1 / f^2 x 1e8, scale 1.
TEST(CalibrationImport, ASingleRadialTermIsTakenOverExactly) {
    const Calibration calibration{"radial", {700, 0, 321, 0, 700, 238.5, 0, 0, 1}, {-0.2, 0, 0, 0, 0}};
    const std::string camera = scratchPath("radial.dat");
    const ZelkRun run = runZelk("camera import " + writeCalibration(calibration) + " -o " + camera);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    zelk::CameraParams record{};
    ASSERT_EQ(zelk::loadCameraParams(camera.c_str(), 1, &record), 0);
    EXPECT_NEAR(record.distortion[2], 0.2 / (700.0 * 700.0) * 1e8, 1e-6);
    EXPECT_NEAR(record.distortion[3], 1.0, 1e-9);
    EXPECT_LT(reportedLargest(run.output), 0.001);
}

INSTANTIATE_TEST_SUITE_P(
    Lenses, CalibrationImport,
    ::testing::Values(
        Calibration{"none", {650, 0, 319.5, 0, 650, 239.5, 0, 0, 1}, {0, 0, 0, 0}},
        Calibration{"webcam", {612.4, 0, 331.2, 0, 615.9, 244.7, 0, 0, 1}, {0.11, -0.24, 0.001, -0.0008, 0.09}},
        Calibration{"wide", {420, 0, 318, 0, 420, 242, 0, 0, 1}, {-0.33, 0.12, 0, 0, -0.02}},
        Calibration{"rational", {800, 0, 320, 0, 790, 240, 0, 0, 1}, {0.05, -0.1, 0, 0, 0, 0.01, 0.02, 0.005}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CameraWrite, SizeAndRadialTermAboutThePrincipalPoint) {
    const std::string camera = scratchPath("written.dat");
    const ZelkRun run = runZelk("camera write --size 800x600 --fx 720 --cx 402 --cy 297 --radial 25 -o " + camera);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    zelk::CameraParams record{};
    ASSERT_EQ(zelk::loadCameraParams(camera.c_str(), 1, &record), 0);
    EXPECT_EQ(record.imageWidth, 800);
    EXPECT_EQ(record.imageHeight, 600);
    EXPECT_EQ(record.projection[1][1], 720.0);
    const double distortion[4] = {402, 297, 25, 1};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(record.distortion[i], distortion[i]);
}

TEST(CalibrationImport, TakesTheSizeFromTheCommandLineWhenTheFileLacksIt) {
    const Calibration calibration{"sizeless", {500, 0, 160, 0, 500, 120, 0, 0, 1}, {0, 0, 0, 0}};
    const std::string path = writeCalibration(calibration, false), camera = scratchPath("sized.dat");
    const ZelkRun refused = runZelk("camera import " + path + " -o " + camera);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("give --size"), std::string::npos) << refused.output;
    ASSERT_EQ(runZelk("camera import " + path + " --size 320x240 -o " + camera).exitCode, 0);
    zelk::CameraParams record{};
    ASSERT_EQ(zelk::loadCameraParams(camera.c_str(), 1, &record), 0);
    EXPECT_EQ(record.imageWidth, 320);
}

}  // namespace
