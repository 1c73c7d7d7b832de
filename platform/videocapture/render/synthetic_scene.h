// Synthetic camera frames of printed markers, with every marker's ground truth.
//
// Conventions shared with detection and pose estimation:
// - Camera coordinates: x right, y down, z forward. Image coordinates: integer
//   coordinates are pixel centres; pixel (x, y) covers [x-0.5, x+0.5] x [y-0.5, y+0.5].
// - Marker frame: x to the right of the printed picture, y up the printed picture,
//   z = x cross y, out of the printed face. A marker facing the camera squarely and
//   upright has the rotation diag(1, -1, -1).
// - A marker's corners in order are the printed picture's top-left, top-right,
//   bottom-right, bottom-left: model points (-w/2, w/2), (w/2, w/2), (w/2, -w/2), (-w/2, -w/2).
// - A pose is camera-from-marker, 3 x 4 row-major: camera point = R * marker point + t.
// Frames are rendered in observed coordinates, through the camera's lens distortion.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#ifdef ZELK_WITH_OPENCV
#include <opencv2/core.hpp>
#endif

#include "camera/camera_params.h"
#include "platform/videocapture/xml_reader.h"

namespace zelk::synth {

// A marker's printed face: size x size BGR texels over the whole marker square,
// row 0 at the top, drawn blocky (each texel a small square).
struct MarkerFace {
    int size = 0;
    std::vector<unsigned char> bgr;  // size x size x 3
};

// The face of a pattern's printed picture (16 x 16 texels, planes B, G, R) in its black border.
MarkerFace patternFace(const unsigned char picture[16][16][3]);
// Reads a pattern file's orientation-0 picture into a face. False (with a message) on a bad file.
bool loadPatternFace(const std::string& path, MarkerFace* face, std::string* error);
// Reads a printable marker picture (border included) into a face; needs OpenCV.
bool loadImageFace(const std::string& path, MarkerFace* face, std::string* error);
#ifdef ZELK_WITH_OPENCV
// Reads a picture file as 8-bit BGR, or gives an empty picture. The renderer leaves it to the
// program: the video library and the tests link marker_picture.cpp, which reads with OpenCV's
// codecs; zelk loads those codecs only when it needs them.
cv::Mat readMarkerPicture(const std::string& path);
#endif

struct SceneMarker {
    const MarkerFace* face = nullptr;
    double width = 80.0;  // scene units
    double pose[3][4] = {};
};

struct RenderOptions {
    int supersample = 8;      // s x s samples for pixels on an edge
    double background = 200;  // grey level of the background
    double gradient = 0;      // illumination falls by this fraction from top-left to bottom-right
    double noise = 0;         // Gaussian noise, sigma in grey levels
    double blur = 0;          // Gaussian blur, sigma in pixels
    uint64_t seed = 1;        // noise seed
};

struct MarkerTruth {
    double pose[3][4];
    double width;
    double ideal[4][2];     // corners in order, ideal image coordinates
    double observed[4][2];  // the same corners, observed image coordinates
    bool facing;            // the printed face is toward the camera and in front of it (drawn)
    bool inside;            // drawn, and the whole marker lies at least 2 pixels inside the frame
};

// The truth of one marker seen by the camera.
MarkerTruth markerTruth(const zelk::CameraParams& camera, const SceneMarker& marker);

// Renders frames for one camera; keeps per-camera tables between frames.
class Renderer {
public:
    explicit Renderer(const zelk::CameraParams& camera);
    int width() const { return width_; }
    int height() const { return height_; }
    // Draws the markers into bgra (width x height x 4, byte 3 = 255). frameSeed varies the
    // noise between frames. Appends one truth per marker, in order, when truth is given.
    void render(const std::vector<SceneMarker>& markers, const RenderOptions& options, uint64_t frameSeed,
                unsigned char* bgra, std::vector<MarkerTruth>* truth = nullptr);

private:
    zelk::CameraParams camera_;
    int width_, height_;
    std::vector<double> cornerIdeal_;  // ideal coordinates of every pixel corner, (w+1) x (h+1) x 2
    std::vector<uint32_t> labels_;     // per pixel corner: 0 background, else marker + texel colour
    std::vector<float> colour_;        // the frame before noise, w x h x 3
    std::vector<float> scratch_;
    std::vector<float> lightX_, lightY_;  // illumination: lightY_[y] - lightX_[x]
};

// The ranges of the built-in marker path.
struct PathRanges {
    double distance[2] = {300, 1500};  // scene units along the optical axis
    double tilt[2] = {0, 60};          // degrees away from facing the camera squarely
    double spin = 45;                  // in-plane turn, degrees per second
    double drift = 1;                  // 0 keeps each marker at the centre of its part of the frame
};

// Marker index of count at time seconds on the path: each marker keeps to its own part
// of the frame, so markers never overlap; distances too near to fit are raised.
void pathPose(const zelk::CameraParams& camera, const PathRanges& ranges, double width, int index, int count,
              double seconds, double pose[3][4]);

// A synthetic scene as the video configuration describes it.
struct SceneDescription {
    struct Marker {
        std::string name;    // the file as written in the configuration
        bool image = false;  // a printable picture rather than a pattern file
        double width = 80;
        bool fixed = false;  // stays at pose instead of moving along the path
        double pose[3][4] = {};
    };
    std::string baseDirectory;  // relative file names are relative to this
    std::string camera;         // camera parameter file; empty for the built-in camera
    int width = 0, height = 0;  // frame size; 0 for the camera's
    int frames = 300;           // scene length; 0 for endless
    double fps = 30;
    std::string truth;  // ground truth file (JSON lines); empty for none
    RenderOptions render;
    PathRanges path;
    std::vector<Marker> markers;
};

// Sets an attribute of the scene element from its text. False (with a message) when unknown or malformed.
bool setSceneAttribute(SceneDescription* description, const char* name, const char* value, std::string* error);
// Sets an attribute of a marker element from its text. False (with a message) when unknown or malformed.
bool setMarkerAttribute(SceneDescription::Marker* marker, const char* name, const char* value, std::string* error);
// Reads count finite numbers separated by blanks; nothing else may follow.
bool parseNumbers(const char* text, int count, double* values);
// Reads a decimal integer within [low, high]; nothing else may follow.
bool parseInteger(const char* text, long long low, long long high, long long* value);
// Reads a video configuration file into root: its one source element inside <video> is
// root->children[0], and base is set to the file's folder. False with a message when the
// file is not such a configuration.
bool loadVideoConfig(const char* path, video::XmlElement* root, std::string* base, std::string* error);
// Reads a <synthetic> element into description. Its loop and pace attributes, which the
// configuration reads for every recorded source, are passed over.
bool readSceneElement(const video::XmlElement& element, const std::string& base, SceneDescription* description,
                      std::string* error);
// A file name of the configuration as a path: '\' read as '/', relative to base.
std::string resolvePath(const std::string& base, const std::string& name);

// A scene made ready to render: camera loaded, faces read, truth file open.
class SyntheticSequence {
public:
    SyntheticSequence();
    ~SyntheticSequence();
    SyntheticSequence(const SyntheticSequence&) = delete;
    SyntheticSequence& operator=(const SyntheticSequence&) = delete;
    bool open(const SceneDescription& description, std::string* error);
    int width() const { return renderer_ ? renderer_->width() : 0; }
    int height() const { return renderer_ ? renderer_->height() : 0; }
    const zelk::CameraParams& camera() const { return camera_; }
    // The markers at scene frame index.
    std::vector<SceneMarker> markersAt(int frame) const;
    // Renders scene frame index; its truth lines carry the frame number delivered.
    void render(int frame, int delivered, unsigned char* bgra, std::vector<MarkerTruth>* truth = nullptr);

private:
    SceneDescription spec_;
    zelk::CameraParams camera_{};
    std::vector<MarkerFace> faces_;
    std::unique_ptr<Renderer> renderer_;
    std::FILE* truthFile_ = nullptr;
};

// Writes one JSON line of ground truth.
void writeTruthLine(std::FILE* file, int frame, int marker, const std::string& name, const MarkerTruth& truth);

}  // namespace zelk::synth
