#include "bench/scenes.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <tuple>

#include "camera/camera_params.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

zelk::CameraParams benchCamera(int width, int height) {
    zelk::CameraParams camera{};
    camera.imageWidth = width;
    camera.imageHeight = height;
    const double focal = 700.0 * width / 640;
    camera.projection[0][0] = camera.projection[1][1] = focal;
    camera.projection[0][2] = camera.distortion[0] = 0.5 * width;
    camera.projection[1][2] = camera.distortion[1] = 0.5 * height;
    camera.projection[2][2] = 1;
    camera.distortion[3] = 1;  // radial coefficient 0: ideal and observed points agree
    return camera;
}

RenderedScene renderScene(const MarkerDesign& design, int width, int height, int markers) {
    RenderedScene scene;
    scene.width = width;
    scene.height = height;
    scene.markers = markers;
    scene.designWidth = design.width;
    scene.camera = benchCamera(width, height);
    zelk::synth::Renderer renderer(scene.camera);
    zelk::synth::RenderOptions options;
    options.noise = 2;
    options.blur = 0.6;
    const zelk::synth::PathRanges path;
    for (int f = 0; f < SCENE_FRAMES; f++) {
        std::vector<zelk::synth::SceneMarker> placed(markers);
        for (int m = 0; m < markers; m++) {
            placed[m].face = &design.faces.at(m);
            placed[m].width = design.width;
            // Poses of the black square, whatever margin the design adds round it.
            zelk::synth::pathPose(scene.camera, path, MARKER_SQUARE, m, markers, 0.35 + 0.7 * f, placed[m].pose);
        }
        scene.frames.emplace_back(size_t(width) * height * 4);
        scene.truth.emplace_back();
        renderer.render(placed, options, uint64_t(f + 1), scene.frames.back().data(), &scene.truth.back());
    }
    for (const auto& frame : scene.frames) scene.framePointers.push_back(frame.data());
    return scene;
}

const std::vector<std::string>& zelkPatternFiles() {
    static std::vector<std::string> files;
    if (files.empty())
        for (int i = 0; i < 4; i++) {
            files.push_back(scratchPath("bench_" + std::to_string(i) + ".patt"));
            writePatternFile(files.back(), makePatternPicture(i));
        }
    return files;
}

const RenderedScene& zelkScene(int width, int height, int markers) {
    static std::map<std::tuple<int, int, int>, RenderedScene> cache;
    RenderedScene& scene = cache[{width, height, markers}];
    if (scene.frames.empty()) {
        MarkerDesign design;
        for (int i = 0; i < 4; i++) design.faces.push_back(zelk::synth::patternFace(makePatternPicture(i).value));
        scene = renderScene(design, width, height, markers);
    }
    return scene;
}

bool markerVisible(const zelk::synth::MarkerTruth& truth) { return truth.facing && truth.inside; }

bool centreMatches(const RenderedScene& scene, const zelk::synth::MarkerTruth& truth, double x, double y) {
    const double(*P)[4] = scene.camera.projection;
    // The marker's origin, the centre of its square, seen through the camera.
    double image[3];
    for (int r = 0; r < 3; r++)
        image[r] = P[r][0] * truth.pose[0][3] + P[r][1] * truth.pose[1][3] + P[r][2] * truth.pose[2][3] + P[r][3];
    double side = 0;
    for (int k = 0; k < 4; k++)
        side = std::max(side, std::hypot(truth.ideal[k][0] - truth.ideal[(k + 1) % 4][0],
                                         truth.ideal[k][1] - truth.ideal[(k + 1) % 4][1]));
    side *= MARKER_SQUARE / scene.designWidth;
    return std::hypot(x - image[0] / image[2], y - image[1] / image[2]) <= std::max(3.0, 0.1 * side);
}

double detectionRateOnce(const void* scene, int64_t variant, const std::function<double()>& pass) {
    static std::map<std::pair<const void*, int64_t>, double> rates;
    const auto key = std::make_pair(scene, variant);
    auto found = rates.find(key);
    if (found == rates.end()) found = rates.emplace(key, pass()).first;
    return found->second;
}

void sceneArgs(benchmark::internal::Benchmark* b) {
    for (const auto& size : {std::pair{640, 480}, std::pair{1280, 720}})
        for (int markers : {1, 4}) b->Args({size.first, size.second, markers});
    b->ArgNames({"w", "h", "markers"});
}

void sceneArgs(benchmark::internal::Benchmark* b, const char* name, const std::vector<int64_t>& values) {
    for (int64_t value : values)
        for (const auto& size : {std::pair{640, 480}, std::pair{1280, 720}})
            for (int markers : {1, 4}) b->Args({size.first, size.second, markers, value});
    b->ArgNames({"w", "h", "markers", name});
}

const RenderedScene& zelkScene(const benchmark::State& state) {
    return zelkScene(int(state.range(0)), int(state.range(1)), int(state.range(2)));
}

zelk::FrameImage sceneFrame(const RenderedScene& scene, size_t i) {
    return {scene.framePointers[i], scene.width, scene.height, 4 * scene.width};
}

zelk::Detector& sceneDetector(const RenderedScene& scene) {
    static const auto detector = [] {
        auto made = std::make_unique<zelk::Detector>();
        for (const std::string& file : zelkPatternFiles()) zelk::loadPattern(&made->patterns, file.c_str());
        return made;
    }();
    detector->camera = scene.camera;
    zelk::resetDetector(detector.get());
    return *detector;
}

const TestFrame& dotLatticeScene(int width, int height) {
    static std::map<std::pair<int, int>, TestFrame> cache;
    TestFrame& f = cache[{width, height}];
    if (!f.bytes.empty()) return f;
    f = blankFrame(width, height);
    for (int y = 1; y < height; y += 2)
        for (int x = 1; x < width; x += 2) f.set(x, y, kBlack);
    return f;
}
