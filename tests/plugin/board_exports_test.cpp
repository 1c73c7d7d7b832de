// The board exports: registration's result codes, freeing, and the pose of a rendered board
// through the plug-in with some of its markers hidden.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "detect/pattern_library.h"
#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "plugin/host_records.h"
#include "plugin/marker_query.h"
#include "tests/plugin/host_record_buffer.h"
#include "tests/support/board_scene.h"
#include "tests/support/camera_file.h"
#include "tests/support/fake_video.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/pose_fixtures.h"

namespace {

const char* hostChr(HostString* string) { return zelk::hostStringChars(string); }
void* lookupChr(const char* name) {
    return std::strcmp(name, "_chr") == 0 ? reinterpret_cast<void*>(hostChr) : nullptr;
}

int32_t registerBoard(const std::string& path) {
    TestHostString name(path.c_str());
    return Zelk_registerBoard(name.get());
}

int slotsInUse() {
    int used = 0;
    for (bool inUse : zelk::pluginState()->detector.patterns.slotInUse) used += inUse;
    return used;
}

class BoardExports : public testing::Test {
protected:
    void SetUp() override {
        TestHostInterface host(lookupChr);
        A6_DLLAPI(host.get());
        freeAll();
        fakeVideo.reset();
        board = testBoard(6);
        path = writeBoardFiles(board);
    }
    void TearDown() override {
        Zelk_Quit();
        freeAll();
        fakeVideo.reset();
    }
    static void freeAll() {
        for (int id = 0; id < zelk::BOARD_SLOTS; id++) Zelk_freeBoard(id);
        for (int id = 0; id < zelk::PATTERN_SLOTS; id++) Zelk_freeMarker(id);
    }
    // Starts the fake video through the pinhole camera and detects the board at the view
    // with the hidden markers left out.
    void showBoard(unsigned hidden) {
        const std::string camera = scratchPath("camera.dat");
        writeBytes(camera, cameraFileBytes({pinholeCamera()}));
        TestHostString video("video.xml"), cameraName(camera.c_str());
        testing::internal::CaptureStdout();
        ASSERT_EQ(Zelk_Init(video.get(), cameraName.get()), 0);
        testing::internal::GetCapturedStdout();
        viewPose(20, -10, 800, 30, 60, 25, truth);
        frame = renderBoard(pinholeCamera(), board, truth, hidden, zelk::synth::RenderOptions());
        fakeVideo.nextFrame = frame.data();
        ASSERT_EQ(Zelk_Update(100), 0);
    }

    zelk::BoardFile board;
    std::string path;
    double truth[3][4];
    std::vector<unsigned char> frame;
};

// Every failing registration says why and keeps nothing loaded.
TEST_F(BoardExports, RegistrationResultCodes) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const auto file = [&](const std::string& name, const std::string& text) {
        writeTextFile((folder / name).string(), text);
        return (folder / name).string();
    };
    writePatternFile((folder / "copy_of_1.patt").string(), rotatePicture(makePatternPicture(1), 1));
    const struct {
        std::string path;
        int32_t result;
    } cases[] = {
        {(folder / "missing.board").string(), -1},
        {folder.string(), -1},  // a folder
        {file("bad.board", "marker 0 0 0 nan board_0.patt\n"), -2},
        {file("empty.board", "# nothing\n"), -2},
        {file("no_pattern.board", "marker 0 0 0 50 board_0.patt\nmarker 90 0 0 50 none.patt\n"), -3},
        {file("not_a_pattern.board", "marker 0 0 0 50 board_0.patt\nmarker 90 0 0 50 bad.board\n"), -3},
        {file("alike.board", "marker 0 0 0 50 board_1.patt\nmarker 90 0 0 50 copy_of_1.patt\n"), -3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(registerBoard(c.path), c.result) << c.path;
        EXPECT_EQ(slotsInUse(), 0) << c.path;
    }
    EXPECT_EQ(Zelk_registerBoard(nullptr), -1);
    A6_DLLAPI(nullptr);  // no _chr to read the host string with
    EXPECT_EQ(registerBoard(path), -1);
}

TEST_F(BoardExports, BoardsTakeSlotsAndTheirPatternsUntilFreed) {
    const std::string one = writeBoardFiles(testBoard(1));
    for (int32_t id = 0; id < zelk::BOARD_SLOTS; id++) ASSERT_EQ(registerBoard(one), id);
    EXPECT_EQ(registerBoard(one), -4);
    EXPECT_EQ(slotsInUse(), zelk::BOARD_SLOTS);
    EXPECT_EQ(zelk::patternWidth(3), 50.0);  // the width the board gives
    for (int32_t id : {-1, zelk::BOARD_SLOTS, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(Zelk_freeBoard(id), -1);
        EXPECT_EQ(Zelk_getBoard(id, nullptr, nullptr, 0), -2);
        EXPECT_EQ(Zelk_getBoardMarkerCount(id), -2);
    }
    EXPECT_EQ(Zelk_freeBoard(3), 1);
    EXPECT_EQ(Zelk_freeBoard(3), -1);
    EXPECT_EQ(Zelk_getBoard(3, nullptr, nullptr, 0), -2);
    EXPECT_EQ(slotsInUse(), zelk::BOARD_SLOTS - 1);
    EXPECT_EQ(registerBoard(one), 3);
}

class BoardQuery : public BoardExports, public testing::WithParamInterface<unsigned> {};

// The pose reaches the host's records as a marker's does, from any markers in view.
TEST_P(BoardQuery, PoseFromTheMarkersInView) {
    ASSERT_EQ(registerBoard(path), 0);
    const unsigned hidden = GetParam();
    showBoard(hidden);
    const int visible = 6 - __builtin_popcount(hidden);
    EXPECT_EQ(Zelk_getBoardMarkerCount(0), visible);
    HostVector position;
    HostAngle angles;
    if (visible == 0) {
        EXPECT_EQ(Zelk_getBoard(0, &position, &angles, 0), -3);
        double matrix[12], error;
        EXPECT_EQ(Zelk_getLastPose(matrix, &error), -2);
        return;
    }
    ASSERT_EQ(Zelk_getBoard(0, &position, &angles, 0), 0);
    double matrix[12], error;
    ASSERT_EQ(Zelk_getLastPose(matrix, &error), 0);
    const double(*pose)[4] = reinterpret_cast<const double(*)[4]>(matrix);
    EXPECT_LT(rotationDifferenceDegrees(pose, truth), visible > 1 ? 1.0 : 5.0);
    EXPECT_NEAR(pose[2][3], truth[2][3], (visible > 1 ? 0.02 : 0.05) * truth[2][3]);
    HostVector expected;
    zelk::poseToHostRecords(pose, &expected, nullptr);
    EXPECT_EQ(std::memcmp(&position, &expected, sizeof position), 0);
    // Null records are skipped; the camera's place in the board's frame is the inverse.
    EXPECT_EQ(Zelk_getBoard(0, nullptr, nullptr, 1), 0);
    double inverse[12];
    ASSERT_EQ(Zelk_getLastPose(inverse, &error), 0);
    EXPECT_NEAR(inverse[3], -(pose[0][0] * matrix[3] + pose[1][0] * matrix[7] + pose[2][0] * matrix[11]), 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Hidden, BoardQuery, testing::Values(0u, 0b101010u, 0b111011u, 0b111111u));

// A pattern the host frees is no longer the board's, even when another takes its slot.
TEST_F(BoardExports, AFreedPatternLeavesTheBoard) {
    ASSERT_EQ(registerBoard(path), 0);
    ASSERT_EQ(Zelk_freeMarker(2), 1);
    const std::string pattern = (std::filesystem::path(path).parent_path() / "board_2.patt").string();
    TestHostString same(pattern.c_str());
    ASSERT_EQ(Zelk_registerMarker(same.get()), 2);
    showBoard(0);
    EXPECT_EQ(Zelk_getBoardMarkerCount(0), 5);
    EXPECT_EQ(Zelk_getBoard(0, nullptr, nullptr, 0), 0);
    EXPECT_EQ(Zelk_freeBoard(0), 1);
    EXPECT_EQ(slotsInUse(), 1);  // the host's own pattern stays
}

}  // namespace
