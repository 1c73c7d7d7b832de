// zelk camera: writes and prints camera parameter files with the plug-in's own record
// code, so the tool and the plug-in cannot disagree about the format.
#include <cstdio>
#include <iostream>
#include <vector>

#include "apps/zelk/commands.h"
#include "camera/camera_params.h"

namespace zelk::tool {

namespace {

struct CameraOptions {
    std::string output;
    int width = 640, height = 480;
    double fx = 0, fy = 0, cx = -1, cy = -1;
    std::vector<double> distortion;
};

void writeCamera(const CameraOptions& options) {
    if (options.width <= 0 || options.height <= 0) fail("--width and --height must be positive");
    if (!(options.fx > 0) || !(options.fy > 0)) fail("--fx and --fy must be positive");
    const double cx = options.cx < 0 ? (options.width - 1) / 2.0 : options.cx;
    const double cy = options.cy < 0 ? (options.height - 1) / 2.0 : options.cy;
    CameraParams record{};
    record.imageWidth = options.width;
    record.imageHeight = options.height;
    const double projection[3][4] = {{options.fx, 0, cx, 0}, {0, options.fy, cy, 0}, {0, 0, 1, 0}};
    std::copy(&projection[0][0], &projection[0][0] + 12, &record.projection[0][0]);
    const double noDistortion[4] = {cx, cy, 0.0, 1.0};
    std::copy(noDistortion, noDistortion + 4, record.distortion);
    if (!options.distortion.empty()) std::copy(options.distortion.begin(), options.distortion.end(), record.distortion);
    if (!(record.distortion[3] != 0)) fail("the distortion scale must not be 0");
    printCameraParams(&record);
    byteSwapCameraParams(&record);
    FILE* file = std::fopen(options.output.c_str(), "wb");
    if (!file) fail("cannot write " + options.output);
    const bool written = std::fwrite(&record, sizeof record, 1, file) == 1;
    if (std::fclose(file) != 0 || !written) fail("cannot write " + options.output);
}

void printCamera(const std::string& path) {
    CameraParams record{};
    if (loadCameraParams(path.c_str(), 1, &record) < 0) fail("cannot read a camera record from " + path);
    printCameraParams(&record);
}

}  // namespace

void addCameraCommand(CLI::App& app) {
    auto* command = app.add_subcommand("camera", "write or print a camera parameter file");
    command->require_subcommand(1);

    auto* write = command->add_subcommand("write", "write a pinhole camera with one radial distortion term");
    auto options = std::make_shared<CameraOptions>();
    write->add_option("-o,--output", options->output, "the camera file to write")->required();
    write->add_option("--width", options->width, "image width in pixels")->capture_default_str();
    write->add_option("--height", options->height, "image height in pixels")->capture_default_str();
    write->add_option("--fx", options->fx, "focal length in pixels along x")->required();
    write->add_option("--fy", options->fy, "focal length in pixels along y (default: fx)");
    write->add_option("--cx", options->cx, "principal point x (default: the image centre)");
    write->add_option("--cy", options->cy, "principal point y (default: the image centre)");
    write->add_option("--distortion", options->distortion,
                      "centre x, centre y, radial coefficient x 1e8, scale (default: none)")
        ->expected(4);
    write->callback([options] {
        if (options->fy == 0) options->fy = options->fx;
        writeCamera(*options);
    });

    auto* print = command->add_subcommand("print", "print a camera file as the plug-in prints it");
    auto path = std::make_shared<std::string>();
    print->add_option("file", *path, "the camera file")->required();
    print->callback([path] { printCamera(*path); });
}

}  // namespace zelk::tool
