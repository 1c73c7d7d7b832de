// The zelk command's subcommands and the helpers they share.
#pragma once
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <opencv2/core.hpp>  // cv::format and the pictures

#include "camera/camera_params.h"
#include "pose/board_file.h"

namespace zelk::tool {

// Each adds its subcommand to the command line.
void addTrackCommand(CLI::App& app);
void addPatternCommand(CLI::App& app);
void addMarkerCommand(CLI::App& app);
void addCameraCommand(CLI::App& app);
void addCamerasCommand(CLI::App& app);
void addSceneCommand(CLI::App& app);
void addRenderCommand(CLI::App& app);

// Writes a camera record to a camera parameter file (big-endian); fails with a message.
void writeCameraFile(CameraParams record, const std::string& path);

// Reads a camera parameter file, failing with one line that names what is wrong with it.
CameraParams checkCameraFile(const std::string& path);
// Reads a pattern file as the plug-in will, failing with one line that names what is wrong with it.
void checkPatternFile(const std::string& path);
// Reads a board file and its pattern files as the plug-in will, failing with one line that names what is wrong.
BoardFile checkBoardFile(const std::string& path);

// Fails when the output path is one of the inputs (the same file, whatever the spelling).
void refuseOverwriting(const std::string& output, const std::vector<std::string>& inputs);

// Prints "zelk: message" to standard error and ends the subcommand with exit code 1.
[[noreturn]] void fail(const std::string& message);

}  // namespace zelk::tool
