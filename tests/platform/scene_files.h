// Scratch files for the video library tests: folders, pattern files, camera files, configurations.
#pragma once
#include <string>

#include "camera/camera_params.h"

// A 16 x 16 picture, planes B, G, R.
struct Picture {
    unsigned char bgr[16][16][3];
};

// A picture of four coloured quadrants: top-left red, top-right green, bottom-right blue, bottom-left yellow.
Picture quadrantPicture();
// A picture of one colour.
Picture plainPicture(unsigned char grey);
// The expected quadrant colours in corner order (B, G, R).
extern const unsigned char QUADRANT_COLOURS[4][3];

// A fresh empty folder.
std::string scratchFolder(const std::string& name);
// Writes a pattern file whose four orientations are the picture turned counter-clockwise.
void writePatternFile(const std::string& path, const Picture& picture);
// A 640 x 480 camera, focal length 700, centre (319.5, 239.5), with the given radial coefficient.
zelk::CameraParams testCamera(double distortionCoefficient);
void writeCameraFile(const std::string& path, const zelk::CameraParams& camera);
void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);
