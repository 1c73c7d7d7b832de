// libzelkmedia.so: zelk's picture and video files through OpenCV's codecs and video I/O, and
// the listing of live cameras (media_calls.h says why they live apart).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "apps/zelk/media_calls.h"

namespace zelk::tool {

namespace {

namespace fs = std::filesystem;

cv::Mat readPicture(const std::string& path, int flags) { return cv::imread(path, flags); }

bool writePicture(const std::string& path, const cv::Mat& picture) { return cv::imwrite(path, picture); }

bool canWritePicture(const std::string& path) { return cv::haveImageWriter(path); }

bool encodePicture(const std::string& extension, const cv::Mat& picture, std::vector<unsigned char>* bytes) {
    return cv::imencode(extension, picture, *bytes);
}

void* openVideo(const std::string& path, double fps, cv::Size size) {
    auto* video = new cv::VideoWriter(path, cv::VideoWriter::fourcc('m', 'p', '4', 'v'), fps, size);
    if (video->isOpened()) return video;
    delete video;
    return nullptr;
}

void writeFrame(void* video, const cv::Mat& bgr) { static_cast<cv::VideoWriter*>(video)->write(bgr); }

void closeVideo(void* video) { delete static_cast<cv::VideoWriter*>(video); }

// Cameras are the /dev/video* devices, opened by path as the video library opens
// <camera device="...">. Devices that do not open (a camera's metadata node, one in use)
// are left out. No camera at all is an answer, not a failure.

// The device number of /dev/videoN, or -1.
int deviceNumber(const fs::path& path) {
    const std::string name = path.filename().string();
    const std::string digits = name.substr(std::min<size_t>(5, name.size()));
    if (name.rfind("video", 0) != 0 || digits.empty() || digits.size() > 4 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoi(digits);
}

cv::Size deliveredSize(const cv::VideoCapture& capture) {
    return cv::Size(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                    static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
}

// Each camera with the size it delivers, the common sizes it also accepts, and the video
// configuration that reads it.
void listCameras() {
    std::vector<std::pair<int, std::string>> devices;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/dev", error)) {
        const int number = deviceNumber(entry.path());
        if (number >= 0) devices.emplace_back(number, entry.path().string());
    }
    std::sort(devices.begin(), devices.end());
    int found = 0;
    for (const auto& [number, path] : devices) {
        cv::VideoCapture capture(path);
        if (!capture.isOpened()) continue;
        ++found;
        const cv::Size size = deliveredSize(capture);
        const double fps = capture.get(cv::CAP_PROP_FPS);
        std::string also;
        for (const cv::Size common :
             {cv::Size(320, 240), cv::Size(640, 480), cv::Size(1280, 720), cv::Size(1920, 1080)}) {
            if (common == size) continue;
            capture.set(cv::CAP_PROP_FRAME_WIDTH, common.width);
            capture.set(cv::CAP_PROP_FRAME_HEIGHT, common.height);
            if (deliveredSize(capture) == common)
                also += (also.empty() ? "; also " : ", ") + cv::format("%d x %d", common.width, common.height);
        }
        std::printf("device %d (%s): %d x %d", number, path.c_str(), size.width, size.height);
        if (fps > 0) std::printf(" at %.0f fps", fps);
        std::printf("%s\n  <video><camera device=\"%d\" width=\"%d\" height=\"%d\"/></video>\n", also.c_str(), number,
                    size.width, size.height);
    }
    if (found == 0) std::printf("no live camera that OpenCV can open\n");
}

const MediaCalls CALLS = {readPicture, writePicture, canWritePicture, encodePicture,
                          openVideo,   writeFrame,   closeVideo,      listCameras};

}  // namespace

}  // namespace zelk::tool

extern "C" __attribute__((visibility("default"))) const zelk::tool::MediaCalls* zelkMediaCalls() {
    return &zelk::tool::CALLS;
}
