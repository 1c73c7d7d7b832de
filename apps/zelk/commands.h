// The zelk command's subcommands and the helpers they share.
#pragma once
#include <string>

#include <CLI/CLI.hpp>
#include <opencv2/core.hpp>  // cv::format and the pictures

#include "camera/camera_params.h"

namespace zelk::tool {

// Each adds its subcommand to the command line.
void addTrackCommand(CLI::App& app);
void addPatternCommand(CLI::App& app);
void addMarkerCommand(CLI::App& app);
void addCameraCommand(CLI::App& app);
void addSceneCommand(CLI::App& app);
void addRenderCommand(CLI::App& app);

// Writes a camera record to a camera parameter file (big-endian); fails with a message.
void writeCameraFile(CameraParams record, const std::string& path);

// Prints "zelk: message" to standard error and ends the subcommand with exit code 1.
[[noreturn]] void fail(const std::string& message);

}  // namespace zelk::tool
