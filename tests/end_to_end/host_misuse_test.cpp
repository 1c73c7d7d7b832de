// A careless or hostile host script, through a freshly loaded copy of the shared library
// and the stand-in host: calls out of order, null pointers, ids outside the library, too
// many registrations and camera files that describe no camera. Each has one documented
// result, and the plug-in keeps working afterwards.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "camera/camera_params.h"
#include "platform/host/host.h"
#include "platform/videocapture/videocapture.h"
#include "plugin/exports.h"
#include "tests/support/camera_file.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

namespace {

constexpr int THRESHOLD = 100;
constexpr int32_t NOT_FOUND = -1024;

// A uniform inside: the square is seen but identifies as no pattern (id -1).
void writeBlankPatternFile(const std::string& path) {
    std::string text;
    for (int i = 0; i < 3072; i++) text += "255 ";
    writeTextFile(path, text);
}

// Two markers tilted 20 degrees, 500 units ahead: pattern design 0 on the left and a
// square with a blank inside on the right.
struct SceneFiles {
    std::string config, pattern, blank;
    SceneFiles()
        : config(scratchPath("scene.xml")), pattern(scratchPath("design.patt")), blank(scratchPath("blank.patt")) {
        writePatternFile(pattern, makePatternPicture(0));
        writeBlankPatternFile(blank);
        const std::string rotation = "0 -0.9396926 0.3420201 0  0 -0.3420201 -0.9396926 500";
        writeTextFile(config, "<video><synthetic camera=\"" + sourcePath("Data/camera_para.dat") +
                                  "\" width=\"480\" height=\"360\" frames=\"0\" noise=\"1\">\n"
                                  "  <marker pattern=\"" +
                                  pattern + "\" size=\"80\" pose=\"1 0 0 -100  " + rotation +
                                  "\"/>\n"
                                  "  <marker pattern=\"" +
                                  blank + "\" size=\"80\" pose=\"1 0 0 100  " + rotation +
                                  "\"/>\n"
                                  "</synthetic></video>\n");
    }
    ~SceneFiles() {
        for (const std::string& path : {config, pattern, blank}) std::remove(path.c_str());
    }
};

class HostMisuse : public testing::Test {
protected:
    // A private copy of the library: its module state starts as the host finds it.
    void SetUp() override {
        videoClose();  // the video library is shared with earlier tests of this process
        copy = scratchPath(std::filesystem::path(pluginPath()).filename().string());
        std::filesystem::copy_file(pluginPath(), copy);
        ASSERT_EQ(loadPlugin(copy, &p), "");
    }
    void TearDown() override {
        if (p.quit) p.quit();
        unloadPlugin(&p);
        std::remove(copy.c_str());
    }
    // Zelk_Init with its printout swallowed.
    int32_t init(const std::string& video, const std::string& camera) {
        HostString v = zelk::host::makeString(video.c_str()), c = zelk::host::makeString(camera.c_str());
        return initWith(&v, &c);
    }
    int32_t initWith(HostString* video, HostString* camera) {
        testing::internal::CaptureStdout();
        const int32_t result = p.init(video, camera);
        testing::internal::GetCapturedStdout();
        return result;
    }
    int32_t registerPattern(const std::string& path) {
        HostString name = zelk::host::makeString(path.c_str());
        return p.registerMarker(&name);
    }
    // Binds the host, starts the scene and registers its pattern (id 0).
    void start() {
        ASSERT_EQ(p.dllapi(zelk::host::interfaceRecord()), 630);
        ASSERT_EQ(init(scene.config, sourcePath("Data/camera_para.dat")), 0);
        ASSERT_EQ(registerPattern(scene.pattern), 0);
    }
    void pump(int frames) {
        for (int f = 0; f < frames; f++) ASSERT_EQ(p.update(THRESHOLD), 0) << "frame " << f;
    }
    // Zelk_getMarker with records that show whether they were written.
    int32_t query(int32_t id, HostVector* position, HostAngle* angles, int32_t invert = 0) {
        if (position) *position = HostVector{7, 7, 7};
        if (angles) *angles = HostAngle{7, 7, 7};
        return p.getMarker(id, position, angles, invert);
    }

    SceneFiles scene;
    std::string copy;
    LoadedPlugin p;
};

bool untouched(const HostVector& v) { return v.x == 7 && v.y == 7 && v.z == 7; }
bool untouched(const HostAngle& a) { return a.pan == 7 && a.tilt == 7 && a.roll == 7; }

// Before Zelk_Init nothing is open: no frame, no size, no marker, no picture, and
// Zelk_Quit reports the video library's -1 for closing nothing.
TEST_F(HostMisuse, EveryCallBeforeInitIsHarmless) {
    EXPECT_EQ(p.update(THRESHOLD), 0);
    EXPECT_EQ(p.getWidth(), 0);
    EXPECT_EQ(p.getHeight(), 0);
    HostVector position;
    HostAngle angles;
    EXPECT_EQ(query(0, &position, &angles), NOT_FOUND);
    EXPECT_TRUE(untouched(position) && untouched(angles));
    zelk::host::Texture texture(480, 360, 480 * 4);
    HostBitmap bitmap = zelk::host::makeBitmap(&texture);
    p.getBmap(&bitmap);
    EXPECT_EQ(texture.lockCount, 0);
    EXPECT_EQ(registerPattern(scene.pattern), -1);  // no _chr before A6_DLLAPI
    EXPECT_EQ(p.freeMarker(0), -1);
    EXPECT_EQ(p.quit(), -1);
    ASSERT_NO_FATAL_FAILURE(start());  // and the plug-in starts normally afterwards
    ASSERT_NO_FATAL_FAILURE(pump(2));
    EXPECT_EQ(query(0, &position, &angles), 0);
}

// A second Zelk_Init reopens the device and goes on; a second Zelk_Quit closes nothing.
// The last frame's markers stay queryable after Zelk_Quit, the picture does not.
TEST_F(HostMisuse, InitTwiceAndQuitTwice) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(pump(2));
    ASSERT_EQ(init(scene.config, sourcePath("Data/camera_para.dat")), 0);
    EXPECT_EQ(p.getWidth(), 480 * 1024);
    ASSERT_NO_FATAL_FAILURE(pump(2));
    HostVector position;
    HostAngle angles;
    EXPECT_EQ(query(0, &position, &angles), 0);
    EXPECT_NEAR(position.x / 1024.0, 500, 25);

    EXPECT_EQ(p.quit(), 0);
    EXPECT_EQ(p.quit(), -1);
    EXPECT_EQ(p.update(THRESHOLD), 0);
    EXPECT_EQ(query(0, &position, &angles), 0);
    zelk::host::Texture texture(480, 360, 480 * 4);
    HostBitmap bitmap = zelk::host::makeBitmap(&texture);
    p.getBmap(&bitmap);
    EXPECT_EQ(texture.lockCount, 0);
}

// Null records and null words inside records, argument by argument.
TEST_F(HostMisuse, NullPointersInEveryPointerArgument) {
    EXPECT_EQ(p.dllapi(nullptr), 630);
    EXPECT_EQ(registerPattern(scene.pattern), -1);  // nothing bound
    HostInterface noLookup = {};
    EXPECT_EQ(p.dllapi(&noLookup), 630);
    EXPECT_EQ(registerPattern(scene.pattern), -1);
    ASSERT_NO_FATAL_FAILURE(start());

    EXPECT_EQ(p.registerMarker(nullptr), -1);
    HostString noChars = zelk::host::makeString(nullptr);
    EXPECT_EQ(p.registerMarker(&noChars), -1);

    ASSERT_NO_FATAL_FAILURE(pump(2));
    HostVector position;
    HostAngle angles;
    EXPECT_EQ(query(0, nullptr, nullptr), 0);
    EXPECT_EQ(query(0, &position, nullptr, 1), 0);
    EXPECT_FALSE(untouched(position));
    EXPECT_EQ(query(0, nullptr, &angles), 0);
    EXPECT_FALSE(untouched(angles));

    p.getBmap(nullptr);
    HostBitmap noTexture = zelk::host::makeBitmap(nullptr);
    p.getBmap(&noTexture);
    zelk::host::Texture texture(480, 360, 480 * 4);
    HostBitmap bitmap = zelk::host::makeBitmap(&texture);
    p.getBmap(&bitmap);
    EXPECT_EQ(texture.lockCount, 1);  // the plug-in still works

    // Null strings and null characters name the defaults (relative to the current folder).
    // The bundled scene's markers are pictures, which only a build with OpenCV reads.
#ifdef ZELK_WITH_OPENCV
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(sourcePath(""));
    const int32_t nullRecords = initWith(nullptr, nullptr);
    const int32_t nullWords = initWith(&noChars, &noChars);
    std::filesystem::current_path(home);
    EXPECT_EQ(nullRecords, 0);
    EXPECT_EQ(nullWords, 0);
    EXPECT_EQ(p.getWidth(), 640 * 1024);
#endif
}

// Ids the library never hands out find nothing and free nothing; -1, the id of a failed
// registration, does not pick the unidentified square in view.
TEST_F(HostMisuse, PatternIdsOutsideTheLibrary) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(pump(2));
    HostVector position;
    HostAngle angles;
    EXPECT_EQ(query(0, &position, &angles), 0);
    for (const int32_t id : {-1, 50, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(query(id, &position, &angles), NOT_FOUND) << id;
        EXPECT_TRUE(untouched(position) && untouched(angles)) << id;
        EXPECT_EQ(p.freeMarker(id), -1) << id;
    }
}

// Fifty slots: the 51st registration fails without disturbing the others, and a freed
// slot is the next one handed out.
TEST_F(HostMisuse, FiftyOneRegistrations) {
    ASSERT_NO_FATAL_FAILURE(start());
    for (int32_t id = 1; id < 50; id++) ASSERT_EQ(registerPattern(scene.pattern), id);
    EXPECT_EQ(registerPattern(scene.pattern), -1);
    EXPECT_EQ(p.freeMarker(17), 1);
    EXPECT_EQ(registerPattern(scene.pattern), 17);
    EXPECT_EQ(registerPattern(scene.pattern), -1);
    ASSERT_NO_FATAL_FAILURE(pump(2));
    HostVector position;
    EXPECT_EQ(query(0, &position, nullptr), 0);  // equal patterns: the lowest slot matches
}

struct CameraCase {
    const char* name;
    std::function<void(zelk::CameraParams*)> spoil;
    int32_t initResult;
    int32_t queryResult;  // for the registered marker in view, after two frames
};
void PrintTo(const CameraCase& c, std::ostream* out) { *out << c.name; }

class HostileCameraFile : public HostMisuse, public testing::WithParamInterface<CameraCase> {};

// A camera file that describes no usable camera. A width below 1 cannot be scaled and is
// refused; every other value is taken as it is, and the marker that cannot be measured
// with it is reported as not found.
TEST_P(HostileCameraFile, IsRefusedOrLeavesTheMarkerUnmeasured) {
    const CameraCase c = GetParam();
    zelk::CameraParams camera;
    ASSERT_EQ(zelk::loadCameraParams(sourcePath("Data/camera_para.dat").c_str(), 1, &camera), 0);
    c.spoil(&camera);
    const std::string path = scratchPath("camera.dat");
    writeBytes(path, cameraFileBytes({camera}));

    ASSERT_EQ(p.dllapi(zelk::host::interfaceRecord()), 630);
    EXPECT_EQ(init(scene.config, path), c.initResult);
    std::remove(path.c_str());
    ASSERT_EQ(registerPattern(scene.pattern), 0);
    ASSERT_NO_FATAL_FAILURE(pump(2));
    HostVector position;
    HostAngle angles;
    EXPECT_EQ(query(0, &position, &angles), c.queryResult);
    if (c.queryResult == NOT_FOUND) {
        EXPECT_TRUE(untouched(position) && untouched(angles));
    }
}

const double NaN = std::nan("");
const double INF = HUGE_VAL;

INSTANTIATE_TEST_SUITE_P(
    Cameras, HostileCameraFile,
    testing::Values(
        CameraCase{"Unchanged", [](zelk::CameraParams*) {}, 0, 0},
        CameraCase{"ZeroWidth", [](zelk::CameraParams* c) { c->imageWidth = 0; }, -3, NOT_FOUND},
        CameraCase{"NegativeWidth", [](zelk::CameraParams* c) { c->imageWidth = INT_MIN; }, -3, NOT_FOUND},
        CameraCase{"ZeroHeight", [](zelk::CameraParams* c) { c->imageHeight = 0; }, 0, 0},
        CameraCase{"NegativeHeight", [](zelk::CameraParams* c) { c->imageHeight = -480; }, 0, 0},
        CameraCase{"NaNFocalLength", [](zelk::CameraParams* c) { c->projection[0][0] = NaN; }, 0, NOT_FOUND},
        CameraCase{"InfiniteFocalLength", [](zelk::CameraParams* c) { c->projection[1][1] = INF; }, 0, NOT_FOUND},
        CameraCase{"NaNPrincipalPoint", [](zelk::CameraParams* c) { c->projection[0][2] = NaN; }, 0, NOT_FOUND},
        CameraCase{"SingularProjection", [](zelk::CameraParams* c) { c->projection[2][2] = 0; }, 0, NOT_FOUND},
        CameraCase{"ZeroProjection",
                   [](zelk::CameraParams* c) {
                       for (auto& row : c->projection)
                           for (double& value : row) value = 0;
                   },
                   0, NOT_FOUND},
        CameraCase{"NaNDistortionCentre", [](zelk::CameraParams* c) { c->distortion[0] = NaN; }, 0, NOT_FOUND},
        CameraCase{"ZeroDistortionScale", [](zelk::CameraParams* c) { c->distortion[3] = 0; }, 0, NOT_FOUND},
        CameraCase{"HugeRadialDistortion", [](zelk::CameraParams* c) { c->distortion[2] = 1e300; }, 0, NOT_FOUND}),
    [](const testing::TestParamInfo<CameraCase>& info) { return info.param.name; });

}  // namespace
