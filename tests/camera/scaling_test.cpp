#include "camera/scaling.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/support/camera_file.h"

using zelk::CameraParams;

namespace {

struct ScaleCase {
    int32_t width, height;
    double s;
};
void PrintTo(const ScaleCase& c, std::ostream* out) { *out << c.width << "x" << c.height; }

class Scaling : public testing::TestWithParam<ScaleCase> {};

// Every value follows the width ratio, whatever the height ratio.
TEST_P(Scaling, UsesTheWidthRatioEverywhere) {
    const CameraParams source = sampleCamera();
    const ScaleCase c = GetParam();
    CameraParams scaled;
    ASSERT_EQ(zelk::scaleCameraParams(&source, c.width, c.height, &scaled), 0);
    EXPECT_EQ(scaled.imageWidth, c.width);
    EXPECT_EQ(scaled.imageHeight, c.height);
    for (int col = 0; col < 4; ++col) {
        EXPECT_DOUBLE_EQ(scaled.projection[0][col], c.s * source.projection[0][col]);
        EXPECT_DOUBLE_EQ(scaled.projection[1][col], c.s * source.projection[1][col]);
        EXPECT_EQ(scaled.projection[2][col], source.projection[2][col]);
    }
    EXPECT_DOUBLE_EQ(scaled.distortion[0], c.s * source.distortion[0]);
    EXPECT_DOUBLE_EQ(scaled.distortion[1], c.s * source.distortion[1]);
    EXPECT_DOUBLE_EQ(scaled.distortion[2], source.distortion[2] / (c.s * c.s));
    EXPECT_EQ(scaled.distortion[3], source.distortion[3]);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Scaling,
                         testing::Values(ScaleCase{640, 480, 1.0}, ScaleCase{640, 360, 1.0}, ScaleCase{320, 240, 0.5},
                                         ScaleCase{1280, 720, 2.0}, ScaleCase{800, 600, 1.25}),
                         [](const testing::TestParamInfo<ScaleCase>& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

}  // namespace
