// The zelk command's file makers: pattern files, marker images, camera files, scenes,
// and the bundled data they made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/camera_params.h"
#include "platform/videocapture/videocapture.h"
#include "tests/apps/run_zelk.h"
#include "tests/support/camera_file.h"
#include "tests/support/paths.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every pixel and plane different, so a wrong turn, mirror or plane order shows.
cv::Mat distinctPicture() {
    cv::Mat picture(16, 16, CV_8UC3);
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            const int n = r * 16 + c;
            picture.at<cv::Vec3b>(r, c) = cv::Vec3b(n, (c * 16 + r) ^ 0x55, (n * 7 + 3) % 256);
        }
    }
    return picture;
}

// The picture turned by one quarter counter-clockwise, written out index by index.
cv::Mat quarterTurn(const cv::Mat& picture) {
    cv::Mat turned(16, 16, CV_8UC3);
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 16; ++j) turned.at<cv::Vec3b>(i, j) = picture.at<cv::Vec3b>(j, 15 - i);
    }
    return turned;
}

std::vector<int> readIntegers(const std::string& path) {
    std::istringstream in(readFile(path));
    std::vector<int> values{std::istream_iterator<int>(in), {}};
    EXPECT_TRUE(in.eof()) << path << " holds something other than integers";
    return values;
}

// Block o of the file must be the picture turned o times, plane by plane, row by row.
void expectPatternOf(const std::string& path, const cv::Mat& picture) {
    const std::vector<int> values = readIntegers(path);
    ASSERT_EQ(values.size(), 3072u);
    cv::Mat block = picture.clone();
    for (int o = 0; o < 4; ++o) {
        for (int k = 0; k < 3; ++k) {
            for (int r = 0; r < 16; ++r) {
                for (int c = 0; c < 16; ++c) {
                    ASSERT_EQ(values[((o * 3 + k) * 16 + r) * 16 + c], block.at<cv::Vec3b>(r, c)[k])
                        << "orientation " << o << " plane " << k << " row " << r << " column " << c;
                }
            }
        }
        block = quarterTurn(block);
    }
}

class PatternFiles : public ::testing::Test {
protected:
    void SetUp() override {
        picture = distinctPicture();
        picturePath = scratchPath("picture.png");
        ASSERT_TRUE(cv::imwrite(picturePath, picture));
    }
    cv::Mat picture;
    std::string picturePath;
};

TEST_F(PatternFiles, OrientationBlocksAreThePictureTurnedCounterClockwise) {
    const std::string pat = scratchPath("a.patt");
    ASSERT_EQ(runZelk("pattern " + picturePath + " -o " + pat).exitCode, 0);
    expectPatternOf(pat, picture);
}

TEST_F(PatternFiles, LargerPicturesAreAveragedDownToSixteenCells) {
    cv::Mat large;
    cv::resize(picture, large, cv::Size(64, 64), 0, 0, cv::INTER_NEAREST);
    const std::string largePath = scratchPath("large.png"), pat = scratchPath("large.patt");
    ASSERT_TRUE(cv::imwrite(largePath, large));
    ASSERT_EQ(runZelk("pattern " + largePath + " -o " + pat).exitCode, 0);
    expectPatternOf(pat, picture);
}

TEST_F(PatternFiles, MarkerImagesCarryTheirPatternInsideABlackBorder) {
    const std::string pat = scratchPath("b.patt"), marker = scratchPath("marker.png"),
                      again = scratchPath("again.patt");
    ASSERT_EQ(runZelk("pattern " + picturePath + " -o " + pat).exitCode, 0);
    ASSERT_EQ(runZelk("marker " + pat + " --pixels 128 -o " + marker).exitCode, 0);

    const cv::Mat image = cv::imread(marker, cv::IMREAD_COLOR);
    ASSERT_EQ(image.size(), cv::Size(128, 128));
    cv::Mat ring = image.clone();
    ring(cv::Rect(32, 32, 64, 64)).setTo(cv::Scalar(0, 0, 0));
    EXPECT_EQ(cv::countNonZero(ring.reshape(1)), 0) << "the outer quarter is not black";
    cv::Mat inner;
    cv::resize(image(cv::Rect(32, 32, 64, 64)), inner, cv::Size(16, 16), 0, 0, cv::INTER_NEAREST);
    EXPECT_EQ(cv::norm(inner, picture, cv::NORM_INF), 0.0);

    // Back from the printable image: its border is recognised and cut away.
    ASSERT_EQ(runZelk("pattern " + marker + " -o " + again).exitCode, 0);
    EXPECT_EQ(readFile(again), readFile(pat));
}

TEST(CameraFiles, WrittenBigEndianAndReadBackByThePlugInsLoader) {
    const std::string path = scratchPath("camera.dat");
    ASSERT_EQ(runZelk("camera write -o " + path +
                      " --width 800 --height 600 --fx 710 --fy 705.5 --cx 401 --cy 299.25"
                      " --distortion 402 298 26.5 1.0125")
                  .exitCode,
              0);
    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 136u);
    auto bigEndian = [&](int offset, int size) {
        uint64_t word = 0;
        for (int i = 0; i < size; ++i) word = word << 8 | static_cast<unsigned char>(bytes[offset + i]);
        return word;
    };
    auto real = [&](int offset) {
        const uint64_t word = bigEndian(offset, 8);
        double value;
        std::memcpy(&value, &word, sizeof value);
        return value;
    };
    EXPECT_EQ(bigEndian(0, 4), 800u);
    EXPECT_EQ(bigEndian(4, 4), 600u);
    const double projection[12] = {710, 0, 401, 0, 0, 705.5, 299.25, 0, 0, 0, 1, 0};
    const double distortion[4] = {402, 298, 26.5, 1.0125};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(real(8 + 8 * i), projection[i]) << "projection " << i;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(real(104 + 8 * i), distortion[i]) << "distortion " << i;

    zelk::CameraParams record{};
    ASSERT_EQ(zelk::loadCameraParams(path.c_str(), 1, &record), 0);
    EXPECT_EQ(record.imageWidth, 800);
    EXPECT_EQ(record.imageHeight, 600);
    EXPECT_EQ(std::memcmp(record.projection, projection, sizeof projection), 0);
    EXPECT_EQ(std::memcmp(record.distortion, distortion, sizeof distortion), 0);

    const ZelkRun printed = runZelk("camera print " + path);
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_NE(printed.output.find("SIZE = 800, 600\n"), std::string::npos) << printed.output;
    EXPECT_NE(printed.output.find("Distortion factor = 402.000000 298.000000 26.500000 1.012500\n"), std::string::npos)
        << printed.output;
}

TEST(CameraFiles, DefaultsAreTheImageCentreAndNoDistortion) {
    const std::string path = scratchPath("plain.dat");
    ASSERT_EQ(runZelk("camera write -o " + path + " --width 320 --height 240 --fx 350").exitCode, 0);
    zelk::CameraParams record{};
    ASSERT_EQ(zelk::loadCameraParams(path.c_str(), 1, &record), 0);
    EXPECT_EQ(record.projection[0][0], 350.0);
    EXPECT_EQ(record.projection[1][1], 350.0);
    EXPECT_EQ(record.projection[0][2], 159.5);
    EXPECT_EQ(record.projection[1][2], 119.5);
    EXPECT_EQ(record.projection[2][2], 1.0);
    const double none[4] = {159.5, 119.5, 0.0, 1.0};
    EXPECT_EQ(std::memcmp(record.distortion, none, sizeof none), 0);
}

// Bad input: one line "zelk: message", exit code 1, no output file and every input as it was.
struct BadInput {
    const char* name;
    std::string arguments;     // OUT stands for the output file, and the other tokens of RefusedInput for its files
    std::string message = "";  // how the line begins after "zelk: ", where the test names it (tokens replaced)
};

class RefusedInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(RefusedInput, FailsWithOneLineAndWritesNothing) {
    const std::string out = scratchPath("out"), shortFile = scratchPath("short.patt"), plain = scratchPath("plain.png"),
                      text = scratchPath("notes.txt"), bar = scratchPath("bar.png"), narrow = scratchPath("narrow.dat");
    {
        std::ofstream file(shortFile);
        for (int i = 0; i < 20; ++i) file << "12 ";  // 60 bytes
    }
    std::ofstream(text) << std::string(300, 'x') << "\n";
    ASSERT_TRUE(cv::imwrite(plain, cv::Mat(64, 64, CV_8UC3, cv::Scalar(90, 180, 240))));
    cv::Mat drawing(120, 200, CV_8UC3, cv::Scalar::all(255));
    drawing(cv::Rect(40, 50, 106, 20)).setTo(cv::Scalar::all(0));  // a bar, no marker
    ASSERT_TRUE(cv::imwrite(bar, drawing));
    zelk::CameraParams zeroWidth = sampleCamera();
    zeroWidth.imageWidth = 0;
    writeBytes(narrow, cameraFileBytes({zeroWidth}));
    const std::vector<std::pair<std::string, std::string>> tokens = {
        {"OUT", out}, {"SHORT", shortFile}, {"PLAIN", plain}, {"TEXT", text}, {"BAR", bar}, {"NARROW", narrow}};
    std::string arguments = GetParam().arguments, message = GetParam().message;
    for (std::string* line : {&arguments, &message})
        for (const auto& [token, path] : tokens)
            for (size_t at; (at = line->find(token)) != std::string::npos;) line->replace(at, token.size(), path);
    std::vector<std::string> before;
    for (const auto& token : tokens) before.push_back(readFile(token.second));

    const ZelkRun run = runZelk(arguments);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_EQ(run.output.rfind("zelk: " + message, 0), 0u) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_FALSE(fs::exists(out));
    for (size_t i = 1; i < tokens.size(); ++i) EXPECT_EQ(readFile(tokens[i].second), before[i]) << tokens[i].first;
}

INSTANTIATE_TEST_SUITE_P(
    Zelk, RefusedInput,
    ::testing::Values(
        BadInput{"MissingPicture", "pattern /nonexistent/picture.png -o OUT"},
        BadInput{"ShortPatternFile", "marker SHORT -o OUT"},
        BadInput{"UnknownImageFormat", "marker Data/patterns/arrow.patt -o OUT.unknown"},
        BadInput{"MarkerSizeNotAMultipleOfFour", "marker Data/patterns/arrow.patt --pixels 130 -o OUT"},
        BadInput{"ZeroFocalLength", "camera write --fx 0 -o OUT"},
        BadInput{"ZeroDistortionScale", "camera write --fx 500 --distortion 1 1 0 0 -o OUT"},
        BadInput{"ShortCameraFile", "camera print SHORT"}, BadInput{"SceneWithoutMarkers", "scene -o OUT"},
        BadInput{"NoMarkerInView", "pattern --find PLAIN -o OUT"},
        BadInput{"MarkerTouchingTheFrameEdge", "pattern --find Data/markers/arrow.png -o OUT"},
        BadInput{"NoBorderWhereOneIsExpected", "pattern --border yes PLAIN -o OUT"},
        BadInput{"SheetAsJpeg", "marker Data/patterns/arrow.patt --size 80 -o OUT.jpg"},
        BadInput{"NegativeSheetSize", "marker Data/patterns/arrow.patt --size -5 -o OUT"},
        BadInput{"PixelsWithAPhysicalSize", "marker Data/patterns/arrow.patt --pixels 64 --size 80 -o OUT"},
        BadInput{"MalformedCameraSize", "camera write --size 640by480 --fx 500 -o OUT"},
        BadInput{"MissingCalibration", "camera import /nonexistent/calibration.yml -o OUT"},
        BadInput{"CalibrationNotYaml", "camera import SHORT -o OUT"},
        BadInput{"RenderWithoutConfiguration", "render /nonexistent/scene.xml -o OUT"},
        BadInput{"RenderNoFrames", "render Data/WDM_camera_flipV.xml --frames 0 -o OUT",
                 "--frames must be a whole number, 1 or more, not 0"},
        BadInput{"RenderRecordedFootage", "render PLAIN -o OUT"},
        BadInput{"CameraFromText", "camera print TEXT", "TEXT is not a camera file: 301 bytes, not 136"},
        BadInput{"CameraFromPicture", "camera print PLAIN", "PLAIN is not a camera file"},
        BadInput{"CameraOfNoWidth", "camera print NARROW",
                 "NARROW is not a camera file: its image size 0 x 480 is not positive (the plug-in refuses it)"},
        BadInput{"PatternOverItsPicture", "pattern PLAIN -o PLAIN", "the output PLAIN is the input PLAIN"},
        BadInput{"MarkerOverItsSource", "marker PLAIN -o /PLAIN", "the output /PLAIN is the input PLAIN"},
        BadInput{"FindTakesNoBar", "pattern --find BAR -o OUT", "no square marker found in BAR"},
        BadInput{"SceneMarkerWithoutBorder", "scene -o OUT --marker PLAIN", "PLAIN has no black border"},
        BadInput{"SceneCameraFromText", "scene -o OUT --marker Data/markers/arrow.png --camera TEXT",
                 "TEXT is not a camera file"},
        BadInput{"SheetSizeZero", "marker Data/patterns/arrow.patt --size 0 -o OUT.svg",
                 "--size must be more than 0 and at most 2000, not 0"},
        BadInput{"DpiZero", "marker Data/patterns/arrow.patt --dpi 0 -o OUT.png",
                 "--dpi must be more than 0 and at most 4800, not 0"},
        BadInput{"NegativeFrames", "track --frames -3", "--frames must be a whole number, 1 or more, not -3"},
        BadInput{"ThresholdNotANumber", "pattern PLAIN -o OUT --threshold 1e999",
                 "--threshold must be a whole number from 0 to 255, not 1e999"},
        BadInput{"TrackThresholdMisspelt", "track --threshold automatic",
                 "--threshold must be auto or a whole number from 0 to 255, not automatic"},
        BadInput{"BorderMisspelt", "pattern PLAIN -o OUT --border yse", "--border must be auto, yes or no, not yse"},
        BadInput{"NoSuchCommand", "nonsense", "there is no command nonsense: give track, pattern"},
        BadInput{"NoCommand", "", "give a command: track, pattern"},
        BadInput{"NoSubcommand", "camera", "camera needs one of write, import, calibrate or print"},
        BadInput{"NoSuchOption", "track --bogus", "track has no option --bogus"},
        BadInput{"MissingPositional", "camera print", "camera print needs the file"},
        BadInput{"OptionWithoutValue", "pattern PLAIN -o", "--output needs a value"},
        BadInput{"TooFewValues", "camera write --fx 5 --distortion 1 2 -o OUT", "--distortion takes 4 values"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Scenes, TheVideoLibraryPlaysWhatTheSceneCommandWrote) {
    const fs::path folder = scratchPath("scene");
    fs::create_directories(folder / "sub");
    const std::string config = (folder / "sub" / "scene.xml").string();
    ASSERT_EQ(runZelk("scene -o " + config +
                      " --marker Data/markers/arrow.png --marker Data/markers/letter.png"
                      " --camera Data/camera_para.dat --width 320 --height 240 --frames 4")
                  .exitCode,
              0);
    ASSERT_GE(videoOpen(config.c_str()), 0);
    int width = 0, height = 0;
    EXPECT_GE(videoInqSize(&width, &height), 0);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    videoCapStart();
    int frames = 0;
    while (videoGetImage()) {
        ++frames;
        videoCapNext();
        ASSERT_LE(frames, 4);
    }
    EXPECT_EQ(frames, 4);
    videoCapStop();
    EXPECT_EQ(videoClose(), 0);
}

// The bundled data is exactly what Data/make_data.sh makes with the current tools.
TEST(BundledData, IsReproducedByItsScript) {
    const fs::path fresh = scratchPath("data");
    const std::string command =
        "bash " + sourcePath("Data/make_data.sh") + " " + binaryPath("zelk") + " " + fresh.string() + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    size_t compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fresh)) {
        if (!entry.is_regular_file()) continue;
        const fs::path relative = entry.path().lexically_relative(fresh);
        const std::string bundled = sourcePath("Data/" + relative.generic_string());
        ++compared;
        if (relative.extension() == ".png") {
            EXPECT_EQ(cv::norm(cv::imread(entry.path().string()), cv::imread(bundled), cv::NORM_INF), 0.0) << relative;
        } else {
            EXPECT_EQ(readFile(entry.path().string()), readFile(bundled)) << relative;
        }
    }
    EXPECT_EQ(compared, 8u);
}

}  // namespace
