// The peers on the same renderer, poses and frame sizes, each with its own markers:
// OpenCV's ArUco (DICT_4X4_50, from its own generator) and AprilTag (tag36h11, from its
// own tag images). Both run on one thread on grey frames converted beforehand; Zelk_Update
// (bench/plugin_bench.cpp) takes the colour frame. Each reports its detection rate: the
// visible markers it found with the right id, centred within the same tolerance as ours.
#include <apriltag/apriltag.h>
#include <apriltag/apriltag_pose.h>
#include <apriltag/tag36h11.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <opencv2/aruco.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <tuple>
#include <vector>

#include "bench/peers/grey_face.h"
#include "bench/scenes.h"

namespace {

// The scene's frames in grey (the peers' input), with its truth; the colour frames are dropped.
struct GreyScene {
    RenderedScene scene;
    std::vector<cv::Mat> grey;
};

GreyScene greyScene(const MarkerDesign& design, const benchmark::State& state) {
    GreyScene g{renderScene(design, int(state.range(0)), int(state.range(1)), int(state.range(2))), {}};
    for (auto& frame : g.scene.frames) {
        cv::Mat bgra(g.scene.height, g.scene.width, CV_8UC4, frame.data()), grey;
        cv::cvtColor(bgra, grey, cv::COLOR_BGRA2GRAY);
        g.grey.push_back(grey);
    }
    g.scene.frames.clear();
    g.scene.framePointers.clear();
    return g;
}

using SceneCache = std::map<std::tuple<int64_t, int64_t, int64_t>, GreyScene>;

const GreyScene& cachedScene(SceneCache& cache, const MarkerDesign& design, const benchmark::State& state) {
    const auto key = std::make_tuple(state.range(0), state.range(1), state.range(2));
    auto found = cache.find(key);
    if (found == cache.end()) found = cache.emplace(key, greyScene(design, state)).first;
    return found->second;
}

// Ids 0 ... 3 of DICT_4X4_50: 4 x 4 bits in a one-cell black border, 6 x 6 cells.
const cv::Ptr<cv::aruco::Dictionary>& arucoDictionary() {
    static const cv::Ptr<cv::aruco::Dictionary> dictionary = cv::aruco::getPredefinedDictionary(cv::aruco::DICT_4X4_50);
    return dictionary;
}

const GreyScene& arucoScene(const benchmark::State& state) {
    static SceneCache cache;
    static MarkerDesign design;
    if (design.faces.empty())
        for (int id = 0; id < 4; id++) {
            cv::Mat image;
            cv::aruco::drawMarker(arucoDictionary(), id, 6, image, 1);
            design.faces.push_back(greyFace(image));
        }
    return cachedScene(cache, design, state);
}

void BM_ArucoDetectMarkers(benchmark::State& state) {
    cv::setNumThreads(1);
    const GreyScene& g = arucoScene(state);
    const cv::Ptr<cv::aruco::DetectorParameters> parameters = cv::aruco::DetectorParameters::create();
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    state.counters["detected"] = detectionRateOnce(&g, 0, [&] {
        DetectionTally tally;
        for (int f = 0; f < SCENE_FRAMES; f++) {
            cv::aruco::detectMarkers(g.grey[f], arucoDictionary(), corners, ids, parameters);
            for (int m = 0; m < g.scene.markers; m++) {
                const zelk::synth::MarkerTruth& truth = g.scene.truth[f][m];
                if (!markerVisible(truth)) continue;
                bool found = false;
                for (size_t i = 0; i < ids.size(); i++) {
                    const cv::Point2f centre = (corners[i][0] + corners[i][1] + corners[i][2] + corners[i][3]) / 4;
                    found |= ids[i] == m && centreMatches(g.scene, truth, centre.x, centre.y);
                }
                tally.add(found);
            }
        }
        return tally.rate();
    });
    size_t next = 0;
    for (auto _ : state) {
        cv::aruco::detectMarkers(g.grey[next++ % SCENE_FRAMES], arucoDictionary(), corners, ids, parameters);
        benchmark::DoNotOptimize(ids.data());
    }
}
BENCHMARK(BM_ArucoDetectMarkers)->Apply(sceneArgs);

// The whole frame with ArUco: detection and a pose for every marker found.
void BM_WholeFrameAruco(benchmark::State& state) {
    cv::setNumThreads(1);
    const GreyScene& g = arucoScene(state);
    const cv::Ptr<cv::aruco::DetectorParameters> parameters = cv::aruco::DetectorParameters::create();
    const double* p[3] = {g.scene.camera.projection[0], g.scene.camera.projection[1], g.scene.camera.projection[2]};
    const cv::Matx33d camera(p[0][0], p[0][1], p[0][2], p[1][0], p[1][1], p[1][2], p[2][0], p[2][1], p[2][2]);
    std::vector<std::vector<cv::Point2f>> corners;
    std::vector<int> ids;
    std::vector<cv::Vec3d> rotations, translations;
    size_t next = 0;
    for (auto _ : state) {
        cv::aruco::detectMarkers(g.grey[next++ % SCENE_FRAMES], arucoDictionary(), corners, ids, parameters);
        if (!corners.empty())
            cv::aruco::estimatePoseSingleMarkers(corners, float(MARKER_SQUARE), camera, cv::noArray(), rotations,
                                                 translations);
        benchmark::DoNotOptimize(translations.data());
    }
}
BENCHMARK(BM_WholeFrameAruco)->Apply(sceneArgs);

struct FamilyDeleter {
    void operator()(apriltag_family_t* family) const { tag36h11_destroy(family); }
};

apriltag_family_t* tagFamily() {
    static std::unique_ptr<apriltag_family_t, FamilyDeleter> family(tag36h11_create());
    return family.get();
}

// Ids 0 ... 3 of tag36h11: 10 x 10 cells, a white ring round the 8-cell black square.
const GreyScene& aprilTagScene(const benchmark::State& state) {
    static SceneCache cache;
    static MarkerDesign design;
    if (design.faces.empty()) {
        for (int id = 0; id < 4; id++) {
            image_u8_t* image = apriltag_to_image(tagFamily(), id);
            design.faces.push_back(greyFace(cv::Mat(image->height, image->width, CV_8UC1, image->buf, image->stride)));
            // The library does not export image_u8_destroy; the image is two malloc'd blocks.
            std::free(image->buf);
            std::free(image);
        }
        design.width = MARKER_SQUARE * tagFamily()->total_width / tagFamily()->width_at_border;
    }
    return cachedScene(cache, design, state);
}

// One thread, the given decimation, its other settings the library's defaults.
class TagDetector {
public:
    explicit TagDetector(int64_t decimation) : detector_(apriltag_detector_create()) {
        apriltag_detector_add_family(detector_, tagFamily());
        detector_->nthreads = 1;
        detector_->quad_decimate = float(decimation);
    }
    ~TagDetector() { apriltag_detector_destroy(detector_); }
    TagDetector(const TagDetector&) = delete;
    TagDetector& operator=(const TagDetector&) = delete;
    zarray_t* detect(const cv::Mat& grey) {
        image_u8_t image{grey.cols, grey.rows, int32_t(grey.step), grey.data};
        return apriltag_detector_detect(detector_, &image);
    }

private:
    apriltag_detector_t* detector_;
};

// range(3): decimation.
void BM_AprilTag(benchmark::State& state) {
    const GreyScene& g = aprilTagScene(state);
    TagDetector detector(state.range(3));
    state.counters["detected"] = detectionRateOnce(&g, state.range(3), [&] {
        DetectionTally tally;
        for (int f = 0; f < SCENE_FRAMES; f++) {
            zarray_t* detections = detector.detect(g.grey[f]);
            for (int m = 0; m < g.scene.markers; m++) {
                const zelk::synth::MarkerTruth& truth = g.scene.truth[f][m];
                if (!markerVisible(truth)) continue;
                bool found = false;
                for (int i = 0; i < zarray_size(detections); i++) {
                    apriltag_detection_t* d;
                    zarray_get(detections, i, &d);
                    found |= d->id == m && centreMatches(g.scene, truth, d->c[0], d->c[1]);
                }
                tally.add(found);
            }
            apriltag_detections_destroy(detections);
        }
        return tally.rate();
    });
    size_t next = 0;
    for (auto _ : state) apriltag_detections_destroy(detector.detect(g.grey[next++ % SCENE_FRAMES]));
}
BENCHMARK(BM_AprilTag)->Apply([](benchmark::internal::Benchmark* b) { sceneArgs(b, "decimate", {1, 2}); });

// The whole frame with AprilTag: detection and the library's pose for every tag found.
void BM_WholeFrameAprilTag(benchmark::State& state) {
    const GreyScene& g = aprilTagScene(state);
    TagDetector detector(state.range(3));
    const zelk::CameraParams& camera = g.scene.camera;
    apriltag_detection_info_t info{nullptr,
                                   MARKER_SQUARE,
                                   camera.projection[0][0],
                                   camera.projection[1][1],
                                   camera.projection[0][2],
                                   camera.projection[1][2]};
    size_t next = 0;
    for (auto _ : state) {
        zarray_t* detections = detector.detect(g.grey[next++ % SCENE_FRAMES]);
        for (int i = 0; i < zarray_size(detections); i++) {
            zarray_get(detections, i, &info.det);
            apriltag_pose_t pose;
            benchmark::DoNotOptimize(estimate_tag_pose(&info, &pose));
            // The library does not export matd_destroy; a matrix is one malloc'd block.
            std::free(pose.R);
            std::free(pose.t);
        }
        apriltag_detections_destroy(detections);
    }
}
BENCHMARK(BM_WholeFrameAprilTag)->Apply([](benchmark::internal::Benchmark* b) { sceneArgs(b, "decimate", {2}); });

}  // namespace
