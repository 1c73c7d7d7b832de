// Detectors for tests.
#pragma once
#include <memory>

#include "detect/detector.h"

// A new detector (zeroed, on the heap) whose camera has no lens distortion: ideal and
// observed points agree.
std::unique_ptr<zelk::Detector> newDetector();
