// A synthetic scene from its configuration: attributes, camera, faces, frames and truth.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "camera/scaling.h"
#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::synth {

bool parseNumbers(const char* text, int count, double* values) {
    const char* p = text;
    for (int i = 0; i < count; ++i) {
        char* end;
        errno = 0;
        values[i] = std::strtod(p, &end);
        if (end == p || errno == ERANGE || !std::isfinite(values[i])) return false;
        p = end;
    }
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    return *p == '\0';
}

bool parseInteger(const char* text, long long low, long long high, long long* value) {
    char* end;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

namespace {

constexpr int MAX_SIDE = 8192;
constexpr int MAX_MARKERS = 200;
constexpr long long MAX_PIXELS = 4194304;  // the renderer keeps 16 bytes per pixel corner

bool failure(std::string* error, const char* name, const char* value, const char* expected) {
    *error = std::string("attribute ") + name + "=\"" + value + "\": expected " + expected;
    return false;
}

// One number within [low, high].
bool parseRanged(const char* name, const char* value, double low, double high, double* out, std::string* error) {
    double number;
    if (!parseNumbers(value, 1, &number) || number < low || number > high) {
        char expected[96];
        std::snprintf(expected, sizeof expected, "a number from %g to %g", low, high);
        return failure(error, name, value, expected);
    }
    *out = number;
    return true;
}

// Two numbers low <= first <= second <= high.
bool parseRange(const char* name, const char* value, double low, double high, double out[2], std::string* error) {
    double pair[2];
    if (!parseNumbers(value, 2, pair) || pair[0] < low || pair[1] < pair[0] || pair[1] > high) {
        char expected[96];
        std::snprintf(expected, sizeof expected, "two ascending numbers from %g to %g", low, high);
        return failure(error, name, value, expected);
    }
    out[0] = pair[0];
    out[1] = pair[1];
    return true;
}

bool parseSide(const char* name, const char* value, int* out, std::string* error) {
    long long number;
    if (!parseInteger(value, 1, MAX_SIDE, &number)) return failure(error, name, value, "a size of 1 to 8192 pixels");
    *out = static_cast<int>(number);
    return true;
}

void printNumbers(std::FILE* file, const double* values, int count) {
    std::fputc('[', file);
    for (int i = 0; i < count; ++i) std::fprintf(file, i ? ",%.12g" : "%.12g", values[i]);
    std::fputc(']', file);
}

void printString(std::FILE* file, const std::string& text) {
    std::fputc('"', file);
    for (unsigned char c : text) {
        if (c == '"' || c == '\\')
            std::fprintf(file, "\\%c", c);
        else if (c < 0x20)
            std::fprintf(file, "\\u%04x", c);
        else
            std::fputc(c, file);
    }
    std::fputc('"', file);
}

// The built-in camera: 700 px focal length at 640 pixels width, centred, no distortion.
CameraParams builtInCamera(int width, int height) { return pinholeCamera(width, height, 700.0 * width / 640.0); }

bool usableCamera(const CameraParams& camera) {
    if (camera.imageWidth < 1 || camera.imageWidth > MAX_SIDE || camera.imageHeight < 1 ||
        camera.imageHeight > MAX_SIDE)
        return false;
    for (const auto& row : camera.projection)
        for (double value : row)
            if (!std::isfinite(value)) return false;
    for (double value : camera.distortion)
        if (!std::isfinite(value)) return false;
    return camera.distortion[3] != 0.0;
}

}  // namespace

bool setSceneAttribute(SceneDescription* description, const char* name, const char* value, std::string* error) {
    const std::string key = name;
    long long integer;
    if (key == "camera") {
        description->camera = value;
        return true;
    }
    if (key == "truth") {
        description->truth = value;
        return true;
    }
    if (key == "width") return parseSide(name, value, &description->width, error);
    if (key == "height") return parseSide(name, value, &description->height, error);
    if (key == "frames") {
        if (!parseInteger(value, 0, 1000000000, &integer))
            return failure(error, name, value, "a frame count (0 for endless)");
        description->frames = static_cast<int>(integer);
        return true;
    }
    if (key == "seed") {
        if (!parseInteger(value, 0, INT64_MAX, &integer)) return failure(error, name, value, "a non-negative integer");
        description->render.seed = static_cast<uint64_t>(integer);
        return true;
    }
    if (key == "supersample") {
        if (!parseInteger(value, 1, 16, &integer)) return failure(error, name, value, "1 to 16");
        description->render.supersample = static_cast<int>(integer);
        return true;
    }
    if (key == "fps") return parseRanged(name, value, 0.001, 1000, &description->fps, error);
    if (key == "noise") return parseRanged(name, value, 0, 255, &description->render.noise, error);
    if (key == "blur") return parseRanged(name, value, 0, 20, &description->render.blur, error);
    if (key == "gradient") return parseRanged(name, value, 0, 1, &description->render.gradient, error);
    if (key == "background") return parseRanged(name, value, 0, 255, &description->render.background, error);
    if (key == "distance") return parseRange(name, value, 1e-6, 1e12, description->path.distance, error);
    if (key == "tilt") return parseRange(name, value, 0, 85, description->path.tilt, error);
    if (key == "spin") return parseRanged(name, value, -36000, 36000, &description->path.spin, error);
    if (key == "drift") return parseRanged(name, value, 0, 1, &description->path.drift, error);
    *error = "unknown attribute \"" + key + "\" of the synthetic scene";
    return false;
}

bool setMarkerAttribute(SceneDescription::Marker* marker, const char* name, const char* value, std::string* error) {
    const std::string key = name;
    if (key == "pattern" || key == "image") {
        if (!marker->name.empty()) {
            *error = "a marker takes one pattern or one image";
            return false;
        }
        marker->name = value;
        marker->image = key == "image";
        return true;
    }
    if (key == "size") return parseRanged(name, value, 1e-6, 1e9, &marker->width, error);
    if (key == "pose") {
        if (!parseNumbers(value, 12, &marker->pose[0][0]))
            return failure(error, name, value, "12 numbers: the 3 x 4 camera-from-marker matrix, row by row");
        marker->fixed = true;
        return true;
    }
    *error = "unknown attribute \"" + key + "\" of a marker";
    return false;
}

std::string resolvePath(const std::string& base, const std::string& name) {
    std::string path = name;
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/';
#endif
    const bool absolute = (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() > 1 && path[1] == ':');
    if (absolute || base.empty()) return path;
    return base + "/" + path;
}

SyntheticSequence::SyntheticSequence() = default;

SyntheticSequence::~SyntheticSequence() {
    if (truthFile_) std::fclose(truthFile_);
}

bool SyntheticSequence::open(const SceneDescription& description, std::string* error) {
    if (truthFile_) std::fclose(truthFile_);
    truthFile_ = nullptr;
    renderer_.reset();
    if (description.markers.size() > MAX_MARKERS) {
        *error = "at most 200 markers";
        return false;
    }
    if (!description.camera.empty()) {
        const std::string path = resolvePath(description.baseDirectory, description.camera);
        CameraParams loaded;
        if (loadCameraParams(path.c_str(), 1, &loaded) < 0 || !usableCamera(loaded)) {
            *error = "cannot read a usable camera from \"" + path + "\"";
            return false;
        }
        // The frame size given rescales the calibration the way the plug-in does.
        const int width = description.width ? description.width : loaded.imageWidth;
        const int height = description.height ? description.height : loaded.imageHeight;
        scaleCameraParams(&loaded, width, height, &camera_);
    } else {
        camera_ =
            builtInCamera(description.width ? description.width : 640, description.height ? description.height : 480);
    }
    if (static_cast<long long>(camera_.imageWidth) * camera_.imageHeight > MAX_PIXELS) {
        *error = "a synthetic frame holds at most 4,194,304 pixels";
        return false;
    }
    faces_.assign(description.markers.size(), MarkerFace());
    for (std::size_t i = 0; i < description.markers.size(); ++i) {
        const SceneDescription::Marker& marker = description.markers[i];
        if (marker.name.empty()) {
            *error = "a marker needs a pattern or an image";
            return false;
        }
        const std::string path = resolvePath(description.baseDirectory, marker.name);
        if (!(marker.image ? loadImageFace(path, &faces_[i], error) : loadPatternFace(path, &faces_[i], error)))
            return false;
    }
    if (!description.truth.empty()) {
        const std::string path = resolvePath(description.baseDirectory, description.truth);
        truthFile_ = std::fopen(path.c_str(), "w");
        if (!truthFile_) {
            *error = "cannot write the truth file \"" + path + "\"";
            return false;
        }
    }
    spec_ = description;
    renderer_ = std::make_unique<Renderer>(camera_);
    return true;
}

std::vector<SceneMarker> SyntheticSequence::markersAt(int frame) const {
    int moving = 0;
    for (const SceneDescription::Marker& marker : spec_.markers) moving += !marker.fixed;
    std::vector<SceneMarker> markers(spec_.markers.size());
    int index = 0;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const SceneDescription::Marker& marker = spec_.markers[i];
        markers[i].face = &faces_[i];
        markers[i].width = marker.width;
        if (marker.fixed)
            std::memcpy(markers[i].pose, marker.pose, sizeof marker.pose);
        else
            pathPose(camera_, spec_.path, marker.width, index++, moving, frame / spec_.fps, markers[i].pose);
    }
    return markers;
}

void SyntheticSequence::render(int frame, int delivered, unsigned char* bgra, std::vector<MarkerTruth>* truth) {
    std::vector<MarkerTruth> seen;
    renderer_->render(markersAt(frame), spec_.render, static_cast<uint64_t>(frame), bgra, &seen);
    if (truthFile_) {
        for (std::size_t i = 0; i < seen.size(); ++i)
            writeTruthLine(truthFile_, delivered, static_cast<int>(i), spec_.markers[i].name, seen[i]);
        std::fflush(truthFile_);
    }
    if (truth) truth->insert(truth->end(), seen.begin(), seen.end());
}

void writeTruthLine(std::FILE* file, int frame, int marker, const std::string& name, const MarkerTruth& truth) {
    std::fprintf(file, "{\"frame\":%d,\"marker\":%d,\"name\":", frame, marker);
    printString(file, name);
    std::fprintf(file, ",\"width\":%.12g,\"facing\":%s,\"inside\":%s,\"pose\":[", truth.width,
                 truth.facing ? "true" : "false", truth.inside ? "true" : "false");
    for (int r = 0; r < 3; ++r) {
        if (r) std::fputc(',', file);
        printNumbers(file, truth.pose[r], 4);
    }
    std::fputs("],\"ideal\":[", file);
    for (int i = 0; i < 4; ++i) {
        if (i) std::fputc(',', file);
        printNumbers(file, truth.ideal[i], 2);
    }
    std::fputs("],\"observed\":[", file);
    for (int i = 0; i < 4; ++i) {
        if (i) std::fputc(',', file);
        printNumbers(file, truth.observed[i], 2);
    }
    std::fputs("]}\n", file);
}

}  // namespace zelk::synth
