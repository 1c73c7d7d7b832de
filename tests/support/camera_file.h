// Camera parameter files for tests, written big-endian field by field.
#pragma once
#include <string>
#include <vector>

#include "camera/camera_params.h"

// A 640 x 480 calibration with a distinct value in every field.
zelk::CameraParams sampleCamera();
// The file bytes of the records, in order.
std::vector<unsigned char> cameraFileBytes(const std::vector<zelk::CameraParams>& records);
// Writes bytes to path (creating nothing else).
void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes);
// True when the two records hold the same bits in every field.
bool sameCamera(const zelk::CameraParams& a, const zelk::CameraParams& b);
