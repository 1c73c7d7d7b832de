// zelk scene: writes a video configuration for the synthetic scene renderer. Every
// attribute is checked by the renderer's own parser and the scene is opened once (camera
// and marker files read) before the file is written. Paths in the file are relative to
// the file's own folder, as the video library reads them.
//
// A marker image is drawn as the whole marker square, so it must carry its black border:
// one whose outermost thirty-second (at least a pixel) is not nearly all dark is refused,
// since tracking would find nothing in the scene. Every border width passes.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"
#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::tool {

namespace {

namespace fs = std::filesystem;

// Scene attributes offered as options of their own; the rest go through --set.
const char* const SCENE_OPTIONS[][2] = {
    {"width", "frame width in pixels (default: the camera's)"},
    {"height", "frame height in pixels (default: the camera's)"},
    {"frames", "number of frames, 0 for endless"},
    {"fps", "frames per second"},
    {"seed", "seed of the noise"},
    {"noise", "pixel noise, standard deviation in grey levels"},
    {"blur", "blur, standard deviation in pixels"},
};

struct SceneOptions {
    std::string output, camera, truth, size = "80";
    std::vector<std::string> markers;
    std::map<std::string, std::string> given;  // SCENE_OPTIONS by name
    std::vector<std::string> settings;         // name=value
};

typedef std::vector<std::pair<std::string, std::string>> Attributes;

// A marker image's edge is black where every channel is below this level.
constexpr int DARK_LEVEL = 80;
constexpr double DARK_SHARE = 0.95;

// Fails when a marker image has no black border around its edge.
void requireBorder(const std::string& path) {
    const cv::Mat image = readPicture(path, cv::IMREAD_COLOR);
    if (image.empty()) return;  // the scene's own reading says why
    const int band = std::max(1, std::min(image.cols, image.rows) / 32);
    cv::Mat dark;
    cv::inRange(image, cv::Scalar::all(0), cv::Scalar::all(DARK_LEVEL), dark);
    const cv::Rect inside(band, band, std::max(0, image.cols - 2 * band), std::max(0, image.rows - 2 * band));
    const double edge = double(image.total()) - double(inside.area());
    const double darkEdge = cv::countNonZero(dark) - (inside.area() ? cv::countNonZero(dark(inside)) : 0);
    if (darkEdge < DARK_SHARE * edge)
        fail(path + " has no black border: a scene takes whole marker images (zelk marker " + path +
             " -o marker.png makes one)");
}

std::string xmlEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            case '"': escaped += "&quot;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

void writeElement(std::ostream& out, const char* indent, const char* name, const Attributes& attributes,
                  const char* end) {
    out << indent << "<" << name;
    for (const auto& [key, value] : attributes) out << " " << key << "=\"" << xmlEscaped(value) << "\"";
    out << end;
}

void writeScene(const SceneOptions& options) {
    const fs::path folder = fs::absolute(options.output).parent_path();
    // A path given from the current folder, as seen from the configuration's folder.
    auto fromFolder = [&](const std::string& path) {
        return fs::absolute(path).lexically_relative(folder).generic_string();
    };

    Attributes scene;
    if (!options.camera.empty()) scene.emplace_back("camera", fromFolder(options.camera));
    for (const auto& [name, help] : SCENE_OPTIONS) {
        const auto given = options.given.find(name);
        if (given != options.given.end() && !given->second.empty()) scene.emplace_back(name, given->second);
    }
    for (const auto& setting : options.settings) {
        const size_t equals = setting.find('=');
        if (equals == std::string::npos) fail("--set takes name=value, not " + setting);
        scene.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
    }
    std::vector<std::string> inputs = options.markers;
    if (!options.camera.empty()) {
        checkCameraFile(options.camera);
        inputs.push_back(options.camera);
    }
    refuseOverwriting(options.output, inputs);
    std::vector<Attributes> markers;
    for (const auto& marker : options.markers) {
        const bool pattern = fs::path(marker).extension() == ".patt";
        if (!pattern) requireBorder(marker);
        markers.push_back({{pattern ? "pattern" : "image", fromFolder(marker)}, {"size", options.size}});
    }

    synth::SceneDescription description;
    description.baseDirectory = folder.string();
    std::string error;
    for (const auto& [key, value] : scene) {
        if (!synth::setSceneAttribute(&description, key.c_str(), value.c_str(), &error)) fail(error);
    }
    for (const auto& attributes : markers) {
        description.markers.emplace_back();
        for (const auto& [key, value] : attributes) {
            if (!synth::setMarkerAttribute(&description.markers.back(), key.c_str(), value.c_str(), &error))
                fail(error);
        }
    }
    synth::SyntheticSequence sequence;
    if (!sequence.open(description, &error)) fail(error);
    if (!options.truth.empty()) scene.emplace_back("truth", fromFolder(options.truth));

    std::ofstream out(options.output);
    if (!out) fail("cannot write " + options.output);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<video>\n";
    writeElement(out, "  ", "synthetic", scene, ">\n");
    for (const auto& attributes : markers) writeElement(out, "    ", "marker", attributes, "/>\n");
    out << "  </synthetic>\n</video>\n";
    if (!out.flush()) fail("cannot write " + options.output);
    std::cout << options.output << ": " << sequence.width() << " x " << sequence.height() << ", " << markers.size()
              << " markers\n";
}

}  // namespace

void addSceneCommand(CLI::App& app) {
    auto* command = app.add_subcommand("scene", "write a video configuration for a synthetic scene");
    auto options = std::make_shared<SceneOptions>();
    command->add_option("-o,--output", options->output, "the configuration file to write")->required();
    command
        ->add_option("--marker", options->markers,
                     "marker, repeatable: a printable marker image or a .patt file; each moves along its own path")
        ->required();
    command->add_option("--size", options->size, "marker width in scene units")->capture_default_str();
    command->add_option("--camera", options->camera, "camera parameter file (default: a built-in 700 px camera)");
    command->add_option("--truth", options->truth, "also write each frame's true marker poses to this file");
    for (const auto& [name, help] : SCENE_OPTIONS) {
        command->add_option(std::string("--") + name, options->given[name], help);
    }
    command->add_option("--set", options->settings,
                        "any other scene attribute as name=value, repeatable: distance, tilt, spin, drift, "
                        "background, gradient, supersample");
    command->callback([options] { writeScene(*options); });
}

}  // namespace zelk::tool
