// zelk cameras: the live cameras OpenCV can open, each with the size it delivers, the
// common sizes it also accepts, and the video configuration that reads it.
//
// Cameras are the /dev/video* devices, opened by path as the video library opens
// <camera device="...">. Devices that do not open (a camera's metadata node, one in use)
// are left out. No camera at all is an answer, not a failure.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include "apps/zelk/commands.h"

namespace zelk::tool {

namespace {

namespace fs = std::filesystem;

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

}  // namespace

void addCamerasCommand(CLI::App& app) {
    auto* command = app.add_subcommand("cameras", "list the live cameras, their sizes and their video configuration");
    command->callback(listCameras);
}

}  // namespace zelk::tool
