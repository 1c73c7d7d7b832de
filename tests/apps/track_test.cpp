// zelk track: the plug-in loaded as the host loads it, run over a whole video source; its
// JSON lines checked against their contract, its pictures, and its one-line errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "tests/apps/run_zelk.h"
#include "tests/support/board_scene.h"
#include "tests/support/camera_file.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/pose_fixtures.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

// The bundled patterns by the id the plug-in gives them (registered in name order).
const std::map<int, std::string> BUNDLED = {
    {0, "Data/patterns/arrow.patt"}, {1, "Data/patterns/blocks.patt"}, {2, "Data/patterns/letter.patt"}};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::vector<std::string> keys(const Json& object) {
    std::vector<std::string> names;
    for (const auto& item : object.items()) names.push_back(item.key());
    return names;
}

void expectNumbers(const Json& value, size_t count, const char* what) {
    ASSERT_TRUE(value.is_array()) << what;
    ASSERT_EQ(value.size(), count) << what;
    for (const auto& number : value) EXPECT_TRUE(number.is_number()) << what;
}

// A host number / 1024: a whole multiple of 1/1024.
void expectHostValue(const Json& value) {
    const double scaled = value.get<double>() * 1024;
    EXPECT_EQ(scaled, std::round(scaled)) << value;
}

void expectMarker(const Json& marker, const std::map<int, std::string>& patterns) {
    ASSERT_EQ(keys(marker), (std::vector<std::string>{"patternId", "direction", "confidence", "area", "centre",
                                                      "corners", "carriedOver"}));
    ASSERT_TRUE(marker["patternId"].is_number_integer());
    const int id = marker["patternId"];
    EXPECT_TRUE(id == -1 || patterns.count(id)) << id;
    ASSERT_TRUE(marker["direction"].is_number_integer());
    EXPECT_GE(marker["direction"].get<int>(), -1);
    EXPECT_LE(marker["direction"].get<int>(), 3);
    EXPECT_TRUE(marker["confidence"].is_number());
    ASSERT_TRUE(marker["area"].is_number_integer());
    EXPECT_GT(marker["area"].get<int>(), 0);
    expectNumbers(marker["centre"], 2, "centre");
    ASSERT_TRUE(marker["corners"].is_array());
    ASSERT_EQ(marker["corners"].size(), 4u);
    for (const auto& corner : marker["corners"]) expectNumbers(corner, 2, "corner");
    EXPECT_GE(marker["carriedOver"].get<int>(), 0);
    EXPECT_LE(marker["carriedOver"].get<int>(), 2);
}

// The pose's host values are the matrix's (x forward = t2, y left = -t0, z up = -t1), and its
// rotation is a rotation.
void expectPose(const Json& pose, const std::map<int, std::string>& patterns, const Json& markers) {
    ASSERT_EQ(keys(pose),
              (std::vector<std::string>{"patternId", "pattern", "fitError", "matrix", "position", "angles"}));
    const int id = pose["patternId"];
    ASSERT_TRUE(patterns.count(id)) << id;
    EXPECT_EQ(pose["pattern"], patterns.at(id));
    bool listed = false;
    for (const auto& marker : markers) listed = listed || marker["patternId"] == id;
    EXPECT_TRUE(listed) << "a pose without a marker of its pattern";
    EXPECT_GE(pose["fitError"].get<double>(), 0.0);
    ASSERT_EQ(pose["matrix"].size(), 3u);
    double m[3][4];
    for (int r = 0; r < 3; r++) {
        expectNumbers(pose["matrix"][r], 4, "matrix row");
        for (int c = 0; c < 4; c++) m[r][c] = pose["matrix"][r][c];
    }
    for (int a = 0; a < 3; a++)
        for (int b = 0; b < 3; b++) {
            double dot = 0;
            for (int k = 0; k < 3; k++) dot += m[a][k] * m[b][k];
            EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-6);
        }
    expectNumbers(pose["position"], 3, "position");
    expectNumbers(pose["angles"], 3, "angles");
    const double expected[3] = {m[2][3], -m[0][3], -m[1][3]};
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(pose["position"][i].get<double>(), expected[i], 1.0 / 1024);
        expectHostValue(pose["position"][i]);
        expectHostValue(pose["angles"][i]);
    }
    EXPECT_LE(std::abs(pose["angles"][0].get<double>()), 180.0);
    EXPECT_LE(std::abs(pose["angles"][1].get<double>()), 180.0);
    EXPECT_LE(std::abs(pose["angles"][2].get<double>()), 90.0);
}

// Every line is one frame's object, numbered from 0, as the contract has it.
std::vector<Json> expectContract(const std::string& text, const std::map<int, std::string>& patterns) {
    std::vector<Json> frames;
    for (const std::string& line : lines(text)) {
        Json frame = Json::parse(line, nullptr, false);
        EXPECT_FALSE(frame.is_discarded()) << line;
        if (frame.is_discarded()) break;
        EXPECT_EQ(keys(frame), (std::vector<std::string>{"frame", "markers", "poses"})) << line;
        EXPECT_EQ(frame["frame"], static_cast<int>(frames.size()));
        for (const auto& marker : frame["markers"]) expectMarker(marker, patterns);
        std::map<int, int> posed;
        for (const auto& pose : frame["poses"]) {
            expectPose(pose, patterns, frame["markers"]);
            EXPECT_EQ(++posed[pose["patternId"].get<int>()], 1) << "a pattern posed twice";
        }
        frames.push_back(frame);
    }
    return frames;
}

// "name found confidence fitError" rows of the summary table.
std::map<std::string, std::vector<double>> summaryRows(const std::string& output) {
    std::map<std::string, std::vector<double>> rows;
    for (const std::string& line : lines(output)) {
        std::istringstream fields(line);
        std::string name;
        double found, confidence, fitError;
        if (fields >> name >> found >> confidence >> fitError) rows[name] = {found, confidence, fitError};
    }
    return rows;
}

class Track : public testing::Test {
protected:
    void SetUp() override { folder = scratchPath("track"); }
    void TearDown() override { fs::remove_all(folder); }
    // Runs zelk with standard output and standard error kept apart.
    int runApart(const std::string& arguments, std::string* out, std::string* err, const std::string& where = ".") {
        fs::create_directories(folder);
        const std::string outFile = folder + "/stdout", errFile = folder + "/stderr";
        const int status = std::system(
            ("cd " + where + " && " + binaryPath("zelk") + " " + arguments + " >" + outFile + " 2>" + errFile).c_str());
        *out = readFile(outFile);
        *err = readFile(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string folder;
};

// The automatic threshold reaches the plug-in and finds the demo's markers as the fixed one does.
TEST_F(Track, AutomaticThresholdFindsTheBundledMarkers) {
    const ZelkRun run = runZelk("track --threshold auto --frames 60 --poses " + folder + "/poses.jsonl");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("3 patterns, threshold auto"), std::string::npos) << run.output;
    std::map<int, int> found;
    for (const auto& frame : expectContract(readFile(folder + "/poses.jsonl"), BUNDLED))
        for (const auto& pose : frame["poses"]) ++found[pose["patternId"].get<int>()];
    for (const auto& [id, path] : BUNDLED) EXPECT_GE(found[id], 54) << path;
}

TEST_F(Track, RunsTheBundledSceneToItsEndWithPosesForEveryFrame) {
    const ZelkRun run = runZelk("track --poses " + folder + "/poses.jsonl");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("video 640 x 480, 3 patterns, threshold 100"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\n300 frames in "), std::string::npos) << run.output;
    const std::vector<Json> frames = expectContract(readFile(folder + "/poses.jsonl"), BUNDLED);
    EXPECT_EQ(frames.size(), 300u);

    // The summary counts what the lines hold; the demo shows every marker nearly all the time.
    std::map<int, int> found;
    for (const auto& frame : frames)
        for (const auto& pose : frame["poses"]) ++found[pose["patternId"].get<int>()];
    const auto rows = summaryRows(run.output);
    for (const auto& [id, path] : BUNDLED) {
        const std::string name = fs::path(path).stem().string();
        ASSERT_TRUE(rows.count(name)) << run.output;
        EXPECT_EQ(rows.at(name)[0], found[id]) << name;
        EXPECT_GE(found[id], 270) << name;
        EXPECT_GT(rows.at(name)[1], 0.5) << name;
        EXPECT_LT(rows.at(name)[2], 2.0) << name;
    }
}

TEST_F(Track, WritesAnOverlayPictureAndVideoFramePerFrame) {
    const ZelkRun run =
        runZelk("track -q --frames 4 --overlay " + folder + "/overlay --video-out " + folder + "/clip/track.mp4");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("4 frames in "), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(folder + "/overlay/frame_000004.png")) << "one picture per frame";
    for (int frame = 0; frame < 4; frame++) {
        const cv::Mat picture = cv::imread(cv::format("%s/overlay/frame_%06d.png", folder.c_str(), frame));
        ASSERT_EQ(picture.size(), cv::Size(640, 480));
        // Drawn: the scene alone is grey (noise aside), the overlay colours it.
        int coloured = 0;
        for (auto it = picture.begin<cv::Vec3b>(); it != picture.end<cv::Vec3b>(); ++it)
            coloured += std::abs((*it)[0] - (*it)[1]) > 60 || std::abs((*it)[1] - (*it)[2]) > 60;
        EXPECT_GT(coloured, 500) << frame;
    }
    cv::VideoCapture video(folder + "/clip/track.mp4");
    ASSERT_TRUE(video.isOpened());
    int frames = 0;
    for (cv::Mat picture; video.read(picture);) ++frames;
    EXPECT_EQ(frames, 4);
}

// Several videos, two at a time in processes of their own (one from a list file), give
// each the JSON lines it gives alone, named after its configuration; the summaries come in
// the order of the inputs.
TEST_F(Track, SeveralVideosSideBySideGiveWhatEachGivesAlone) {
    fs::create_directories(folder + "/b");
    const std::string scene = readFile(sourcePath("Data/WDM_camera_flipV.xml"));
    int seed = 0;
    for (const char* name : {"a", "b/b", "c"}) {
        std::string text = scene;
        text.replace(text.find("frames=\"300\""), 12, "frames=\"6\"");
        text.replace(text.find("seed=\"1\""), 8, "seed=\"" + std::to_string(++seed) + "\"");
        text.replace(text.find("camera_para.dat"), 15, sourcePath("Data/camera_para.dat"));
        for (size_t at; (at = text.find("\"markers/")) != std::string::npos;)
            text.replace(at + 1, 0, sourcePath("Data/"));
        writeTextFile(folder + "/" + name + ".xml", text);
    }
    writeTextFile(folder + "/list.txt", "# the second and third\nb/b.xml\n\n" + folder + "/c.xml\n");
    std::string out, err;
    ASSERT_EQ(runApart("track -q --video " + folder + "/a.xml --videos " + folder + "/list.txt --jobs 2 --poses " +
                           folder + "/poses",
                       &out, &err),
              0)
        << err;
    EXPECT_LT(out.find(folder + "/a.xml:"), out.find(folder + "/b/b.xml:")) << out;
    EXPECT_LT(out.find(folder + "/b/b.xml:"), out.find(folder + "/c.xml:")) << out;
    for (const char* name : {"a", "b/b", "c"}) {
        std::string alone, ignored;
        ASSERT_EQ(runApart(std::string("track -q --video ") + folder + "/" + name + ".xml --poses -", &alone, &ignored),
                  0);
        EXPECT_EQ(readFile(folder + "/poses/" + fs::path(name).filename().string() + ".jsonl"), alone) << name;
        EXPECT_EQ(lines(alone).size(), 6u);
    }
}

// With --poses - standard output holds nothing but the JSON lines; the rest goes to standard error.
TEST_F(Track, PosesOnStandardOutputAreTheOnlyOutput) {
    std::string out, err;
    ASSERT_EQ(runApart("track --frames 3 --pattern Data/patterns/letter.patt --poses -", &out, &err), 0) << err;
    const std::vector<Json> frames = expectContract(out, {{0, "Data/patterns/letter.patt"}});
    EXPECT_EQ(frames.size(), 3u);
    EXPECT_NE(err.find("3 frames in "), std::string::npos) << err;
}

// --invert asks the query for the camera's pose in the marker's frame: the inverse transform.
TEST_F(Track, InvertReportsTheInversePose) {
    std::string plain, inverted, err;
    const std::string arguments = "track --frames 1 --pattern Data/patterns/arrow.patt --poses -";
    ASSERT_EQ(runApart(arguments, &plain, &err), 0) << err;
    ASSERT_EQ(runApart(arguments + " --invert", &inverted, &err), 0) << err;
    const Json a = Json::parse(plain)["poses"][0]["matrix"], b = Json::parse(inverted)["poses"][0]["matrix"];
    for (int r = 0; r < 3; r++) {
        double t = 0;  // (R^T, -R^T t)
        for (int c = 0; c < 3; c++) {
            EXPECT_NEAR(b[r][c].get<double>(), a[c][r].get<double>(), 1e-9);
            t -= a[c][r].get<double>() * a[c][3].get<double>();
        }
        EXPECT_NEAR(b[r][3].get<double>(), t, 1e-6);
    }
}

// Photos in a folder are pictures of their own. With --still (or <images still="true">) each
// frame's markers are those of its photo tracked alone; without it the marker history
// carries the first photo's markers into the second, marked as carried over (and there
// lends tag 7's identity to tag 9, which stands where tag 7 stood).
TEST_F(Track, StillPhotosAreEachSeenAsIfAlone) {
    const std::string photos = sourcePath("tests/data/real-photos/mapping/photos");
    std::string patterns;
    for (const auto& file : fs::directory_iterator(sourcePath("tests/data/real-photos/patterns/tag36h11")))
        patterns += " --pattern " + file.path().string();
    const std::string common = "track --camera " + sourcePath("tests/data/real-photos/mapping/camera_816x612.dat") +
                               patterns + " --poses - --video ";
    const auto markers = [&](const std::string& config, const std::string& options) {
        std::string out, err;
        EXPECT_EQ(runApart(common + config + options, &out, &err), 0) << err;
        std::vector<Json> frames;
        for (const std::string& line : lines(out)) frames.push_back(Json::parse(line)["markers"]);
        return frames;
    };
    fs::create_directories(folder);
    writeTextFile(folder + "/all.xml", "<video><images path=\"" + photos + "\"/></video>\n");
    writeTextFile(folder + "/still.xml", "<video><images path=\"" + photos + "\" still=\"true\"/></video>\n");
    const std::vector<Json> still = markers(folder + "/all.xml", " --still"), moving = markers(folder + "/all.xml", "");
    EXPECT_EQ(markers(folder + "/still.xml", ""), still);
    ASSERT_EQ(still.size(), 2u);
    ASSERT_EQ(moving.size(), 2u);
    std::vector<std::string> names;
    for (const auto& file : fs::directory_iterator(photos)) names.push_back(file.path().filename().string());
    std::sort(names.begin(), names.end());
    for (size_t k = 0; k < names.size(); ++k) {
        const std::string alone = folder + "/alone" + std::to_string(k);
        fs::create_directories(alone);
        fs::create_symlink(photos + "/" + names[k], alone + "/" + names[k]);
        writeTextFile(alone + ".xml", "<video><images path=\"" + alone + "\"/></video>\n");
        EXPECT_EQ(still[k], markers(alone + ".xml", "")[0]) << names[k];
    }
    int carried = 0;
    for (const auto& marker : moving[1]) carried += marker["carriedOver"].get<int>() > 0;
    EXPECT_GT(carried, 0);
    EXPECT_NE(moving[1], still[1]);
}

// With --board each line carries the board's pose from the markers in view: all, three,
// then one of six, each frame a photo of its own.
TEST_F(Track, BoardPosesFromTheMarkersInView) {
    const zelk::BoardFile board = testBoard(6);
    const std::string boardFile = writeBoardFiles(board);
    fs::create_directories(folder + "/frames");
    double truth[3][4];
    viewPose(-20, 10, 700, 25, 40, 10, truth);
    const unsigned hidden[] = {0u, 0b010101u, 0b111101u};
    for (int k = 0; k < 3; k++) {
        const std::vector<unsigned char> bgra =
            renderBoard(pinholeCamera(), board, truth, hidden[k], zelk::synth::RenderOptions());
        cv::imwrite(folder + "/frames/" + std::to_string(k) + ".png",
                    cv::Mat(480, 640, CV_8UC4, const_cast<unsigned char*>(bgra.data())));
    }
    writeBytes(folder + "/camera.dat", cameraFileBytes({pinholeCamera()}));
    writeTextFile(folder + "/board.xml", "<video><images path=\"frames\" still=\"true\"/></video>\n");
    std::string out, err;
    ASSERT_EQ(runApart("track --camera " + folder + "/camera.dat --board " + boardFile + " --poses - --video " +
                           folder + "/board.xml",
                       &out, &err),
              0)
        << err;
    const std::vector<std::string> frames = lines(out);
    ASSERT_EQ(frames.size(), 3u);
    const int inView[] = {6, 3, 1};
    for (int k = 0; k < 3; k++) {
        const Json line = Json::parse(frames[k]);
        EXPECT_TRUE(line["poses"].empty()) << "no other pattern is registered";
        ASSERT_EQ(line["boards"].size(), 1u) << frames[k];
        const Json& pose = line["boards"][0];
        EXPECT_EQ(pose["markers"], inView[k]);
        EXPECT_EQ(pose["board"], boardFile);
        EXPECT_NEAR(pose["matrix"][2][3].get<double>(), truth[2][3], 0.05 * truth[2][3]);
        EXPECT_NEAR(pose["position"][0].get<double>(), truth[2][3], 0.05 * truth[2][3]);  // x forward
    }
}

struct Failure {
    const char* name;
    std::string arguments;  // FOLDER stands for the test's folder
    std::string message;
};

class TrackFailure : public Track, public testing::WithParamInterface<Failure> {
protected:
    void SetUp() override {
        Track::SetUp();
        fs::create_directories(folder);
        writeTextFile(folder + "/unknown.xml", "<video><synthetic colour=\"red\"/></video>\n");
        writeTextFile(folder + "/notxml.xml", "not a configuration\n");
        writeTextFile(folder + "/huge.xml",
                      "<video><synthetic width=\"2048\" height=\"1024\" frames=\"1\"/></video>\n");
        writeTextFile(folder + "/short.dat", "too short for a camera");
        writeTextFile(folder + "/bad.patt", "1 2 3 many\n");
        writeTextFile(folder + "/cut.patt", readFile("Data/patterns/arrow.patt").substr(0, 4000));
        writeTextFile(folder + "/nodir.xml", "<video><images path=\"nodir\"/></video>\n");
    }
};

// Each failure is one line on standard error (beginning with the message) and exit status 1.
TEST_P(TrackFailure, IsOneClearLine) {
    std::string arguments = GetParam().arguments, message = GetParam().message;
    for (std::string* text : {&arguments, &message})
        for (size_t at; (at = text->find("FOLDER")) != std::string::npos;) text->replace(at, 6, folder);
    std::string out, err;
    EXPECT_EQ(runApart("track " + arguments, &out, &err), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err.rfind("zelk: " + message, 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, TrackFailure,
    testing::Values(
        Failure{"MissingVideo", "--video /nonexistent/scene.xml",
                "no such video configuration: /nonexistent/scene.xml"},
        Failure{"MissingCamera", "--camera FOLDER/none.dat", "no such camera parameter file: FOLDER/none.dat"},
        Failure{"MissingPattern", "--pattern Data/patterns/arrow.patt --pattern FOLDER/none.patt",
                "no such pattern file: FOLDER/none.patt"},
        Failure{"UnknownAttribute", "--video FOLDER/unknown.xml",
                "cannot open the video source FOLDER/unknown.xml: unknown attribute \"colour\" of the synthetic scene"},
        Failure{"NotXml", "--video FOLDER/notxml.xml",
                "cannot open the video source FOLDER/notxml.xml: cannot read the configuration \"FOLDER/notxml.xml\""},
        Failure{"FrameTooLarge", "--video FOLDER/huge.xml",
                "the video source FOLDER/huge.xml has no frame size the plug-in takes (1 to 1,048,576 pixels)"},
        Failure{"BadCamera", "--camera FOLDER/short.dat",
                "FOLDER/short.dat is not a camera file: 22 bytes, not 136 (the plug-in refuses it)"},
        Failure{"BadPattern", "--pattern FOLDER/bad.patt",
                "FOLDER/bad.patt is not a pattern file: value 4 is \"many\", not a whole number"},
        Failure{"CutPattern", "--pattern FOLDER/cut.patt",
                "FOLDER/cut.patt is not a whole pattern file: it ends after"},
        Failure{"NoImagesFolder", "--video FOLDER/nodir.xml",
                "cannot open the video source FOLDER/nodir.xml: there is no folder \"FOLDER/nodir\""},
        Failure{"UnwritableVideo", "--frames 1 --video-out /proc/zelk.mp4", "cannot write the video /proc/zelk.mp4"},
        Failure{"UnwritablePoses", "--poses /proc/zelk/poses.jsonl",
                "cannot write the poses file /proc/zelk/poses.jsonl"}),
    [](const testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

// Away from the repository root the bundled data is missing, and the message says where to run.
TEST_F(Track, AwayFromTheBundledDataSaysWhereToRun) {
    fs::create_directories(folder);
    std::string out, err;
    EXPECT_EQ(runApart("track", &out, &err, folder), 1);
    EXPECT_NE(err.find("run zelk from the repository root"), std::string::npos) << err;
}

}  // namespace
