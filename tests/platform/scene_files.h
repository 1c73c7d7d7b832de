// Scratch files for the video library tests: folders, pictures, camera files.
#pragma once
#include <string>

#include "camera/camera_params.h"
#include "tests/support/marker_patterns.h"

// Four coloured quadrants: top-left red, top-right green, bottom-right blue, bottom-left yellow.
PatternPicture quadrantPicture();
// One grey level all over.
PatternPicture plainPicture(unsigned char grey);
// The quadrant colours (B, G, R) in corner order.
extern const unsigned char QUADRANT_COLOURS[4][3];

// A fresh empty folder.
std::string scratchFolder(const std::string& name);
// A 640 x 480 camera, focal length 700, centre (319.5, 239.5), with the given radial coefficient.
zelk::CameraParams testCamera(double distortionCoefficient);
void writeCameraFile(const std::string& path, const zelk::CameraParams& camera);
std::string readText(const std::string& path);
