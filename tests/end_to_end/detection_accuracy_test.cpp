// Synthetic scenes through the video library and the plug-in's exports, checked against
// the scene's ground truth: pattern ids, directions and corner positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "detect/marker_record.h"
#include "platform/host/host.h"
#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

namespace {

constexpr int PATTERNS = 4;
constexpr int THRESHOLD = 100;

struct Scene {
    const char* name;
    int markers;
    int frames;
    const char* distance;  // scene units; focal length 700 and marker width 80: 300 px at 187, 30 px at 1870
};

// A folder holding our patterns, a scene configuration using them and its truth file.
struct SceneFiles {
    std::string config, truth;
    std::vector<std::string> patterns;
};

SceneFiles writeScene(const Scene& scene) {
    SceneFiles files;
    const std::string folder = scratchPath(scene.name);
    std::string markers;
    for (int i = 0; i < PATTERNS; i++) {
        files.patterns.push_back(folder + "_" + std::to_string(i) + ".patt");
        writePatternFile(files.patterns.back(), makePatternPicture(i));
    }
    for (int i = 0; i < scene.markers; i++)
        markers += "    <marker pattern=\"" + files.patterns[i % PATTERNS] + "\" size=\"80\"/>\n";
    files.truth = folder + "_truth.jsonl";
    files.config = folder + ".xml";
    // The path sweeps distance, tilt (up to 60 degrees) and in-plane turn (a quarter turn a second).
    writeTextFile(files.config,
                  "<video>\n  <synthetic width=\"640\" height=\"480\" frames=\"" + std::to_string(scene.frames) +
                      "\" fps=\"30\" seed=\"7\" noise=\"2\" blur=\"0.6\" camera=\"" +
                      sourcePath("Data/camera_para.dat") + "\" truth=\"" + files.truth + "\" distance=\"" +
                      scene.distance + "\" tilt=\"0 60\" spin=\"90\">\n" + markers + "  </synthetic>\n</video>\n");
    return files;
}

struct Truth {
    int pattern;
    double side;           // longest side, pixels
    double corners[4][2];  // top-left first, ideal coordinates
};

std::map<int, std::vector<Truth>> readTruth(const std::string& path, int markersPerFrame) {
    std::map<int, std::vector<Truth>> frames;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        if (!j["facing"].get<bool>() || !j["inside"].get<bool>()) continue;
        Truth t;
        t.pattern = j["marker"].get<int>() % std::min(markersPerFrame, PATTERNS);
        t.side = 0;
        for (int k = 0; k < 4; k++) {
            t.corners[k][0] = j["ideal"][k][0].get<double>();
            t.corners[k][1] = j["ideal"][k][1].get<double>();
        }
        for (int k = 0; k < 4; k++)
            t.side = std::max(t.side, std::hypot(t.corners[k][0] - t.corners[(k + 1) % 4][0],
                                                 t.corners[k][1] - t.corners[(k + 1) % 4][1]));
        frames[j["frame"].get<int>()].push_back(t);
    }
    return frames;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[static_cast<size_t>(fraction * (values.size() - 1))];
}

// Starts the plug-in on the scene with the bundled camera (its printout swallowed) and
// registers the scene's patterns, which get ids 0, 1, ...
void start(int32_t (*init)(HostString*, HostString*), int32_t (*registerMarker)(HostString*), const SceneFiles& files) {
    HostString config = zelk::host::makeString(files.config.c_str());
    const std::string cameraPath = sourcePath("Data/camera_para.dat");
    HostString camera = zelk::host::makeString(cameraPath.c_str());
    ::testing::internal::CaptureStdout();
    const int32_t started = init(&config, &camera);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(started, 0);
    for (int i = 0; i < PATTERNS; i++) {
        HostString path = zelk::host::makeString(files.patterns[i].c_str());
        ASSERT_EQ(registerMarker(&path), i);
    }
}

class DetectionAccuracy : public ::testing::TestWithParam<Scene> {};

TEST_P(DetectionAccuracy, EveryVisibleMarkerIsFoundWithItsIdDirectionAndCorners) {
    const Scene& scene = GetParam();
    const SceneFiles files = writeScene(scene);
    A6_DLLAPI(zelk::host::interfaceRecord());
    for (int id = 0; id < 50; id++) Zelk_freeMarker(id);
    ASSERT_NO_FATAL_FAILURE(start(Zelk_Init, Zelk_registerMarker, files));
    std::vector<std::vector<zelk::MarkerRecord>> detected;
    for (int f = 0; f < scene.frames; f++) {
        Zelk_Update(THRESHOLD);
        const zelk::MarkerList& markerList = zelk::pluginState()->detector.markers;
        const zelk::MarkerRecord* list = markerList.records;
        const int32_t count = markerList.count;
        detected.emplace_back(list, list + count);
    }
    Zelk_Quit();
    const std::map<int, std::vector<Truth>> truth = readTruth(files.truth, scene.markers);

    // Found: a marker with the pattern's id, near the true one, whose direction is the
    // corner order that fits the true corners (top-left first) best. Located: found with
    // every corner within 3 px or a tenth of the side; only these give corner errors, since
    // a marker carried over from an earlier frame keeps its old corners.
    int visible = 0, found = 0, located = 0;
    double smallest = 1e9, largest = 0;
    std::vector<double> cornerErrors;
    for (const auto& [frame, markers] : truth) {
        ASSERT_LT(frame, static_cast<int>(detected.size()));
        for (const Truth& t : markers) {
            visible++;
            smallest = std::min(smallest, t.side);
            largest = std::max(largest, t.side);
            for (const zelk::MarkerRecord& m : detected[frame]) {
                if (m.patternId != t.pattern || m.direction < 0) continue;
                double worst[4] = {0, 0, 0, 0}, errors[4];
                for (int d = 0; d < 4; d++)
                    for (int j = 0; j < 4; j++) {
                        const double* c = m.corners[(4 - d + j) % 4];
                        const double error = std::hypot(c[0] - t.corners[j][0], c[1] - t.corners[j][1]);
                        worst[d] = std::max(worst[d], error);
                        if (d == m.direction) errors[j] = error;
                    }
                if (worst[m.direction] > 0.5 * t.side || *std::min_element(worst, worst + 4) < worst[m.direction])
                    continue;
                found++;
                if (worst[m.direction] <= std::max(3.0, 0.1 * t.side)) {
                    located++;
                    cornerErrors.insert(cornerErrors.end(), errors, errors + 4);
                }
                break;
            }
        }
    }
    const double rate = visible ? static_cast<double>(found) / visible : 0.0;
    const double median = percentile(cornerErrors, 0.5), p95 = percentile(cornerErrors, 0.95);
    std::printf(
        "%s: %d of %d visible markers found with id and direction (%.2f %%), %d located, sides %.0f-%.0f px, "
        "corner error median %.3f px, 95th percentile %.3f px\n",
        scene.name, found, visible, 100 * rate, located, smallest, largest, median, p95);
    RecordProperty("identification_rate", std::to_string(rate));
    RecordProperty("corner_error_median", std::to_string(median));
    RecordProperty("corner_error_p95", std::to_string(p95));
    EXPECT_GT(visible, scene.frames / 2);
    EXPECT_GE(rate, 0.99);
    EXPECT_GE(located, 0.97 * visible);
    // The outline runs through the centres of the border's outermost dark pixels, on average
    // half a pixel inside the printed edge: corners sit about 0.65 px inside the true ones.
    EXPECT_LT(median, 1.0);
    EXPECT_LT(p95, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Scenes, DetectionAccuracy,
                         ::testing::Values(Scene{"FourMarkers", 4, 240, "190 1870"},
                                           Scene{"OneMarkerNear", 1, 80, "187 700"}),
                         [](const ::testing::TestParamInfo<Scene>& info) { return std::string(info.param.name); });

// The same exports as the host reaches them: the shared library loaded by name.
TEST(SharedLibrary, RegistersFreesAndDetectsThroughTheLoadedPlugin) {
    LoadedPlugin p;
    ASSERT_EQ(loadPlugin(pluginPath(), &p), "");
    const SceneFiles files = writeScene(Scene{"Loaded", 2, 20, "300 900"});
    EXPECT_EQ(p.registerMarker(nullptr), -1);  // no string, and no `_chr` bound yet
    ASSERT_EQ(p.dllapi(zelk::host::interfaceRecord()), 630);
    ASSERT_NO_FATAL_FAILURE(start(p.init, p.registerMarker, files));
    for (int f = 0; f < 20; f++) EXPECT_GE(p.update(THRESHOLD), 0) << f;
    EXPECT_EQ(p.freeMarker(3), 1);
    EXPECT_EQ(p.freeMarker(3), -1);
    EXPECT_EQ(p.freeMarker(PATTERNS + 50), -1);
    p.quit();
    unloadPlugin(&p);
}

}  // namespace
