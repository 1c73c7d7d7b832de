#include "plugin/frame_pump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "camera/camera_params.h"
#include "tests/plugin/host_record_buffer.h"
#include "tests/support/camera_file.h"
#include "tests/support/fake_video.h"
#include "tests/support/frames.h"
#include "tests/support/paths.h"

using Calls = std::vector<std::string>;

namespace {

// A calibration told apart from sampleCamera() by its unscaled third row.
zelk::CameraParams givenCamera() {
    zelk::CameraParams camera = sampleCamera();
    camera.projection[2][3] = 42.0;
    return camera;
}

class FramePump : public testing::Test {
protected:
    void SetUp() override {
        fakeVideo.reset();
        cameraPath = scratchPath("camera.dat");
        writeBytes(cameraPath, cameraFileBytes({givenCamera()}));
    }
    void TearDown() override {
        std::remove(cameraPath.c_str());
        fakeVideo.reset();
    }
    // Zelk_Init with the printout captured into `printed` and the call log restarted.
    int init(HostString* video, HostString* camera) {
        fakeVideo.calls.clear();
        testing::internal::CaptureStdout();
        const int result = Zelk_Init(video, camera);
        std::fflush(stdout);
        printed = testing::internal::GetCapturedStdout();
        return result;
    }
    int initGiven() {
        TestHostString video("video.xml"), camera(cameraPath.c_str());
        return init(video.get(), camera.get());
    }
    static const unsigned char* frame() { return zelk::pluginState()->frame.pixels; }
    static int32_t markerCount() { return zelk::pluginState()->detector.markers.count; }
    static const zelk::CameraParams* detectorCamera() { return &zelk::pluginState()->detector.camera; }
    // Starts a session and detects a frame with one marker border, which stays in `pixels`.
    void startWithOneMarker(TestFrame* pixels) {
        ASSERT_EQ(initGiven(), 0);
        *pixels = blankFrame(640, 480);
        drawMarkerBorder(*pixels, 320, 240, 120, 0.2);
        fakeVideo.nextFrame = pixels->data();
        ASSERT_EQ(Zelk_Update(100), 0);
        ASSERT_EQ(markerCount(), 1);
    }
    std::string cameraPath;
    std::string printed;
};

TEST_F(FramePump, InitOpensScalesAndStartsCapture) {
    fakeVideo.width = 1280;
    fakeVideo.height = 720;
    ASSERT_EQ(initGiven(), 0);
    EXPECT_EQ(fakeVideo.calls, (Calls{"videoOpen", "videoInqSize", "videoCapStart"}));
    EXPECT_EQ(fakeVideo.openedConfig, "video.xml");
    EXPECT_EQ(Zelk_getWidth(), 1280 * 1024);
    EXPECT_EQ(Zelk_getHeight(), 720 * 1024);

    EXPECT_EQ(detectorCamera()->imageWidth, 1280);
    EXPECT_EQ(detectorCamera()->imageHeight, 720);
    EXPECT_DOUBLE_EQ(detectorCamera()->projection[0][0], 2 * givenCamera().projection[0][0]);
    EXPECT_EQ(detectorCamera()->projection[2][3], 42.0);

    EXPECT_EQ(printed.rfind("--------------------------------------\nSIZE = 1280, 720\n", 0), 0u) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 7);
}

enum class Arg { Null, NullChars, Given };

class DefaultPaths : public FramePump, public testing::WithParamInterface<std::tuple<Arg, Arg>> {};

// Each argument falls back to its own default, whatever the other one is.
TEST_P(DefaultPaths, EachArgumentByItself) {
    namespace fs = std::filesystem;
    const fs::path home = fs::current_path();
    const fs::path folder = scratchPath("cwd");
    fs::create_directories(folder / "Data");
    writeBytes((folder / "Data" / "camera_para.dat").string(), cameraFileBytes({sampleCamera()}));
    fs::current_path(folder);

    const auto [videoArg, cameraArg] = GetParam();
    TestHostString videoGiven("video.xml"), videoNull(nullptr), camera(cameraPath.c_str()), cameraNull(nullptr);
    HostString* video = videoArg == Arg::Given       ? videoGiven.get()
                        : videoArg == Arg::NullChars ? videoNull.get()
                                                     : nullptr;
    HostString* cam = cameraArg == Arg::Given ? camera.get() : cameraArg == Arg::NullChars ? cameraNull.get() : nullptr;
    const int result = init(video, cam);
    fs::current_path(home);
    fs::remove_all(folder);

    ASSERT_EQ(result, 0);
    EXPECT_EQ(fakeVideo.openedConfig, videoArg == Arg::Given ? "video.xml" : "Data\\WDM_camera_flipV.xml");
    EXPECT_EQ(detectorCamera()->projection[2][3], cameraArg == Arg::Given ? 42.0 : 0.0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, DefaultPaths,
                         testing::Combine(testing::Values(Arg::Null, Arg::NullChars, Arg::Given),
                                          testing::Values(Arg::Null, Arg::NullChars, Arg::Given)));

struct InitFailure {
    const char* name;
    int openResult, inqSizeResult, width, height;
    int cameraBytes;  // -1: no camera file
    int cameraWidth;
    int expected;
};
void PrintTo(const InitFailure& c, std::ostream* out) { *out << c.name; }

class InitFailures : public FramePump, public testing::WithParamInterface<InitFailure> {};

// A failed Init closes nothing, prints nothing and keeps the current camera, but forgets
// the frame of the earlier session; the video size reported is the one the size query
// wrote, also when refused (0 x 0 when the query failed, the earlier one when the device
// did not open).
TEST_P(InitFailures, ReturnTheirCodeAndLeaveTheDeviceOpen) {
    fakeVideo.width = 320;
    fakeVideo.height = 240;
    ASSERT_EQ(initGiven(), 0);
    const zelk::CameraParams before = *detectorCamera();
    std::vector<unsigned char> pixels(320 * 240 * 4);
    fakeVideo.nextFrame = pixels.data();
    ASSERT_EQ(Zelk_Update(100), 0);
    ASSERT_EQ(frame(), pixels.data());

    const InitFailure c = GetParam();
    fakeVideo.openResult = c.openResult;
    fakeVideo.inqSizeResult = c.inqSizeResult;
    fakeVideo.width = c.width;
    fakeVideo.height = c.height;
    zelk::CameraParams camera = givenCamera();
    camera.imageWidth = c.cameraWidth;
    std::vector<unsigned char> bytes = cameraFileBytes({camera});
    std::remove(cameraPath.c_str());
    if (c.cameraBytes >= 0) {
        bytes.resize(c.cameraBytes);
        writeBytes(cameraPath, bytes);
    }

    EXPECT_EQ(initGiven(), c.expected);
    const Calls expectedCalls = c.expected == -1 ? Calls{"videoOpen"} : Calls{"videoOpen", "videoInqSize"};
    EXPECT_EQ(fakeVideo.calls, expectedCalls);
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(sameCamera(*detectorCamera(), before));
    EXPECT_EQ(frame(), nullptr);
    const int32_t width = c.expected == -1 ? 320 : c.inqSizeResult < 0 ? 0 : c.width;
    const int32_t height = c.expected == -1 ? 240 : c.inqSizeResult < 0 ? 0 : c.height;
    EXPECT_EQ(Zelk_getWidth(), static_cast<int32_t>(static_cast<uint32_t>(width) << 10));
    EXPECT_EQ(Zelk_getHeight(), static_cast<int32_t>(static_cast<uint32_t>(height) << 10));
}

INSTANTIATE_TEST_SUITE_P(Cases, InitFailures,
                         testing::Values(InitFailure{"OpenFails", -1, 0, 640, 480, 136, 640, -1},
                                         InitFailure{"SizeFails", 0, -1, 640, 480, 136, 640, -2},
                                         InitFailure{"ZeroWidth", 0, 0, 0, 480, 136, 640, -2},
                                         InitFailure{"ZeroHeight", 0, 0, 640, 0, 136, 640, -2},
                                         InitFailure{"NegativeWidth", 0, 0, -640, 480, 136, 640, -2},
                                         InitFailure{"OverLabellingCapacity", 0, 0, 1025, 1024, 136, 640, -2},
                                         InitFailure{"ProductOverflows", 0, 0, INT_MAX, INT_MAX, 136, 640, -2},
                                         InitFailure{"NoCameraFile", 0, 0, 640, 480, -1, 640, -3},
                                         InitFailure{"CameraFileShort", 0, 0, 640, 480, 135, 640, -3},
                                         InitFailure{"CameraWidthZero", 0, 0, 640, 480, 136, 0, -3}),
                         [](const testing::TestParamInfo<InitFailure>& info) { return info.param.name; });

class AcceptedSize : public FramePump, public testing::WithParamInterface<std::pair<int, int>> {};

// Every size Zelk_Init accepts is detected frame after frame; a side below 3 leaves no
// pixel to label, so such a frame simply has no markers.
TEST_P(AcceptedSize, FramesAreDetectedWithoutClosingTheDevice) {
    fakeVideo.width = GetParam().first;
    fakeVideo.height = GetParam().second;
    ASSERT_EQ(initGiven(), 0);
    EXPECT_EQ(Zelk_getWidth(), static_cast<int32_t>(static_cast<uint32_t>(fakeVideo.width) << 10));
    std::vector<unsigned char> pixels(size_t(fakeVideo.width) * fakeVideo.height * 4, 0);
    fakeVideo.nextFrame = pixels.data();
    fakeVideo.capNextResult = 4;
    for (int update = 0; update < 2; update++) {
        fakeVideo.calls.clear();
        EXPECT_EQ(Zelk_Update(100), 4);
        EXPECT_EQ(fakeVideo.calls, (Calls{"videoGetImage", "videoInqSize", "videoCapNext"}));
        EXPECT_EQ(frame(), pixels.data());
        EXPECT_EQ(markerCount(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, AcceptedSize,
                         testing::Values(std::make_pair(1, 1), std::make_pair(640, 2), std::make_pair(2, 640),
                                         std::make_pair(1048576, 1), std::make_pair(1, 1048576), std::make_pair(3, 3),
                                         std::make_pair(1024, 1024)));

TEST_F(FramePump, UpdateWithoutFrameReturnsZeroAndClearsTheFrame) {
    ASSERT_EQ(initGiven(), 0);
    std::vector<unsigned char> pixels(640 * 480 * 4);
    fakeVideo.nextFrame = pixels.data();
    ASSERT_EQ(Zelk_Update(100), 0);
    ASSERT_EQ(frame(), pixels.data());

    fakeVideo.nextFrame = nullptr;
    fakeVideo.calls.clear();
    EXPECT_EQ(Zelk_Update(100), 0);
    EXPECT_EQ(fakeVideo.calls, Calls{"videoGetImage"});
    EXPECT_EQ(frame(), nullptr);
}

class UpdateThreshold : public FramePump, public testing::WithParamInterface<std::tuple<int32_t, int32_t>> {};

// The threshold is a plain integer passed on as it is: a black border on a background of
// 254 is found from 0 to 253; at 254 and above (any value clamps to 255) all is dark, below
// 0 nothing is. No value makes the pump refuse the frame.
TEST_P(UpdateThreshold, FrameIsDetectedAndHandedBack) {
    ASSERT_EQ(initGiven(), 0);
    const Bgra background{254, 254, 254, 255};
    TestFrame pixels = blankFrame(640, 480, background);
    drawMarkerBorder(pixels, 320, 240, 120, 0.2, kBlack, background);
    fakeVideo.nextFrame = pixels.data();
    fakeVideo.capNextResult = 5;
    fakeVideo.calls.clear();
    EXPECT_EQ(Zelk_Update(std::get<0>(GetParam())), 5);
    EXPECT_EQ(fakeVideo.calls, (Calls{"videoGetImage", "videoInqSize", "videoCapNext"}));
    EXPECT_EQ(frame(), pixels.data());
    EXPECT_EQ(markerCount(), std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Values, UpdateThreshold,
                         testing::Values(std::make_tuple(100, 1), std::make_tuple(0, 1), std::make_tuple(253, 1),
                                         std::make_tuple(254, 0), std::make_tuple(-1, 0), std::make_tuple(255, 0),
                                         std::make_tuple(INT32_MAX, 0), std::make_tuple(INT32_MIN, 0)));

// The threshold reaches detection as it is: a border whose pixels sum to exactly 3 x 100,
// on a background one above, is dark at 100 only (not at 99, nor at 100 << 10).
class UpdateExactThreshold : public FramePump, public testing::WithParamInterface<std::tuple<int32_t, int32_t>> {};
TEST_P(UpdateExactThreshold, FindsTheBorderOnlyAtThatThreshold) {
    ASSERT_EQ(initGiven(), 0);
    const Bgra background{101, 100, 100, 255}, border{100, 100, 100, 255};
    TestFrame pixels = blankFrame(640, 480, background);
    drawMarkerBorder(pixels, 320, 240, 120, 0.2, border, background);
    fakeVideo.nextFrame = pixels.data();
    ASSERT_EQ(Zelk_Update(std::get<0>(GetParam())), 0);
    EXPECT_EQ(markerCount(), std::get<1>(GetParam()));
}
INSTANTIATE_TEST_SUITE_P(Thresholds, UpdateExactThreshold,
                         testing::Values(std::make_tuple(100, 1), std::make_tuple(99, 0),
                                         std::make_tuple(100 << 10, 0)));

// Closing the device releases its frame buffer, so the frame is forgotten.
TEST_F(FramePump, QuitStopsClosesAndForgetsTheFrame) {
    ASSERT_EQ(initGiven(), 0);
    std::vector<unsigned char> pixels(640 * 480 * 4);
    fakeVideo.nextFrame = pixels.data();
    ASSERT_EQ(Zelk_Update(100), 0);
    fakeVideo.closeResult = -4;
    fakeVideo.calls.clear();
    EXPECT_EQ(Zelk_Quit(), -4);
    EXPECT_EQ(fakeVideo.calls, (Calls{"videoCapStop", "videoClose"}));
    EXPECT_EQ(frame(), nullptr);
    EXPECT_EQ(Zelk_getWidth(), 640 * 1024);  // the rest of the state stays
}

// A frame that detection cannot label (more isolated dark dots than raw labels) stops and
// closes the device; the host sees videoClose's result and no markers.
TEST_F(FramePump, FailedDetectionClosesTheDeviceAndForgetsFrameAndMarkers) {
    TestFrame pixels;
    ASSERT_NO_FATAL_FAILURE(startWithOneMarker(&pixels));

    for (int y = 1; y < 479; y += 2)
        for (int x = 1; x < 639; x += 2) pixels.set(x, y, kBlack);
    fakeVideo.closeResult = 7;
    fakeVideo.calls.clear();
    EXPECT_EQ(Zelk_Update(100), 7);
    EXPECT_EQ(fakeVideo.calls, (Calls{"videoGetImage", "videoInqSize", "videoCapStop", "videoClose"}));
    EXPECT_EQ(frame(), nullptr);
    EXPECT_EQ(markerCount(), 0);
    fakeVideo.calls.clear();
    EXPECT_EQ(Zelk_Update(100), 0);  // later frames are outside capture
    EXPECT_EQ(fakeVideo.calls, (Calls{"videoGetImage", "videoCapNext"}));
}

struct SizeChange {
    const char* name;
    int inqSizeResult, width, height;
};
void PrintTo(const SizeChange& c, std::ostream* out) { *out << c.name; }

class VideoSizeChange : public FramePump, public testing::WithParamInterface<SizeChange> {};

// A library that changes its frame size after Init: the frames are handed back unread
// (the buffer here holds only the new size, so a read at the old size would overrun it),
// the last detected markers stay, and frames of the old size are used again.
TEST_P(VideoSizeChange, FramesOfAnotherSizeAreHandedBackUnread) {
    TestFrame first;
    ASSERT_NO_FATAL_FAILURE(startWithOneMarker(&first));

    const SizeChange c = GetParam();
    fakeVideo.inqSizeResult = c.inqSizeResult;
    fakeVideo.width = c.width;
    fakeVideo.height = c.height;
    TestFrame changed = blankFrame(std::max(c.width, 1), std::max(c.height, 1), kBlack);
    fakeVideo.nextFrame = changed.data();
    fakeVideo.capNextResult = 2;
    fakeVideo.calls.clear();
    EXPECT_EQ(Zelk_Update(100), 2);
    EXPECT_EQ(fakeVideo.calls, (Calls{"videoGetImage", "videoInqSize", "videoCapNext"}));
    EXPECT_EQ(frame(), nullptr);
    EXPECT_EQ(markerCount(), 1);
    EXPECT_EQ(Zelk_getWidth(), 640 * 1024);

    fakeVideo.reset();
    fakeVideo.nextFrame = first.data();
    EXPECT_EQ(Zelk_Update(100), 0);
    EXPECT_EQ(frame(), first.data());
}

INSTANTIATE_TEST_SUITE_P(Sizes, VideoSizeChange,
                         testing::Values(SizeChange{"Smaller", 0, 320, 240}, SizeChange{"Larger", 0, 1024, 768},
                                         SizeChange{"Turned", 0, 480, 640}, SizeChange{"SizeUnreadable", -1, 1, 1}),
                         [](const testing::TestParamInfo<SizeChange>& info) { return info.param.name; });

enum class Session { SizeFailed, CameraFailed, Quit };

class OutsideCapture : public FramePump, public testing::WithParamInterface<Session> {};

// Without a successful Init of the open device the frame size is unknown: a frame is
// handed back at once, neither detected nor kept for the picture export.
TEST_P(OutsideCapture, FramesAreHandedBackUnused) {
    ASSERT_EQ(initGiven(), 0);
    if (GetParam() == Session::SizeFailed) {
        fakeVideo.inqSizeResult = -1;
        ASSERT_EQ(initGiven(), -2);
    } else if (GetParam() == Session::CameraFailed) {
        std::remove(cameraPath.c_str());
        ASSERT_EQ(initGiven(), -3);
    } else {
        Zelk_Quit();
    }
    std::vector<unsigned char> pixels(640 * 480 * 4);
    fakeVideo.nextFrame = pixels.data();
    fakeVideo.capNextResult = 3;
    fakeVideo.calls.clear();
    EXPECT_EQ(Zelk_Update(100), 3);
    EXPECT_EQ(fakeVideo.calls, (Calls{"videoGetImage", "videoCapNext"}));
    EXPECT_EQ(frame(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sessions, OutsideCapture,
                         testing::Values(Session::SizeFailed, Session::CameraFailed, Session::Quit));

// A new session is a new video: its frame, markers and history start empty.
TEST_F(FramePump, InitForgetsTheFrameAndMarkersOfTheEarlierSession) {
    TestFrame pixels;
    ASSERT_NO_FATAL_FAILURE(startWithOneMarker(&pixels));
    fakeVideo.width = 1024;
    fakeVideo.height = 768;
    ASSERT_EQ(initGiven(), 0);
    EXPECT_EQ(frame(), nullptr);
    EXPECT_EQ(markerCount(), 0);
    EXPECT_EQ(zelk::pluginState()->detector.history.count, 0);
}

}  // namespace
