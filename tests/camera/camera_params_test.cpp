#include "camera/camera_params.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
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

// A record written out byte by byte, most significant first: the reader takes each field
// from its bytes, and the tests' file writer gives the same bytes back.
TEST(CameraFile, BytesAreBigEndian) {
    std::vector<unsigned char> bytes(136, 0);
    const std::vector<std::pair<int, std::vector<unsigned char>>> fields = {
        {0, {0, 0, 2, 0x80}},            // width 640
        {4, {0xFF, 0xFF, 0xFE, 0x20}},   // height -480
        {8, {0x3F, 0xF0}},               // projection[0][0] 1.0
        {64, {0x3F, 0xE0}},              // projection[1][3] 0.5
        {88, {0x40, 0x59, 0x0C, 0xCC}},  // projection[2][2] 100.199951171875
        {128, {0xC0, 0x04}}};            // distortion[3] -2.5
    for (const auto& field : fields) std::copy(field.second.begin(), field.second.end(), bytes.begin() + field.first);
    const std::string path = writeCameraFile(bytes);
    CameraParams loaded;
    ASSERT_EQ(zelk::loadCameraParams(path.c_str(), 1, &loaded), 0);
    std::remove(path.c_str());
    CameraParams expected{};
    expected.imageWidth = 640;
    expected.imageHeight = -480;
    expected.projection[0][0] = 1.0;
    expected.projection[1][3] = 0.5;
    expected.projection[2][2] = 100.199951171875;
    expected.distortion[3] = -2.5;
    EXPECT_TRUE(sameCamera(loaded, expected));
    EXPECT_EQ(cameraFileBytes({expected}), bytes);
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
