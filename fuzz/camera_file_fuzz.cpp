// The camera parameter file, read as the plug-in's start-up reads it and then used as the
// plug-in uses it: scaled to the video size, printed, and taken by detection and the pose
// query on a frame with one black-bordered square. The input is the file's content.
#include <cstdint>
#include <vector>

#include "camera/camera_params.h"
#include "camera/scaling.h"
#include "fuzz/fuzz_support.h"

using namespace zelk;

namespace {

constexpr int VIDEO_WIDTH = 64, VIDEO_HEIGHT = 48;
std::vector<unsigned char> frame;

// White, with a black square of 32 pixels whose inside holds a dark quarter.
void drawFrame() {
    frame.assign(VIDEO_WIDTH * VIDEO_HEIGHT * 4, 255);
    for (int y = 8; y < 40; ++y)
        for (int x = 16; x < 48; ++x) {
            const bool inside = x >= 24 && x < 40 && y >= 16 && y < 32;
            const bool darkQuarter = x < 32 && y < 24;
            if (!inside || darkQuarter)
                for (int k = 0; k < 3; ++k) frame[(y * VIDEO_WIDTH + x) * 4 + k] = 0;
        }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceStandardOutput();
    drawFrame();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::writeScratchFile("camera.dat", data, size);
    CameraParams records[2];
    loadCameraParams(path, 2, &records[0], &records[1]);

    CameraParams record;
    if (loadCameraParams(path, 1, &record) < 0 || record.imageWidth < 1) return 0;
    Detector* detector = fuzz::fuzzDetector();
    scaleCameraParams(&record, VIDEO_WIDTH, VIDEO_HEIGHT, &detector->camera);
    printCameraParams(&detector->camera);

    const FrameImage image = {frame.data(), VIDEO_WIDTH, VIDEO_HEIGHT, 4 * VIDEO_WIDTH};
    const int32_t count = fuzz::findMarkers(detector, &image, 100);
    const double centre[2] = {0.0, 0.0};
    for (int32_t i = 0; i < count; ++i) fuzz::queryPose(&detector->markers.records[i], &detector->camera, centre, 80.0);
    return 0;
}
