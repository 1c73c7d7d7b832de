// Image sequences, video files and live cameras through OpenCV.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/videocapture/render/synthetic_scene.h"
#include "platform/videocapture/video_source.h"

#ifdef ZELK_WITH_OPENCV
#include <atomic>
#include <mutex>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#endif

namespace zelk::video {
namespace {

// The attributes of the OpenCV sources, checked as they are read.
struct Attributes {
    const char* path = nullptr;
    double fps = 0;  // 0: the source's own
    int start = 0;
    int device = 0;
    const char* devicePath = nullptr;  // a camera given by path (e.g. /dev/video2) or stream address
    int width = 0, height = 0;
};

bool readAttributes(const XmlElement& element, const char* const* allowed, Attributes* out, std::string* error) {
    for (const XmlAttribute& a : element.attributes) {
        const char* name = a.name.c_str();
        const char* value = a.value.c_str();
        bool known = false;
        for (const char* const* k = allowed; *k && !known; ++k) known = std::strcmp(*k, name) == 0;
        if (!known) return unknownAttribute(element, name, error);
        // An integer within [low, high] into target.
        const auto integer = [value](long long low, long long high, int* target) {
            long long number;
            if (!synth::parseInteger(value, low, high, &number)) return false;
            *target = static_cast<int>(number);
            return true;
        };
        bool good = true;
        if (std::strcmp(name, "path") == 0)
            out->path = value;
        else if (std::strcmp(name, "fps") == 0)
            good = synth::parseNumbers(value, 1, &out->fps) && out->fps > 0 && out->fps <= 1000;
        else if (std::strcmp(name, "start") == 0)
            good = integer(0, INT_MAX, &out->start);
        else if (std::strcmp(name, "device") == 0) {
            long long number;  // a number is an index; anything else names the device
            if (synth::parseInteger(value, LLONG_MIN, LLONG_MAX, &number))
                good = integer(0, INT_MAX, &out->device);
            else
                good = *(out->devicePath = value) != '\0';
        } else if (std::strcmp(name, "width") == 0)
            good = integer(1, 8192, &out->width);
        else if (std::strcmp(name, "height") == 0)
            good = integer(1, 8192, &out->height);
        if (!good) {
            *error = "attribute " + a.name + "=\"" + a.value + "\" of <" + element.name + "> is not valid";
            return false;
        }
    }
    return true;
}

// A sequence name holds exactly one integer conversion (%d, %4d, %04d) and no other
// conversion than "%%": it becomes a format string.
bool validSequenceName(const char* name) {
    int conversions = 0;
    for (const char* p = name; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        ++p;
        if (*p == '0') ++p;
        for (int digits = 0; *p >= '0' && *p <= '9'; ++p)
            if (++digits > 2) return false;
        if (*p != 'd') return false;
        ++conversions;
    }
    return conversions == 1;
}

#ifdef ZELK_WITH_OPENCV

// Asked before OpenCV is, which would try every backend on a missing file and complain.
bool exists(const std::string& file) {
    std::FILE* probe = std::fopen(file.c_str(), "rb");
    if (probe) std::fclose(probe);
    return probe != nullptr;
}

// Converts an 8-bit grey or BGR picture to BGRA of the source's size. False when the size differs.
bool toBgra(const cv::Mat& picture, int width, int height, unsigned char* bgra) {
    if (picture.cols != width || picture.rows != height || picture.depth() != CV_8U) return false;
    cv::Mat destination(height, width, CV_8UC4, bgra);
    switch (picture.channels()) {
        case 1: cv::cvtColor(picture, destination, cv::COLOR_GRAY2BGRA); break;
        case 3: cv::cvtColor(picture, destination, cv::COLOR_BGR2BGRA); break;
        default: return false;
    }
    return true;
}

// The picture files of a folder in name order (upper and lower case extensions alike).
std::vector<std::string> folderPictures(const std::string& folder) {
    static const char* const EXTENSIONS[] = {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".ppm", ".pgm", ".webp"};
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const bool picture = std::any_of(std::begin(EXTENSIONS), std::end(EXTENSIONS),
                                         [&](const char* known) { return extension == known; });
        if (picture && entry.is_regular_file(error)) files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A numbered sequence (printf name) or the pictures of a folder; start is the first
// number, or the first picture's place in the folder.
class ImagesSource : public Source {
public:
    bool open(const std::string& pattern, bool folder, int start, double rate, std::string* error) {
        pattern_ = pattern;
        if (folder) {
            files_ = folderPictures(pattern);
            if (files_.empty()) {
                *error = "no pictures in the folder \"" + pattern + "\"";
                return false;
            }
        }
        folder_ = folder;
        start_ = next_ = start;
        const cv::Mat first = exists(name(start)) ? cv::imread(name(start), cv::IMREAD_COLOR) : cv::Mat();
        if (first.empty()) {
            *error = "cannot read the first image \"" + name(start) + "\"";
            return false;
        }
        width = first.cols;
        height = first.rows;
        fps = rate > 0 ? rate : 30;
        return true;
    }
    Read read(unsigned char* bgra) override {
        const std::string file = name(next_);
        if (!exists(file)) return Read::END;
        const cv::Mat picture = cv::imread(file, cv::IMREAD_COLOR);
        if (picture.empty()) return Read::END;
        if (!toBgra(picture, width, height, bgra)) {
            std::fprintf(stderr, "videocapture: \"%s\" is not %d x %d; the sequence ends here\n", file.c_str(), width,
                         height);
            return Read::END;
        }
        ++next_;
        return Read::FRAME;
    }
    Read skip() override {
        if (!exists(name(next_))) return Read::END;
        ++next_;
        return Read::FRAME;
    }
    bool rewind() override {
        next_ = start_;
        return true;
    }

private:
    std::string name(int index) const {
        if (folder_) return index < static_cast<int>(files_.size()) ? files_[index] : std::string();
        char buffer[4096];
        std::snprintf(buffer, sizeof buffer, pattern_.c_str(), index);
        return buffer;
    }
    std::string pattern_;
    bool folder_ = false;
    std::vector<std::string> files_;
    int start_ = 0, next_ = 0;
};

class FileSource : public Source {
public:
    bool open(const std::string& path, double rate, std::string* error) {
        path_ = path;
        if (!exists(path) || !capture_.open(path) || !capture_.read(pending_) || pending_.empty()) {
            *error = "cannot read video file \"" + path + "\"";
            return false;
        }
        width = pending_.cols;
        height = pending_.rows;
        const double own = capture_.get(cv::CAP_PROP_FPS);
        fps = rate > 0 ? rate : own > 0 && own <= 1000 ? own : 30;
        return true;
    }
    Read read(unsigned char* bgra) override {
        cv::Mat picture;
        if (!next(&picture)) return Read::END;
        if (!toBgra(picture, width, height, bgra)) return Read::END;
        return Read::FRAME;
    }
    Read skip() override {
        cv::Mat picture;
        return next(&picture) ? Read::FRAME : Read::END;
    }
    bool rewind() override {
        pending_.release();
        return capture_.open(path_);
    }

private:
    bool next(cv::Mat* picture) {
        if (!pending_.empty()) {
            *picture = pending_;
            pending_.release();
            return true;
        }
        return capture_.read(*picture) && !picture->empty();
    }
    std::string path_;
    cv::VideoCapture capture_;
    cv::Mat pending_;  // read at open to learn the size
};

// A live camera: a thread grabs frames as they come; read hands out each one once.
class CameraSource : public Source {
public:
    ~CameraSource() override { stop(); }
    bool open(const Attributes& a, std::string* error) {
        const std::string name = a.devicePath ? a.devicePath : std::to_string(a.device);
        if (!(a.devicePath ? capture_.open(a.devicePath) : capture_.open(a.device))) {
            *error = "cannot open camera " + name;
            return false;
        }
        if (a.width) capture_.set(cv::CAP_PROP_FRAME_WIDTH, a.width);
        if (a.height) capture_.set(cv::CAP_PROP_FRAME_HEIGHT, a.height);
        if (a.fps > 0) capture_.set(cv::CAP_PROP_FPS, a.fps);
        cv::Mat first;
        if (!capture_.read(first) || first.empty()) {
            *error = "camera " + name + " delivers no frames";
            return false;
        }
        width = first.cols;
        height = first.rows;
        fps = a.fps > 0 ? a.fps : 30;
        live = true;
        return true;
    }
    bool start() override {
        if (grabber_.joinable()) return true;
        running_ = true;
        grabber_ = std::thread([this] { grab(); });
        return true;
    }
    void stop() override {
        running_ = false;
        if (grabber_.joinable()) grabber_.join();
    }
    Read read(unsigned char* bgra) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fresh_) {
            fresh_ = false;
            return toBgra(newest_, width, height, bgra) ? Read::FRAME : Read::NOT_READY;
        }
        return failed_ ? Read::END : Read::NOT_READY;
    }
    Read skip() override { return Read::NOT_READY; }
    bool rewind() override { return false; }

private:
    void grab() {
        cv::Mat picture;
        while (running_) {
            const bool good = capture_.read(picture) && !picture.empty();
            std::lock_guard<std::mutex> lock(mutex_);
            if (!good) {
                failed_ = true;
                return;
            }
            picture.copyTo(newest_);
            fresh_ = true;
        }
    }
    cv::VideoCapture capture_;
    std::thread grabber_;
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    cv::Mat newest_;
    bool fresh_ = false;
    bool failed_ = false;
};

#endif

const char* const RECORDED_IMAGES[] = {"path", "fps", "start", "loop", "pace", "still", nullptr};
const char* const RECORDED_FILE[] = {"path", "fps", "loop", "pace", nullptr};
const char* const CAMERA[] = {"device", "width", "height", "fps", nullptr};

}  // namespace

std::unique_ptr<Source> makeImagesSource(const XmlElement& element, const std::string& base, std::string* error) {
    Attributes a;
    if (!readAttributes(element, RECORDED_IMAGES, &a, error)) return nullptr;
    const std::string path = a.path ? synth::resolvePath(base, a.path) : "";
    std::error_code notFolder;
    const bool folder = a.path && std::filesystem::is_directory(path, notFolder);
    // The folder a numbered sequence lives in, or the path itself, must be there.
    const std::filesystem::path needed = validSequenceName(a.path ? a.path : "")
                                             ? std::filesystem::path(path).parent_path()
                                             : std::filesystem::path(path);
    if (a.path && !needed.empty() && !std::filesystem::exists(needed, notFolder)) {
        *error = "there is no folder \"" + needed.string() + "\"";
        return nullptr;
    }
    if (!a.path || (!folder && !validSequenceName(a.path))) {
        *error = "<images> needs a folder or a path with one number field, such as frames/%04d.png";
        return nullptr;
    }
#ifdef ZELK_WITH_OPENCV
    auto source = std::make_unique<ImagesSource>();
    if (!source->open(path, folder, a.start, a.fps, error)) return nullptr;
    return source;
#else
    (void)base;
    *error = "image sequences need OpenCV";
    return nullptr;
#endif
}

std::unique_ptr<Source> makeFileSource(const XmlElement& element, const std::string& base, std::string* error) {
    Attributes a;
    if (!readAttributes(element, RECORDED_FILE, &a, error)) return nullptr;
    if (!a.path) {
        *error = "<file> needs a path";
        return nullptr;
    }
#ifdef ZELK_WITH_OPENCV
    auto source = std::make_unique<FileSource>();
    if (!source->open(synth::resolvePath(base, a.path), a.fps, error)) return nullptr;
    return source;
#else
    (void)base;
    *error = "video files need OpenCV";
    return nullptr;
#endif
}

std::unique_ptr<Source> makeCameraSource(const XmlElement& element, const std::string&, std::string* error) {
    Attributes a;
    if (!readAttributes(element, CAMERA, &a, error)) return nullptr;
#ifdef ZELK_WITH_OPENCV
    auto source = std::make_unique<CameraSource>();
    if (!source->open(a, error)) return nullptr;
    return source;
#else
    *error = "cameras need OpenCV";
    return nullptr;
#endif
}

}  // namespace zelk::video
