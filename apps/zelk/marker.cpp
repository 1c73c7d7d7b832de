// zelk marker: a printable marker image. The outer quarter of the width on every side is
// black; the picture fills the inner half.
#include <filesystem>
#include <iostream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/commands.h"
#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::tool {

namespace {

// The printed picture of a pattern file: its orientation block 0.
cv::Mat patternPicture(const std::string& path) {
    synth::MarkerFace face;
    std::string error;
    if (!synth::loadPatternFace(path, &face, &error)) fail(error);
    const cv::Mat whole(face.size, face.size, CV_8UC3, face.bgr.data());
    return whole(cv::Rect(face.size / 4, face.size / 4, face.size / 2, face.size / 2)).clone();
}

void makeMarker(const std::string& source, int pixels, const std::string& output) {
    if (pixels < 32 || pixels % 4 != 0) fail("--pixels must be a multiple of 4, at least 32");
    cv::Mat picture = std::filesystem::path(source).extension() == ".pat"
                          ? patternPicture(source)
                           : cv::imread(source, cv::IMREAD_COLOR);
    if (picture.empty()) fail("cannot read the picture " + source);
    const int innerSize = pixels / 2;
    // Enlarging keeps the pattern's cells crisp; shrinking averages.
    const int interpolation = picture.cols < innerSize ? cv::INTER_NEAREST : cv::INTER_AREA;
    cv::Mat marker(pixels, pixels, CV_8UC3, cv::Scalar(0, 0, 0));
    cv::resize(picture, marker(cv::Rect(pixels / 4, pixels / 4, innerSize, innerSize)),
               cv::Size(innerSize, innerSize), 0, 0, interpolation);
    if (!cv::imwrite(output, marker)) fail("cannot write " + output);
    std::cout << output << ": " << pixels << " x " << pixels << " marker from " << source << "\n";
}

}  // namespace

void addMarkerCommand(CLI::App& app) {
    auto* command = app.add_subcommand("marker", "make a printable marker image from a picture or a pattern file");
    auto source = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    auto pixels = std::make_shared<int>(512);
    command->add_option("source", *source, "a picture, or a .pat pattern file")->required();
    command->add_option("-o,--output", *output, "the marker image to write (e.g. .png)")->required();
    command->add_option("--pixels", *pixels, "width and height of the marker image")->capture_default_str();
    command->callback([=] { makeMarker(*source, *pixels, *output); });
}

}  // namespace zelk::tool
