// The picture zelk track annotates: what the plug-in found, drawn on the camera frame.
#pragma once
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "plugin/exports.h"

namespace zelk::tool {

struct OverlayCamera {
    double projection[3][4];
    double distortion[4];
};

struct OverlayMarker {
    ZelkMarkerInfo info;
    std::string name;  // empty when unidentified
    bool posed;        // pose holds the camera-from-marker transform
    double pose[3][4];
};

// Draws each marker's outline and name, and a cube standing on every posed marker, onto a
// BGR picture. Ideal coordinates are distorted as the camera does, so lines meet the picture.
void drawOverlay(cv::Mat& picture, const OverlayCamera& camera, const std::vector<OverlayMarker>& markers, int frame);

}  // namespace zelk::tool
