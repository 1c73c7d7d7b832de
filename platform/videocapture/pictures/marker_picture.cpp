// Marker pictures for the renderer, read with OpenCV's codecs.
#include <opencv2/imgcodecs.hpp>

#include "platform/videocapture/render/synthetic_scene.h"

cv::Mat zelk::synth::readMarkerPicture(const std::string& path) { return cv::imread(path, cv::IMREAD_COLOR); }
