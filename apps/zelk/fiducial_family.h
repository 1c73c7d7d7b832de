// The common printed square fiducials (AprilTag and ArUco dictionaries), drawn with
// OpenCV's aruco module, for zelk pattern and zelk marker.
#pragma once
#include <string>

#include <opencv2/core.hpp>

namespace zelk::tool {

// The black square of a family's marker as printed, upright, border included and no white
// margin around it: one grey pixel (0 or 255) per cell. Fails with a message for an
// unknown family or an id outside it.
cv::Mat familyCells(const std::string& family, int id);

// The number of ids in a family (ids 0 to that less one). Fails for an unknown family.
int familySize(const std::string& family);

// The families' names, for help and messages.
std::string familyNames();

}  // namespace zelk::tool
