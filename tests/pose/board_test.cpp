// Board files and board poses: the parser over good and hostile texts, and the pose of a
// rendered board against the truth with some of its markers hidden.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "detect/detector.h"
#include "pose/board_pose.h"
#include "pose/pose_estimation.h"
#include "tests/support/board_scene.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/pose_fixtures.h"
#include "tests/support/test_detector.h"

namespace {

using zelk::BoardFileStatus;

struct ParseCase {
    const char* name;
    std::string text;
    BoardFileStatus status;
    int line;   // of the fault
    int count;  // markers read when valid
};

std::string manyMarkers(int count) {
    std::string text;
    for (int i = 0; i < count; i++)
        text += "marker " + std::to_string(100 * i) + " 0 0 50 p" + std::to_string(i) + "\n";
    return text;
}

class BoardParse : public testing::TestWithParam<ParseCase> {};

// Valid texts give their markers; every fault gives its status and line, and leaves the board as it was.
TEST_P(BoardParse, StatusLineAndMarkers) {
    const ParseCase& c = GetParam();
    zelk::BoardFile board;
    board.markers.push_back({{1, 2}, 3, 4, "untouched"});
    const zelk::BoardFileResult result = zelk::parseBoard(c.text.data(), c.text.size(), &board);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.line, c.line);
    if (c.status == zelk::BOARD_FILE_OK)
        EXPECT_EQ(int(board.markers.size()), c.count);
    else
        EXPECT_EQ(board.markers.at(0).pattern, "untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BoardParse,
    testing::Values(
        ParseCase{"grid", boardText(testBoard(6)), zelk::BOARD_FILE_OK, 0, 6},
        ParseCase{"crlf_tabs_comments_bom",
                  "\xEF\xBB\xBF# a board\r\n\r\n  marker\t1e1 -2.5 0 4e1 my file.patt # note\r\n", zelk::BOARD_FILE_OK,
                  0, 1},
        ParseCase{"no_final_newline", "marker 0 0 0 40 a", zelk::BOARD_FILE_OK, 0, 1},
        ParseCase{"fifty", manyMarkers(50), zelk::BOARD_FILE_OK, 0, 50},
        ParseCase{"empty", "", zelk::BOARD_FILE_EMPTY, 0, 0},
        ParseCase{"only_comments", "# nothing\n\n   # here\n", zelk::BOARD_FILE_EMPTY, 0, 0},
        ParseCase{"unknown_word", "marker 0 0 0 40 a\nmarkers 90 0 0 40 b\n", zelk::BOARD_FILE_SYNTAX, 2, 0},
        ParseCase{"no_pattern", "marker 0 0 0 40\n", zelk::BOARD_FILE_SYNTAX, 1, 0},
        ParseCase{"pattern_is_comment", "marker 0 0 0 40 # a\n", zelk::BOARD_FILE_SYNTAX, 1, 0},
        ParseCase{"too_few_numbers", "marker 0 0\n", zelk::BOARD_FILE_SYNTAX, 1, 0},
        ParseCase{"nul_byte", std::string("# x\nmarker 0 0 0 40 a\0b\n", 23), zelk::BOARD_FILE_SYNTAX, 2, 0},
        ParseCase{"not_a_number", "marker 0 zero 0 40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"nan", "marker nan 0 0 40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"infinity", "marker 0 inf 0 40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"beyond_double", "marker 0 0 1e400 40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"beyond_limit", "marker 2e6 0 0 40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"hexadecimal", "marker 0x10 0 0 40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"decimal_comma", "marker 1,5 0 0 40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"zero_width", "marker 0 0 0 0 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"negative_width", "marker 0 0 0 -40 a\n", zelk::BOARD_FILE_VALUE, 1, 0},
        ParseCase{"fifty_one", manyMarkers(51), zelk::BOARD_FILE_TOO_MANY, 51, 0},
        ParseCase{"named_twice", "marker 0 0 0 40 a\nmarker 90 0 0 40 a\n", zelk::BOARD_FILE_DUPLICATE, 0, 0},
        ParseCase{"overlapping", "marker 0 0 0 40 a\nmarker 30 0 45 40 b\n", zelk::BOARD_FILE_OVERLAP, 0, 0},
        ParseCase{"too_large", std::string(zelk::BOARD_FILE_MAX_BYTES + 1, ' '), zelk::BOARD_FILE_TOO_LARGE, 0, 0}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

// Whatever the bytes, the parser ends with a status, and what it accepts is a usable board.
TEST(BoardParseBytes, MutatedTextsGiveAStatusOrAUsableBoard) {
    const std::string good = boardText(testBoard(6));
    std::mt19937 random(5);
    for (int round = 0; round < 3000; round++) {
        std::string text = good;
        const int changes = 1 + int(random() % 8);
        for (int k = 0; k < changes; k++) text[random() % text.size()] = char(random() % 256);
        text.resize(random() % (text.size() + 1));
        zelk::BoardFile board;
        if (zelk::parseBoard(text.data(), text.size(), &board).status != zelk::BOARD_FILE_OK) continue;
        for (const zelk::BoardMarker& m : board.markers) {
            ASSERT_TRUE(std::isfinite(m.centre[0]) && std::isfinite(m.centre[1]) && std::isfinite(m.rotation));
            ASSERT_GT(m.width, 0);
            ASSERT_FALSE(m.pattern.empty());
        }
    }
}

TEST(BoardPatternPath, RelativeNamesAreBesideTheBoard) {
    EXPECT_EQ(zelk::boardPatternPath("dir/sub/b.board", "p/a.patt"), "dir/sub/p/a.patt");
    EXPECT_EQ(zelk::boardPatternPath("dir\\b.board", "a.patt"), "dir\\a.patt");
    EXPECT_EQ(zelk::boardPatternPath("b.board", "a.patt"), "a.patt");
    EXPECT_EQ(zelk::boardPatternPath("dir/b.board", "/abs/a.patt"), "/abs/a.patt");
    EXPECT_EQ(zelk::boardPatternPath("dir/b.board", "C:\\a.patt"), "C:\\a.patt");
}

// ---- poses ----

struct PoseCase {
    double x, y, distance, tilt, tiltAxis, spin;
};
const PoseCase VIEWS[] = {{0, 0, 700, 0, 0, 0}, {-60, 40, 900, 35, 20, 15}, {50, -30, 600, 55, 110, -70}};

// Hidden sets of the six markers: none, two, all but one (three ways).
const unsigned HIDDEN[] = {0u, 0b010010u, 0b111110u, 0b011111u, 0b101111u};

class BoardPose : public testing::TestWithParam<std::tuple<int, unsigned>> {
protected:
    void SetUp() override {
        const auto [view, hidden] = GetParam();
        const PoseCase& v = VIEWS[view];
        viewPose(v.x, v.y, v.distance, v.tilt, v.tiltAxis, v.spin, truth);
        board = testBoard(6);
        detector = newDetector();
        detector->camera = pinholeCamera();
        const std::string path = writeBoardFiles(board);
        int32_t ids[6];
        for (int i = 0; i < 6; i++) {
            ids[i] = zelk::loadPattern(&detector->patterns,
                                       zelk::boardPatternPath(path.c_str(), board.markers[i].pattern).c_str());
            ASSERT_EQ(ids[i], i);
        }
        zelk::makeBoardModel(board, ids, &model);
        zelk::synth::RenderOptions options;
        options.noise = 2;
        options.blur = 0.6;
        frame = renderBoard(detector->camera, board, truth, hidden, options);
        const zelk::FrameImage image{frame.data(), 640, 480, 640 * 4};
        ASSERT_EQ(zelk::detectMarkers(detector.get(), &image, 100), 0);
        for (int i = 0; i < 6; i++) {
            seen[i] = nullptr;
            for (int32_t m = 0; m < detector->markers.count; m++)
                if (detector->markers.records[m].patternId == i) seen[i] = &detector->markers.records[m];
            EXPECT_EQ(seen[i] != nullptr, !(hidden >> i & 1u)) << "marker " << i;
        }
        visible = 6 - __builtin_popcount(hidden);
    }
    void expectNearTruth(const double pose[3][4], double degrees) {
        EXPECT_LT(rotationDifferenceDegrees(pose, truth), degrees);
        const double distance =
            std::hypot(pose[0][3] - truth[0][3], pose[1][3] - truth[1][3], pose[2][3] - truth[2][3]);
        EXPECT_LT(distance, 0.02 * truth[2][3]);
    }

    double truth[3][4];
    zelk::BoardFile board;
    zelk::BoardModel model;
    std::unique_ptr<zelk::Detector> detector;
    std::vector<unsigned char> frame;
    const zelk::MarkerRecord* seen[6];
    int visible = 0;
};

// With several markers in view the pose is near the truth; with one it is that marker's own
// least-squares pose, moved by the marker's place on the board.
TEST_P(BoardPose, NearTheTruthWithTheMarkersInView) {
    double pose[3][4];
    const zelk::BoardPoseResult fit = zelk::estimateBoardPose(&model, seen, &detector->camera, nullptr, pose);
    ASSERT_GE(fit.fitError, 0);
    EXPECT_EQ(fit.markersUsed, visible);
    if (visible > 1) return expectNearTruth(pose, 1.0);
    int only = 0;
    while (!seen[only]) only++;
    double alone[3][4], placed[3][4];
    const double centre[2] = {0, 0};
    ASSERT_GE(zelk::estimatePrecisePose(seen[only], &detector->camera, centre, 50, nullptr, alone), 0);
    boardMarkerPose(board.markers[only], pose, placed);
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) EXPECT_NEAR(placed[r][c], alone[r][c], c < 3 ? 1e-6 : 1e-3);
}

// A marker read as another pattern (its corners placed elsewhere on the board) is left out.
using BoardMisread = BoardPose;

TEST_P(BoardMisread, IsLeftOut) {
    int first = 0;
    while (!seen[first]) first++;
    int other = first + 1;
    while (!seen[other]) other++;
    seen[first] = seen[other];  // the first marker's record is really the other's
    double pose[3][4];
    const zelk::BoardPoseResult fit = zelk::estimateBoardPose(&model, seen, &detector->camera, nullptr, pose);
    EXPECT_EQ(fit.markersUsed, visible - 1);
    expectNearTruth(pose, 1.5);
}

INSTANTIATE_TEST_SUITE_P(ViewsAndHidden, BoardPose, testing::Combine(testing::Range(0, 3), testing::ValuesIn(HIDDEN)));
INSTANTIATE_TEST_SUITE_P(ViewsAndHidden, BoardMisread,
                         testing::Combine(testing::Range(0, 3), testing::Values(0u, 0b010010u)));

TEST(BoardPoseInput, NothingInViewGivesNoPose) {
    zelk::BoardModel model = {};
    zelk::makeBoardModel(testBoard(2), std::vector<int32_t>{0, 1}.data(), &model);
    const zelk::MarkerRecord* seen[2] = {nullptr, nullptr};
    const zelk::CameraParams camera = pinholeCamera();
    double pose[3][4] = {{7}};
    const zelk::BoardPoseResult fit = zelk::estimateBoardPose(&model, seen, &camera, nullptr, pose);
    EXPECT_LT(fit.fitError, 0);
    EXPECT_EQ(fit.markersUsed, 0);
    EXPECT_EQ(pose[0][0], 7);
    EXPECT_LT(zelk::estimateBoardPose(nullptr, seen, &camera, nullptr, pose).fitError, 0);
}

}  // namespace
