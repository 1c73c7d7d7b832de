// A peer's marker image as a face for our renderer.
#pragma once
#include <opencv2/core.hpp>

#include "platform/videocapture/render/synthetic_scene.h"

// The face of a grey marker image whose every pixel is one cell.
inline zelk::synth::MarkerFace greyFace(const cv::Mat& image) {
    zelk::synth::MarkerFace face;
    face.size = image.cols;
    for (int y = 0; y < image.rows; y++)
        for (int x = 0; x < image.cols; x++) face.bgr.insert(face.bgr.end(), 3, image.at<uint8_t>(y, x));
    return face;
}
