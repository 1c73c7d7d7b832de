// Picture and video files for zelk's commands, through OpenCV's codecs and video I/O, which
// are loaded on first use (media_calls.h says why). A library that will not load fails the
// command with one line.
#pragma once
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>  // cv::IMREAD_COLOR and its kin; the functions come from the library

namespace zelk::tool {

cv::Mat readPicture(const std::string& path, int flags);
bool writePicture(const std::string& path, const cv::Mat& picture);
bool canWritePicture(const std::string& path);
bool encodePicture(const std::string& extension, const cv::Mat& picture, std::vector<unsigned char>* bytes);
void listCameras();

// An MPEG-4 video file being written; closed and finished when destroyed.
class VideoFile {
public:
    VideoFile() = default;
    VideoFile(const VideoFile&) = delete;
    VideoFile& operator=(const VideoFile&) = delete;
    ~VideoFile();
    bool open(const std::string& path, double fps, cv::Size size);
    bool isOpen() const { return video_ != nullptr; }
    void write(const cv::Mat& bgr);

private:
    void* video_ = nullptr;
};

}  // namespace zelk::tool
