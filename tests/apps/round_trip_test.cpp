// The path a user takes: zelk marker makes a marker, a synthetic scene shows it (zelk
// render), zelk pattern makes its pattern from the marker picture, from a printable sheet
// and from a rendered frame, and the plug-in identifies it with the right direction
// however the marker is turned in the image. Likewise for the printed fiducial families,
// whose border is one cell wide.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "detect/marker_record.h"
#include "platform/host/host.h"
#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "tests/apps/run_zelk.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

namespace {

namespace fs = std::filesystem;

constexpr double PI = 3.14159265358979323846;

std::vector<int> readValues(const std::string& path) {
    std::ifstream in(path);
    return std::vector<int>{std::istream_iterator<int>(in), {}};
}

// A scene of one marker at a fixed pose: turned by spin degrees in the image, tilted back
// by tilt degrees, across units to the right and 500 ahead. Returns the configuration; its truth goes to truth.
std::string writeScene(const std::string& marker, double spin, double tilt, double across, const std::string& truth) {
    const double s = spin * PI / 180, t = tilt * PI / 180;
    // camera-from-marker rotation Rx(tilt) Rz(spin) diag(1, -1, -1)
    const cv::Matx33d rotation = cv::Matx33d(1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t)) *
                                 cv::Matx33d(std::cos(s), -std::sin(s), 0, std::sin(s), std::cos(s), 0, 0, 0, 1) *
                                 cv::Matx33d(1, 0, 0, 0, -1, 0, 0, 0, -1);
    const double position[3] = {across, -20, 500};
    std::ostringstream pose;
    pose.precision(17);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) pose << rotation(r, c) << " ";
        pose << position[r] << (r < 2 ? " " : "");
    }
    const std::string config = scratchPath("scene.xml");
    writeTextFile(config, "<video>\n  <synthetic camera=\"" + sourcePath("Data/camera_para.dat") +
                              "\" frames=\"2\" noise=\"1.5\" blur=\"0.5\" truth=\"" + truth +
                              "\">\n    <marker image=\"" + marker + "\" size=\"80\" pose=\"" + pose.str() +
                              "\"/>\n  </synthetic>\n</video>\n");
    return config;
}

struct Turn {
    double spin, tilt, across;
};

// Every case identifies a marker among its pattern and a decoy.
class Identification : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        decoy = scratchPath("decoy.patt");
        writePatternFile(decoy, makePatternPicture(3));
    }
    static std::string decoy;

    // Starts the plug-in on a video configuration with the bundled camera, its printout swallowed.
    static void start(const std::string& config) {
        HostString video = zelk::host::makeString(config.c_str());
        const std::string cameraPath = sourcePath("Data/camera_para.dat");
        HostString camera = zelk::host::makeString(cameraPath.c_str());
        ::testing::internal::CaptureStdout();
        const int32_t started = Zelk_Init(&video, &camera);
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(started, 0);
    }

    // Runs the plug-in over the first frame of a scene with the marker image seen at the
    // turn, with the pattern (id 0) and the decoy (id 1); expects the marker identified as
    // the pattern with its top-left corner in place.
    static void expectIdentified(const std::string& markerImage, const std::string& pattern, const Turn& turn) {
        const std::string truth = scratchPath("truth.jsonl");
        const std::string config = writeScene(markerImage, turn.spin, turn.tilt, turn.across, truth);
        A6_DLLAPI(zelk::host::interfaceRecord());
        for (int id = 0; id < 50; id++) Zelk_freeMarker(id);
        // The plug-in's marker history would lend an earlier case's identity to this one:
        // a few empty frames let it age out.
        const std::string empty = scratchPath("empty.xml");
        writeTextFile(empty, "<video><synthetic frames=\"0\"/></video>\n");
        ASSERT_NO_FATAL_FAILURE(start(empty));
        for (int frame = 0; frame < 5; ++frame) Zelk_Update(100);
        Zelk_Quit();
        ASSERT_NO_FATAL_FAILURE(start(config));
        HostString patternName = zelk::host::makeString(pattern.c_str());
        HostString decoyName = zelk::host::makeString(decoy.c_str());
        ASSERT_EQ(Zelk_registerMarker(&patternName), 0);
        ASSERT_EQ(Zelk_registerMarker(&decoyName), 1);
        Zelk_Update(100);
        const zelk::MarkerList& markerList = zelk::pluginState()->detector.markers;
        const zelk::MarkerRecord* list = markerList.records;
        const int32_t count = markerList.count;
        const std::vector<zelk::MarkerRecord> markers(list, list + count);
        Zelk_Quit();

        std::ifstream in(truth);
        std::string line;
        ASSERT_TRUE(std::getline(in, line));
        const nlohmann::json seen = nlohmann::json::parse(line);
        ASSERT_TRUE(seen["inside"].get<bool>());
        ASSERT_EQ(markers.size(), 1u);
        const zelk::MarkerRecord& m = markers[0];
        EXPECT_EQ(m.patternId, 0);
        EXPECT_GT(m.confidence, 0.7);
        ASSERT_GE(m.direction, 0);
        // With direction d the marker's top-left corner is corner (4 - d) mod 4.
        for (int k = 0; k < 4; ++k) {
            const double* corner = m.corners[(4 - m.direction + k) % 4];
            EXPECT_NEAR(corner[0], seen["ideal"][k][0].get<double>(), 3.0) << "corner " << k;
            EXPECT_NEAR(corner[1], seen["ideal"][k][1].get<double>(), 3.0) << "corner " << k;
        }
    }
};

std::string Identification::decoy;

class RoundTrip : public Identification {
protected:
    // The files every case shares: the marker and the patterns made.
    static void SetUpTestSuite() {
        Identification::SetUpTestSuite();
        const PatternPicture design = makePatternPicture(2);
        const std::string picture = scratchPath("design.png");
        cv::Mat image(16, 16, CV_8UC3);
        std::copy(&design.value[0][0][0], &design.value[0][0][0] + 768, image.data);
        ASSERT_TRUE(cv::imwrite(picture, image));

        marker = scratchPath("marker.png");
        ASSERT_EQ(runZelk("marker " + picture + " --pixels 256 -o " + marker).exitCode, 0);
        fromPicture = scratchPath("picture.patt");
        ASSERT_EQ(runZelk("pattern " + marker + " -o " + fromPicture).exitCode, 0);

        // A frame of the scene, seen turned and tilted, through zelk render.
        const std::string frames = scratchPath("frames");
        const ZelkRun rendered = runZelk("render " + writeScene(marker, 20, 30, 30, scratchPath("unused.jsonl")) +
                                         " -o " + frames + " --frames 1");
        ASSERT_EQ(rendered.exitCode, 0) << rendered.output;
        fromFrame = scratchPath("frame.patt");
        const ZelkRun found = runZelk("pattern --find " + frames + "/0000.png -o " + fromFrame);
        ASSERT_EQ(found.exitCode, 0) << found.output;
    }
    static std::string marker, fromPicture, fromFrame;
};
std::string RoundTrip::marker, RoundTrip::fromPicture, RoundTrip::fromFrame;

TEST_F(RoundTrip, ThePatternFromTheMarkerPictureIsTheDesign) {
    const std::vector<int> values = readValues(fromPicture);
    ASSERT_EQ(values.size(), 3072u);
    const PatternPicture design = makePatternPicture(2);
    for (int n = 0; n < 768; ++n) {
        const int k = n / 256, r = n / 16 % 16, c = n % 16;
        ASSERT_EQ(values[n], design.value[r][c][k]) << "plane " << k << " row " << r << " column " << c;
    }
}

// A printable sheet has a margin, a cut line and a caption around the marker.
TEST_F(RoundTrip, ThePatternFromAPrintableSheetIsTheDesign) {
    const std::string sheet = scratchPath("sheet.png"), pattern = scratchPath("sheet.patt");
    const PatternPicture design = makePatternPicture(2);
    const std::string designPattern = scratchPath("design.patt");
    writePatternFile(designPattern, design);
    ASSERT_EQ(runZelk("marker " + designPattern + " --size 45 --dpi 200 -o " + sheet).exitCode, 0);
    const ZelkRun run = runZelk("pattern " + sheet + " -o " + pattern);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("inner half of the marker"), std::string::npos) << run.output;
    const std::vector<int> values = readValues(pattern);
    ASSERT_EQ(values.size(), 3072u);
    // Cells of 11 pixels, drawn by repeating the design's: little blends.
    for (int n = 0; n < 768; ++n) EXPECT_NEAR(values[n], design.value[n / 16 % 16][n % 16][n / 256], 8) << n;
}

class TurnedMarkers : public RoundTrip, public ::testing::WithParamInterface<Turn> {};

TEST_P(TurnedMarkers, AreFoundWithTheirDirectionFromThePictureMadePattern) {
    expectIdentified(marker, fromPicture, GetParam());
}

TEST_P(TurnedMarkers, AreFoundWithTheirDirectionFromTheFrameMadePattern) {
    expectIdentified(marker, fromFrame, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Turns, TurnedMarkers,
                         ::testing::Values(Turn{0, 0, -150}, Turn{90, 20, -90}, Turn{180, 0, -30}, Turn{270, 35, 30},
                                           Turn{35, 10, 90}, Turn{-140, 25, 150}),
                         [](const auto& info) { return "Turn" + std::to_string(info.index); });

struct Fiducial {
    const char* family;
    int id;
    Turn turn;
};

class FamilyMarkers : public Identification, public ::testing::WithParamInterface<Fiducial> {
protected:
    void SetUp() override {
        const std::string family =
            std::string("--family ") + GetParam().family + " --id " + std::to_string(GetParam().id);
        image = scratchPath("fiducial.png");
        pattern = scratchPath("fiducial.patt");
        // 504 pixels: whole cells for squares of 6, 7 and 8 cells.
        ASSERT_EQ(runZelk("marker " + family + " --pixels 504 -o " + image).exitCode, 0);
        const ZelkRun made = runZelk("pattern " + family + " -o " + pattern);
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    std::string image, pattern;
};

TEST_P(FamilyMarkers, AreFoundWithTheirDirectionFromTheFamilyPattern) {
    expectIdentified(image, pattern, GetParam().turn);
}

// Identification compares the middle half of the square, whatever the border's width: so
// does a pattern made from the marker's image.
TEST_P(FamilyMarkers, ThePatternFromTheMarkerImageIsTheFamilyPattern) {
    const std::string fromImage = scratchPath("image.patt");
    const ZelkRun run = runZelk("pattern " + image + " --border yes -o " + fromImage);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<int> expected = readValues(pattern), made = readValues(fromImage);
    ASSERT_EQ(expected.size(), 3072u);
    ASSERT_EQ(made.size(), 3072u);
    for (size_t n = 0; n < made.size(); ++n) ASSERT_NEAR(made[n], expected[n], 1) << n;
}

// AprilTag 36h11's ids 15 and 164 share their middle half (one turned): the user is told.
TEST(FamilyPatterns, NameTheIdsIdentificationCannotTellApart) {
    const std::string pattern = scratchPath("tag.patt");
    const ZelkRun alike = runZelk("pattern --family tag36h11 --id 15 -o " + pattern);
    EXPECT_EQ(alike.exitCode, 0);
    EXPECT_NE(alike.output.find("is that of id 164,"), std::string::npos) << alike.output;
    const ZelkRun unique = runZelk("pattern --family tag36h11 --id 5 -o " + pattern);
    EXPECT_EQ(unique.exitCode, 0);
    EXPECT_EQ(unique.output.find("warning"), std::string::npos) << unique.output;
}

INSTANTIATE_TEST_SUITE_P(Families, FamilyMarkers,
                         ::testing::Values(Fiducial{"tag36h11", 5, {0, 0, -150}},
                                           Fiducial{"DICT_4X4_50", 3, {180, 0, -30}},
                                           Fiducial{"5x5_100", 7, {270, 35, 30}}, Fiducial{"6x6_250", 11, {35, 10, 90}},
                                           Fiducial{"aruco_original", 2, {-140, 25, 150}}),
                         [](const auto& info) { return std::string("Family") + std::to_string(info.index); });

}  // namespace
