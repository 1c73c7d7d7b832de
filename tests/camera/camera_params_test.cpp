#include "camera/camera_params.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/camera_file.h"
#include "tests/support/paths.h"

using zelk::CameraParams;

namespace {

CameraParams secondCamera() {
    CameraParams camera = sampleCamera();
    camera.imageWidth = 1280;
    camera.imageHeight = -7;
    camera.projection[2][3] = 42.0;
    camera.distortion[3] = 1.5;
    return camera;
}

std::string writeCameraFile(const std::vector<unsigned char>& bytes) {
    const std::string path = scratchPath("camera.dat");
    writeBytes(path, bytes);
    return path;
}

TEST(CameraFile, BytesAreBigEndian) {
    const std::vector<unsigned char> bytes = cameraFileBytes({sampleCamera()});
    ASSERT_EQ(bytes.size(), 136u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8),
              (std::vector<unsigned char>{0, 0, 2, 0x80, 0, 0, 1, 0xE0}));
    // projection[2][2] = 1.0 at offset 88: 0x3FF0000000000000.
    EXPECT_EQ(bytes[88], 0x3F);
    EXPECT_EQ(bytes[89], 0xF0);
}

TEST(CameraFile, LoadsEveryFieldOfTheFirstRecord) {
    const std::string path = writeCameraFile(cameraFileBytes({sampleCamera()}));
    CameraParams loaded;
    ASSERT_EQ(zelk::loadCameraParams(path.c_str(), 1, &loaded), 0);
    EXPECT_TRUE(sameCamera(loaded, sampleCamera()));
    std::remove(path.c_str());
}

TEST(CameraFile, LaterRecordsGoToTheFurtherPointersOrAreIgnored) {
    const std::string path = writeCameraFile(cameraFileBytes({sampleCamera(), secondCamera()}));
    CameraParams first, second;
    ASSERT_EQ(zelk::loadCameraParams(path.c_str(), 1, &first), 0);
    EXPECT_TRUE(sameCamera(first, sampleCamera()));
    ASSERT_EQ(zelk::loadCameraParams(path.c_str(), 2, &first, &second), 0);
    EXPECT_TRUE(sameCamera(first, sampleCamera()));
    EXPECT_TRUE(sameCamera(second, secondCamera()));

    // A third record is missing: failure, but the records read before stay converted.
    CameraParams third{};
    first = second = CameraParams{};
    EXPECT_EQ(zelk::loadCameraParams(path.c_str(), 3, &first, &second, &third), -1);
    EXPECT_TRUE(sameCamera(first, sampleCamera()));
    EXPECT_TRUE(sameCamera(second, secondCamera()));
    std::remove(path.c_str());
}

struct LoadFailure {
    const char* name;
    int fileBytes;  // -1: no file
    int count;
};
void PrintTo(const LoadFailure& c, std::ostream* out) { *out << c.name; }

class CameraFileFailure : public testing::TestWithParam<LoadFailure> {};

TEST_P(CameraFileFailure, ReturnsMinusOne) {
    std::vector<unsigned char> bytes = cameraFileBytes({sampleCamera()});
    const std::string path = scratchPath("camera.dat");
    if (GetParam().fileBytes >= 0) {
        bytes.resize(GetParam().fileBytes);
        writeBytes(path, bytes);
    }
    CameraParams loaded{};
    EXPECT_EQ(zelk::loadCameraParams(path.c_str(), GetParam().count, &loaded), -1);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cases, CameraFileFailure,
                         testing::Values(LoadFailure{"ShortByOneByte", 135, 1}, LoadFailure{"Empty", 0, 1},
                                         LoadFailure{"Missing", -1, 1}, LoadFailure{"CountZero", 136, 0},
                                         LoadFailure{"CountNegative", 136, -3}),
                         [](const testing::TestParamInfo<LoadFailure>& info) { return info.param.name; });

TEST(CameraFile, NullPathOrRecordFails) {
    const std::string path = writeCameraFile(cameraFileBytes({sampleCamera(), secondCamera()}));
    CameraParams loaded;
    EXPECT_EQ(zelk::loadCameraParams(nullptr, 1, &loaded), -1);
    EXPECT_EQ(zelk::loadCameraParams(path.c_str(), 1, nullptr), -1);
    EXPECT_EQ(zelk::loadCameraParams(path.c_str(), 2, &loaded, static_cast<CameraParams*>(nullptr)), -1);
    std::remove(path.c_str());
}

TEST(ByteOrder, ReversesAndSwapsBothWays) {
    const unsigned char word[4] = {1, 2, 3, 4};
    const unsigned char wide[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char out4[4], out8[8];
    zelk::reverseBytes32(word, out4);
    zelk::reverseBytes64(wide, out8);
    EXPECT_EQ(std::vector<unsigned char>(out4, out4 + 4), (std::vector<unsigned char>{4, 3, 2, 1}));
    EXPECT_EQ(std::vector<unsigned char>(out8, out8 + 8), (std::vector<unsigned char>{8, 7, 6, 5, 4, 3, 2, 1}));

    CameraParams camera = sampleCamera();
    zelk::byteSwapCameraParams(&camera);
    EXPECT_EQ(camera.imageWidth, static_cast<int32_t>(0x80020000));
    zelk::byteSwapCameraParams(&camera);
    EXPECT_TRUE(sameCamera(camera, sampleCamera()));
}

TEST(CameraPrintout, HasSevenLinesInTheFixedFormat) {
    CameraParams camera = sampleCamera();
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelk::printCameraParams(&camera), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "--------------------------------------\n"
              "SIZE = 640, 480\n"
              "Distortion factor = 320.500000 239.250000 -12.750000 0.998000\n"
              "700.50000 0.25000 318.75000 1.50000 \n"
              "0.00000 702.12500 241.50000 -2.50000 \n"
              "0.00000 0.00000 1.00000 0.00000 \n"
              "--------------------------------------\n");
}

}  // namespace
