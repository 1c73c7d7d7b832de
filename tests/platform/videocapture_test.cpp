// The video library: configuration, frame delivery, ends and loops, the OpenCV sources.
#include <gtest/gtest.h>

#ifdef ZELK_WITH_OPENCV
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#endif

#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "platform/videocapture/videocapture.h"
#include "tests/platform/scene_files.h"
#include "tests/support/paths.h"

namespace {

// A folder with a camera, two patterns and whatever configuration the test writes.
class VideoCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratchFolder("video");
        writeCameraFile(folder + "/camera.dat", testCamera(30.0));
        mkdir((folder + "/pats").c_str(), 0755);
        writePatternFile(folder + "/pats/quad.patt", quadrantPicture());
        writePatternFile(folder + "/pats/white.patt", plainPicture(255));
    }
    void TearDown() override { videoClose(); }

    std::string config(const std::string& source) {
        const std::string path = folder + "/video.xml";
        writeTextFile(path, "<?xml version=\"1.0\"?>\n<video>\n" + source + "\n</video>\n");
        return path;
    }
    std::string synthetic(const std::string& attributes) {
        return config("<synthetic camera=\"camera.dat\" " + attributes +
                      "><marker pattern=\"pats/quad.patt\" size=\"80\"/></synthetic>");
    }
    // Frames until the source ends (at most limit), each copied.
    std::vector<std::vector<unsigned char>> drain(int limit) {
        int width = 0, height = 0;
        videoInqSize(&width, &height);
        std::vector<std::vector<unsigned char>> frames;
        while (static_cast<int>(frames.size()) < limit) {
            unsigned char* frame = videoGetImage();
            if (!frame) break;
            frames.emplace_back(frame, frame + static_cast<std::size_t>(width) * height * 4);
            EXPECT_EQ(videoCapNext(), 0);
        }
        return frames;
    }

    std::string folder;
};

TEST_F(VideoCaptureTest, NothingOpenFailsEveryOperation) {
    int width = -7, height = -7;
    EXPECT_LT(videoInqSize(&width, &height), 0);
    EXPECT_EQ(width, -7);
    EXPECT_LT(videoCapStart(), 0);
    EXPECT_EQ(videoGetImage(), nullptr);
    EXPECT_LT(videoCapNext(), 0);
    EXPECT_LT(videoCapStop(), 0);
    EXPECT_LT(videoClose(), 0);
    EXPECT_EQ(videoAtEnd(), 0);
    EXPECT_LT(videoOpen(nullptr), 0);
}

struct BadConfig {
    const char* name;
    const char* text;  // the whole file; empty for none at all
};

class VideoCaptureBadConfig : public VideoCaptureTest, public ::testing::WithParamInterface<BadConfig> {};

TEST_P(VideoCaptureBadConfig, OpenFails) {
    const std::string path = folder + "/bad.xml";
    if (*GetParam().text) writeTextFile(path, GetParam().text);
    EXPECT_LT(videoOpen(path.c_str()), 0);
    int width, height;
    EXPECT_LT(videoInqSize(&width, &height), 0);
}

const char* const CAMERA = "camera=\"camera.dat\"";

INSTANTIATE_TEST_SUITE_P(
    Configs, VideoCaptureBadConfig,
    ::testing::Values(
        BadConfig{"missing", ""}, BadConfig{"notXml", "this is not <xml"},
        BadConfig{"wrongRoot", "<camera><synthetic/></camera>"}, BadConfig{"noSource", "<video></video>"},
        BadConfig{"twoSources", "<video><synthetic/><synthetic/></video>"},
        BadConfig{"unknownSource", "<video><television/></video>"},
        BadConfig{"unknownAttribute", "<video><synthetic colour=\"red\"/></video>"},
        BadConfig{"badNumber", "<video><synthetic width=\"6x40\"/></video>"},
        BadConfig{"zeroWidth", "<video><synthetic width=\"0\"/></video>"},
        BadConfig{"hugeWidth", "<video><synthetic width=\"100000\"/></video>"},
        BadConfig{"hugeFrame", "<video><synthetic width=\"8192\" height=\"8192\"/></video>"},
        BadConfig{"nanNoise", "<video><synthetic noise=\"nan\"/></video>"},
        BadConfig{"descendingRange", "<video><synthetic distance=\"900 300\"/></video>"},
        BadConfig{"badLoop", "<video><synthetic loop=\"sometimes\"/></video>"},
        BadConfig{"badPace", "<video><synthetic pace=\"fast\"/></video>"},
        BadConfig{"missingCamera", "<video><synthetic camera=\"nowhere.dat\"/></video>"},
        BadConfig{"shortCamera", "<video><synthetic camera=\"pats/quad.patt\"/></video>"},
        BadConfig{"markerWithoutPicture", "<video><synthetic><marker size=\"80\"/></synthetic></video>"},
        BadConfig{"markerTwoPictures",
                  "<video><synthetic><marker pattern=\"pats/quad.patt\" image=\"x.png\"/></synthetic></video>"},
        BadConfig{"missingPattern", "<video><synthetic><marker pattern=\"pats/none.patt\"/></synthetic></video>"},
        BadConfig{"patternNotAPattern", "<video><synthetic><marker pattern=\"camera.dat\"/></synthetic></video>"},
        BadConfig{"shortPose",
                  "<video><synthetic><marker pattern=\"pats/quad.patt\" pose=\"1 0 0 0\"/></synthetic></video>"},
        BadConfig{"otherChild", "<video><synthetic><light/></synthetic></video>"},
        BadConfig{"truthNotWritable", "<video><synthetic truth=\"no/such/folder/truth.jsonl\"/></video>"},
        BadConfig{"imagesFormatAttack", "<video><images path=\"%s%s%n.png\"/></video>"},
        BadConfig{"imagesTwoFields", "<video><images path=\"%d_%d.png\"/></video>"},
        BadConfig{"imagesNoField", "<video><images path=\"frame.png\"/></video>"},
        BadConfig{"imagesMissing", "<video><images path=\"none/%04d.png\"/></video>"},
        BadConfig{"fileMissing", "<video><file path=\"none.avi\"/></video>"},
        BadConfig{"cameraLoops", "<video><camera device=\"0\" loop=\"true\"/></video>"},
        BadConfig{"loopAsNumber", "<video><synthetic loop=\"1\"/></video>"},
        BadConfig{"stillScene", "<video><synthetic still=\"true\"/></video>"},
        // documents that are not well-formed
        BadConfig{"unclosedRoot", "<video><synthetic/>"}, BadConfig{"crossedEndTag", "<video><synthetic></video>"},
        BadConfig{"twiceTheAttribute", "<video><synthetic frames=\"3\" frames=\"4\"/></video>"},
        BadConfig{"unquotedValue", "<video><synthetic frames=3/></video>"},
        BadConfig{"attributesRunTogether", "<video><synthetic frames=\"3\"fps=\"4\"/></video>"},
        BadConfig{"lessThanInValue", "<video><synthetic truth=\"a<b\"/></video>"},
        BadConfig{"unterminatedValue", "<video><synthetic truth=\"a/></video>"},
        BadConfig{"unknownEntity", "<video><synthetic truth=\"&nbsp;\"/></video>"},
        BadConfig{"nulReference", "<video><synthetic truth=\"a&#0;b\"/></video>"},
        BadConfig{"surrogateReference", "<video><synthetic truth=\"&#xD800;\"/></video>"},
        BadConfig{"hugeReference", "<video><synthetic truth=\"&#99999999999999999999;\"/></video>"},
        BadConfig{"secondRoot", "<video><synthetic/></video><video/>"},
        BadConfig{"textAfterRoot", "<video><synthetic/></video>x"},
        BadConfig{"documentType", "<!DOCTYPE video [<!ENTITY a \"b\">]><video><synthetic/></video>"},
        BadConfig{"unterminatedComment", "<video><synthetic/><!-- </video>"},
        BadConfig{"nameStartsWithDigit", "<video><1synthetic/></video>"},
        BadConfig{"cameraNegative", "<video><camera device=\"-1\"/></video>"},
        BadConfig{"cameraEmptyPath", "<video><camera device=\"\"/></video>"}),
    [](const ::testing::TestParamInfo<BadConfig>& info) { return std::string(info.param.name); });

// Well-formed documents in the XML forms a hand-written configuration may use.
class VideoCaptureGoodConfig : public VideoCaptureTest, public ::testing::WithParamInterface<BadConfig> {};

TEST_P(VideoCaptureGoodConfig, Opens) {
    writePatternFile(folder + "/pats/'&<>\".pat", quadrantPicture());
    const std::string path = folder + "/good.xml";
    writeTextFile(path, GetParam().text);
    ASSERT_EQ(videoOpen(path.c_str()), 0);
    int width = 0, height = 0;
    ASSERT_EQ(videoInqSize(&width, &height), 0);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, VideoCaptureGoodConfig,
    ::testing::Values(
        BadConfig{"declarationCommentsInstructions",
                  "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- made by hand -->\n<?tool x?>"
                  "<video><!-- one source --><synthetic width=\"320\" height=\"240\"><?pi?></synthetic></video>\n<!-- "
                  "end -->\n"},
        BadConfig{"quotesBlanksAndTextInside",
                  "<video >\n  some text <![CDATA[ <not an element/> ]]>\n  <synthetic\twidth = '320'\r\n"
                  "    height=\"240\" >text</synthetic >\n</video\n>"},
        BadConfig{"entitiesInValues",
                  "<video><synthetic camera=\"c&#97;mer&#x61;&#46;dat\" width=\"3&#50;0\" height='&#x32;40'>"
                  "<marker pattern=\"pats/&apos;&amp;&lt;&gt;&quot;.pat\"/></synthetic></video>"}),
    [](const ::testing::TestParamInfo<BadConfig>& info) { return std::string(info.param.name); });

// Nesting and size that would exhaust a naive reader are refused, not crashed on.
TEST_F(VideoCaptureTest, DeepAndHugeDocumentsAreRefused) {
    const std::string path = folder + "/deep.xml";
    std::string deep = "<video><synthetic>";
    for (int i = 0; i < 100000; ++i) deep += "<marker>";
    writeTextFile(path, deep);
    EXPECT_LT(videoOpen(path.c_str()), 0);

    writeTextFile(path, "<video><synthetic/>" + std::string(2 << 20, ' ') + "</video>");
    EXPECT_LT(videoOpen(path.c_str()), 0);
    writeTextFile(path, "<video><synthetic width=\"320\" height=\"240\"/>" + std::string(1000, '\n') + "</video>");
    EXPECT_EQ(videoOpen(path.c_str()), 0);
}

// Inputs found by fuzzing that once broke the library: each must open and deliver frames.
using FoundConfig = BadConfig;  // a name and the whole file
class VideoCaptureFoundConfig : public VideoCaptureTest, public ::testing::WithParamInterface<FoundConfig> {};

TEST_P(VideoCaptureFoundConfig, OpensAndPlays) {
    const std::string path = folder + "/found.xml";
    writeTextFile(path, GetParam().text);
    ASSERT_EQ(videoOpen(path.c_str()), 0);
    ASSERT_EQ(videoCapStart(), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(videoGetImage(), nullptr);
        EXPECT_EQ(videoCapNext(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Configs, VideoCaptureFoundConfig,
                         ::testing::Values(FoundConfig{
                             "markerOutlineBeyondTheIntRange",
                             "<video><synthetic width=\"64\" height=\"48\"><marker pattern=\"pats/quad.patt\" "
                             "pose=\"1 0 0 1e12  0 -1 0 0  0 0 -1 600\"/></synthetic></video>"}),
                         [](const ::testing::TestParamInfo<BadConfig>& info) { return std::string(info.param.name); });

TEST_F(VideoCaptureTest, SyntheticSourceDeliversItsFramesThenEnds) {
    ASSERT_EQ(videoOpen(synthetic("frames=\"3\" width=\"320\" height=\"240\"").c_str()), 0);
    int width = 0, height = 0;
    ASSERT_EQ(videoInqSize(&width, &height), 0);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(videoGetImage(), nullptr);  // not capturing yet
    ASSERT_EQ(videoCapStart(), 0);
    const auto frames = drain(10);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(videoAtEnd(), 1);
    EXPECT_EQ(videoGetImage(), nullptr);
    for (const auto& frame : frames)
        for (std::size_t i = 3; i < frame.size(); i += 4) ASSERT_EQ(frame[i], 255);
    EXPECT_NE(frames[0], frames[1]);  // the marker moves
    EXPECT_EQ(videoCapStop(), 0);
    EXPECT_EQ(videoClose(), 0);
    EXPECT_LT(videoClose(), 0);
}

TEST_F(VideoCaptureTest, LoopingSourceStartsOverWithTheSameFrames) {
    ASSERT_EQ(videoOpen(synthetic("frames=\"2\" loop=\"true\" noise=\"3\"").c_str()), 0);
    videoCapStart();
    const auto frames = drain(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[2], frames[0]);
    EXPECT_EQ(frames[4], frames[0]);
    EXPECT_EQ(frames[3], frames[1]);
    EXPECT_EQ(videoAtEnd(), 0);
}

// A frame every 1,000 s: the second call is early however slowly the first frame renders.
TEST_F(VideoCaptureTest, RealtimePaceWaitsForTheNextFrame) {
    ASSERT_EQ(videoOpen(synthetic("fps=\"0.001\" pace=\"realtime\"").c_str()), 0);
    videoCapStart();
    EXPECT_NE(videoGetImage(), nullptr);
    EXPECT_EQ(videoGetImage(), nullptr);
    EXPECT_EQ(videoAtEnd(), 0);
}

TEST_F(VideoCaptureTest, ReopeningReplacesTheSource) {
    ASSERT_EQ(videoOpen(synthetic("width=\"320\" height=\"240\"").c_str()), 0);
    ASSERT_EQ(videoOpen(synthetic("width=\"160\" height=\"120\"").c_str()), 0);
    int width = 0, height = 0;
    videoInqSize(&width, &height);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(videoClose(), 0);
    EXPECT_LT(videoClose(), 0);
}

TEST_F(VideoCaptureTest, PathsAreRelativeToTheConfigurationAndBackslashesAreSeparators) {
    const std::string path = config(
        "<synthetic camera=\"camera.dat\" frames=\"2\" truth=\"truth.jsonl\">"
        "<marker pattern=\"pats\\quad.patt\"/><marker pattern=\"pats/white.patt\" size=\"50\"/></synthetic>");
    std::string windowsStyle = path;
    for (std::size_t i = 1; i < windowsStyle.size(); ++i)
        if (windowsStyle[i] == '/') windowsStyle[i] = '\\';
    ASSERT_EQ(videoOpen(windowsStyle.c_str()), 0);
    videoCapStart();
    EXPECT_EQ(drain(5).size(), 2u);
    videoClose();

    const std::string truth = readText(folder + "/truth.jsonl");
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = truth.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(truth.substr(start, end - start));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("{\"frame\":0,\"marker\":0,\"name\":\"pats\\\\quad.patt\",\"width\":80,", 0), 0u)
        << lines[0];
    EXPECT_EQ(lines[3].rfind("{\"frame\":1,\"marker\":1,\"name\":\"pats/white.patt\",\"width\":50,", 0), 0u)
        << lines[3];
    EXPECT_NE(lines[0].find("\"pose\":[["), std::string::npos);
    EXPECT_NE(lines[0].find("\"ideal\":[["), std::string::npos);
    EXPECT_NE(lines[0].find("\"observed\":[["), std::string::npos);
}

#ifdef ZELK_WITH_OPENCV  // pictures and videos (the bundled scene's markers too) go through OpenCV
// Writes count 8 x 6 PNG frames named f01.png ... whose pixels encode their number.
void writeFrames(const std::string& folder, int count) {
    for (int i = 1; i <= count; ++i) {
        cv::Mat picture(6, 8, CV_8UC3, cv::Scalar(10 * i, 20 * i, 30 * i));
        picture.at<cv::Vec3b>(0, 0) = cv::Vec3b(1, 2, 3);
        char name[64];
        std::snprintf(name, sizeof name, "/f%02d.png", i);
        ASSERT_TRUE(cv::imwrite(folder + name, picture));
    }
}

TEST_F(VideoCaptureTest, ImageSequenceDeliversEachPictureAsBgra) {
    writeFrames(folder, 3);
    ASSERT_EQ(videoOpen(config("<images path=\"f%02d.png\" start=\"1\"/>").c_str()), 0);
    int width = 0, height = 0;
    videoInqSize(&width, &height);
    EXPECT_EQ(width, 8);
    EXPECT_EQ(height, 6);
    videoCapStart();
    const auto frames = drain(10);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(videoAtEnd(), 1);
    for (int i = 0; i < 3; ++i) {
        const auto& frame = frames[i];
        EXPECT_EQ(frame[0], 1);
        EXPECT_EQ(frame[1], 2);
        EXPECT_EQ(frame[2], 3);
        EXPECT_EQ(frame[3], 255);
        const std::size_t last = frame.size() - 4;
        EXPECT_EQ(frame[last], 10 * (i + 1));
        EXPECT_EQ(frame[last + 1], 20 * (i + 1));
        EXPECT_EQ(frame[last + 2], 30 * (i + 1));
        EXPECT_EQ(frame[last + 3], 255);
    }
}

// A folder plays its pictures in name order, passing over other files; start counts pictures.
TEST_F(VideoCaptureTest, ImageFolderPlaysItsPicturesInNameOrder) {
    const std::string pictures = folder + "/seq";
    mkdir(pictures.c_str(), 0755);
    writeFrames(pictures, 3);
    writeTextFile(pictures + "/notes.txt", "not a picture");
    mkdir((folder + "/empty").c_str(), 0755);
    EXPECT_LT(videoOpen(config("<images path=\"empty\"/>").c_str()), 0);

    ASSERT_EQ(videoOpen(config("<images path=\"seq\" still=\"true\"/>").c_str()), 0);
    EXPECT_EQ(videoStill(), 1) << "pictures of their own";
    EXPECT_LT(videoOpen(config("<images path=\"seq\" still=\"yes\"/>").c_str()), 0);
    ASSERT_EQ(videoOpen(config("<images path=\"seq\" start=\"1\"/>").c_str()), 0);
    EXPECT_EQ(videoStill(), 0);
    videoCapStart();
    const auto frames = drain(10);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(videoAtEnd(), 1);
    EXPECT_EQ(frames[0][frames[0].size() - 4], 20);  // f02
    EXPECT_EQ(frames[1][frames[1].size() - 4], 30);  // f03
}

TEST_F(VideoCaptureTest, ImageSequenceLoopsAndEndsAtAPictureOfAnotherSize) {
    writeFrames(folder, 2);
    cv::imwrite(folder + "/f03.png", cv::Mat(4, 4, CV_8UC3, cv::Scalar(0, 0, 0)));
    ASSERT_EQ(videoOpen(config("<images path=\"f%02d.png\" start=\"1\" loop=\"true\"/>").c_str()), 0);
    videoCapStart();
    const auto frames = drain(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[2], frames[0]);
    EXPECT_EQ(frames[4], frames[0]);
    EXPECT_NE(frames[1], frames[0]);
}

TEST_F(VideoCaptureTest, VideoFilePlaysToItsEndAndLoops) {
    const std::string clip = folder + "/clip.avi";
    {
        cv::VideoWriter writer(clip, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(64, 48));
        if (!writer.isOpened()) GTEST_SKIP() << "no video writer";
        for (int i = 0; i < 4; ++i) writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(40 * i, 100, 200)));
    }
    ASSERT_EQ(videoOpen(config("<file path=\"clip.avi\"/>").c_str()), 0);
    int width = 0, height = 0;
    videoInqSize(&width, &height);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 48);
    videoCapStart();
    const auto frames = drain(10);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(videoAtEnd(), 1);
    EXPECT_NEAR(frames[3][0], 120, 8);  // lossy: near the blue written
    EXPECT_EQ(frames[3][3], 255);

    ASSERT_EQ(videoOpen(config("<file path=\"clip.avi\" loop=\"true\"/>").c_str()), 0);
    videoCapStart();
    const auto looped = drain(9);
    ASSERT_EQ(looped.size(), 9u);
    EXPECT_EQ(looped[4], looped[0]);
    EXPECT_EQ(looped[8], looped[0]);
}

TEST_F(VideoCaptureTest, TheBundledSceneOpens) {
    ASSERT_EQ(videoOpen(sourcePath("Data/WDM_camera_flipV.xml").c_str()), 0);
    int width = 0, height = 0;
    videoInqSize(&width, &height);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    videoCapStart();
    EXPECT_EQ(drain(2).size(), 2u);
}
#endif  // ZELK_WITH_OPENCV

}  // namespace
