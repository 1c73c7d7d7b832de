// Loads libzelkmedia.so from the folder of this executable on the first call, as the plug-in
// is loaded, and forwards to it.
#include "apps/zelk/media.h"

#include <dlfcn.h>

#include <filesystem>

#include "apps/zelk/commands.h"
#include "apps/zelk/media_calls.h"
#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::tool {

namespace {

const MediaCalls& media() {
    static const MediaCalls* const calls = [] {
        const auto path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libzelkmedia.so";
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) fail(std::string("cannot load the picture and video library: ") + dlerror());
        const auto entry = reinterpret_cast<decltype(&zelkMediaCalls)>(dlsym(library, "zelkMediaCalls"));
        if (!entry) fail("the picture and video library has no export zelkMediaCalls");
        return entry();
    }();
    return *calls;
}

}  // namespace

cv::Mat readPicture(const std::string& path, int flags) { return media().readPicture(path, flags); }
bool writePicture(const std::string& path, const cv::Mat& picture) { return media().writePicture(path, picture); }
bool canWritePicture(const std::string& path) { return media().canWritePicture(path); }
bool encodePicture(const std::string& extension, const cv::Mat& picture, std::vector<unsigned char>* bytes) {
    return media().encodePicture(extension, picture, bytes);
}
void listCameras() { media().listCameras(); }

VideoFile::~VideoFile() {
    if (video_) media().closeVideo(video_);
}

bool VideoFile::open(const std::string& path, double fps, cv::Size size) {
    video_ = media().openVideo(path, fps, size);
    return video_ != nullptr;
}

void VideoFile::write(const cv::Mat& bgr) { media().writeFrame(video_, bgr); }

}  // namespace zelk::tool

// The renderer's marker pictures (zelk scene and zelk render), read the same way.
cv::Mat zelk::synth::readMarkerPicture(const std::string& path) {
    return zelk::tool::readPicture(path, cv::IMREAD_COLOR);
}
