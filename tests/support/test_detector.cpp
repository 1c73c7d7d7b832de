#include "tests/support/test_detector.h"

#include "tests/support/frames.h"

std::unique_ptr<zelk::Detector> newDetector() {
    auto detector = std::make_unique<zelk::Detector>();
    detector->camera = undistortedCamera(0, 0);
    return detector;
}
