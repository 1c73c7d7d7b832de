// zelk render: test footage from a synthetic scene's video configuration, rendered by the
// video library's own renderer. The folder receives the frames (0000.png, 0001.png, ...),
// every marker's true pose per frame (truth.jsonl), the camera the frames were rendered
// through (camera_para.dat) and a configuration that plays the frames back (frames.xml).
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/arguments.h"
#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"
#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::tool {

namespace {

namespace fs = std::filesystem;

struct RenderOptions {
    std::string config, output;
    int frames = -1;  // -1: the scene's own length
};

void render(const RenderOptions& options) {
    video::XmlElement root;
    std::string base, error;
    if (!synth::loadVideoConfig(options.config.c_str(), &root, &base, &error)) fail(error);
    const video::XmlElement& element = root.children[0];
    if (element.name != "synthetic")
        fail(options.config + " describes <" + element.name + ">, not a <synthetic> scene");
    synth::SceneDescription description;
    if (!synth::readSceneElement(element, base, &description, &error)) fail(error);
    description.truth.clear();  // the truth goes into the output folder
    const int frames = options.frames >= 0 ? options.frames : description.frames;
    if (frames <= 0) fail("the scene is endless: give --frames");

    synth::SyntheticSequence sequence;
    if (!sequence.open(description, &error)) fail(error);
    std::error_code failed;
    fs::create_directories(options.output, failed);
    if (failed) fail("cannot make the folder " + options.output);
    const fs::path folder(options.output);
    std::FILE* truth = std::fopen((folder / "truth.jsonl").string().c_str(), "w");
    if (!truth) fail("cannot write " + (folder / "truth.jsonl").string());

    cv::Mat bgra(sequence.height(), sequence.width(), CV_8UC4), bgr;
    for (int frame = 0; frame < frames; ++frame) {
        std::vector<synth::MarkerTruth> seen;
        sequence.render(frame, frame, bgra.data, &seen);
        cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
        const std::string name = (folder / cv::format("%04d.png", frame)).string();
        if (!writePicture(name, bgr)) {
            std::fclose(truth);
            fail("cannot write " + name);
        }
        for (size_t i = 0; i < seen.size(); ++i)
            synth::writeTruthLine(truth, frame, static_cast<int>(i), description.markers[i].name, seen[i]);
    }
    if (std::fclose(truth) != 0) fail("cannot write " + (folder / "truth.jsonl").string());
    writeCameraFile(sequence.camera(), (folder / "camera_para.dat").string());
    std::ofstream playback(folder / "frames.xml");
    playback << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<video>\n  <images path=\"%04d.png\" fps=\""
             << description.fps << "\"/>\n</video>\n";
    if (!playback.flush()) fail("cannot write " + (folder / "frames.xml").string());
    std::cout << options.output << ": " << frames << " frames of " << sequence.width() << " x " << sequence.height()
              << ", " << description.markers.size() << " markers; truth.jsonl, camera_para.dat, frames.xml\n";
}

}  // namespace

void addRenderCommand(CLI::App& app) {
    auto* command = app.add_subcommand("render", "render a synthetic scene's frames, with the true marker poses");
    auto options = std::make_shared<RenderOptions>();
    command->add_option("config", options->config, "a video configuration with a <synthetic> scene")->required();
    command->add_option("-o,--output", options->output, "the folder to write into")->required();
    command->add_option("--frames", options->frames, "how many frames (default: the scene's length)")
        ->check(wholeNumber(1));
    command->callback([options] { render(*options); });
}

}  // namespace zelk::tool
