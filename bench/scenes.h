// Frames shared by the detection benchmarks, drawn once and kept.
#pragma once
#include "tests/support/frames.h"

// A textured grey frame with `markers` dark-bordered squares (turned, of several sizes),
// each with a dark block in its bright inside. Detect with threshold BENCH_THRESHOLD.
const TestFrame& markerScene(int width, int height, int markers);
// Isolated dark dots on every other row and column: far more raw labels than fit.
const TestFrame& dotLatticeScene(int width, int height);

constexpr int BENCH_THRESHOLD = 100;
