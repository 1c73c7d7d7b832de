// Two detectors on two threads give exactly what they give one after the other: detectors
// share nothing mutable, and pose estimation keeps its work on the caller's stack. CI runs
// this program under ThreadSanitizer, which reports any shared write.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "detect/detector.h"
#include "pose/pose_estimation.h"
#include "tests/support/frames.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

using namespace zelk;

namespace {

constexpr int FRAMES = 8;

// A video of markers moving and turning across the frame, its own size and patterns.
struct Video {
    std::vector<TestFrame> frames;
    CameraParams camera;
    std::vector<std::string> patterns;
};

Video makeVideo(int width, int height, int firstDesign, const std::string& name) {
    Video video;
    video.camera = pinholeCamera(width, height, width);
    video.camera.distortion[2] = 20.0;  // a radial term, so that the lens conversion runs
    for (int design = firstDesign; design < firstDesign + 3; design++) {
        video.patterns.push_back(scratchPath(name + std::to_string(design) + ".patt"));
        writePatternFile(video.patterns.back(), makePatternPicture(design));
    }
    for (int f = 0; f < FRAMES; f++) {
        TestFrame frame = blankFrame(width, height);
        for (int m = 0; m < 3; m++) {
            const double x = width * (0.2 + 0.3 * m) + 3.0 * f, y = height * (0.35 + 0.1 * m) - 2.0 * f;
            drawMarker(frame, squareCorners(x, y, height / 4.0, 0.3 * f + m), makePatternPicture(firstDesign + m));
        }
        video.frames.push_back(std::move(frame));
    }
    return video;
}

// What a detector reports over a video: every frame's marker list, and the pose of every
// identified marker, as bytes.
std::vector<unsigned char> track(const Video& video) {
    const auto detector = std::make_unique<Detector>();
    detector->camera = video.camera;
    for (const std::string& path : video.patterns) loadPattern(&detector->patterns, path.c_str());
    std::vector<unsigned char> seen;
    const auto keep = [&seen](const void* bytes, size_t size) {
        seen.insert(seen.end(), static_cast<const unsigned char*>(bytes),
                    static_cast<const unsigned char*>(bytes) + size);
    };
    for (const TestFrame& frame : video.frames) {
        const FrameImage image = frame.image();
        const int result = detectMarkers(detector.get(), &image, 100);
        keep(&result, sizeof result);
        const MarkerList& markers = detector->markers;
        keep(markers.records, sizeof(MarkerRecord) * size_t(markers.count));
        for (int32_t i = 0; i < markers.count; i++) {
            if (markers.records[i].patternId < 0) continue;
            const double centre[2] = {0, 0};
            double pose[3][4] = {};
            const double error = estimateMarkerPose(&markers.records[i], &detector->camera, centre, 80, pose);
            keep(&error, sizeof error);
            keep(pose, sizeof pose);
        }
    }
    return seen;
}

TEST(TwoDetectors, OnTwoThreadsGiveWhatTheyGiveOneAfterTheOther) {
    const Video first = makeVideo(320, 240, 0, "first"), second = makeVideo(400, 300, 3, "second");
    const std::vector<unsigned char> alone[2] = {track(first), track(second)};
    // Each video shows its three markers in every frame: the runs have something to compare.
    ASSERT_GT(alone[0].size(), FRAMES * 3 * sizeof(MarkerRecord));
    ASSERT_GT(alone[1].size(), FRAMES * 3 * sizeof(MarkerRecord));

    std::vector<unsigned char> together[2];
    std::thread other([&] { together[1] = track(second); });
    together[0] = track(first);
    other.join();
    EXPECT_TRUE(together[0] == alone[0]);
    EXPECT_TRUE(together[1] == alone[1]);
}

}  // namespace
