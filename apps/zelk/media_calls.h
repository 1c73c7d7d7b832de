// The calls zelk makes into libzelkmedia.so, the part of zelk that holds OpenCV's picture
// codecs and video I/O. They bring some 220 shared libraries with them (GDAL, GStreamer,
// FFmpeg and their kin), which made every start of zelk take most of a second, help and
// argument errors included; zelk loads the library the first time it reads or writes a
// picture or a video. Both sides are built together, so the table is plain C++.
#pragma once
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace zelk::tool {

struct MediaCalls {
    // cv::imread: an empty picture when the file cannot be read.
    cv::Mat (*readPicture)(const std::string& path, int flags);
    // cv::imwrite: false when the file cannot be written. OpenCV's exceptions pass through.
    bool (*writePicture)(const std::string& path, const cv::Mat& picture);
    // True when the path's extension names a format OpenCV can write.
    bool (*canWritePicture)(const std::string& path);
    // cv::imencode to the format of the extension (".png"): false on failure.
    bool (*encodePicture)(const std::string& extension, const cv::Mat& picture, std::vector<unsigned char>* bytes);
    // An MPEG-4 video file for BGR frames of the size given, or null; written by writeFrame,
    // finished by closeVideo.
    void* (*openVideo)(const std::string& path, double fps, cv::Size size);
    void (*writeFrame)(void* video, const cv::Mat& bgr);
    void (*closeVideo)(void* video);
    // zelk cameras: prints the live cameras and their sizes.
    void (*listCameras)();
};

}  // namespace zelk::tool

// The library's one export.
extern "C" const zelk::tool::MediaCalls* zelkMediaCalls();
