// Records shared by detection, pose estimation and the pose query.
#pragma once
#include <cstdint>

namespace zelk {

// A camera frame is handed around as a pointer to its first byte: width x height
// pixels of 4 bytes, rows top to bottom, no padding; byte k of a pixel is plane k.
typedef unsigned char FrameImage;

constexpr int MARKER_LIST_CAPACITY = 30;

struct MarkerRecord {
    int32_t pixelArea;
    int32_t patternId;     // -1 when nothing matched
    int32_t direction;     // stored orientation 0-3 that matched; -1 when nothing matched
    double confidence;
    double centre[2];      // region centroid, observed coordinates
    double edgeLines[4][3];  // side i: a x + b y + c = 0, ideal coordinates, (a, b) unit
    double corners[4][2];    // corner i joins side i-1 and side i, ideal coordinates
};

}  // namespace zelk
