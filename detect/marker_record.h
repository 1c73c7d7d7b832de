// Records shared by detection, pose estimation and the pose query.
#pragma once
#include <cstdint>

namespace zelk {

// A camera frame: width x height pixels of 4 bytes, rows top to bottom, each row `stride`
// bytes after the one above (at least 4 x width); byte k of a pixel is plane k. The pixels
// belong to whoever delivered the frame.
struct FrameImage {
    const unsigned char* pixels;
    int32_t width, height;
    int32_t stride;
};

constexpr int MARKER_LIST_CAPACITY = 30;

struct MarkerRecord {
    int32_t pixelArea;
    int32_t patternId;  // -1 when nothing matched
    int32_t direction;  // stored orientation 0-3 that matched; -1 when nothing matched
    double confidence;
    double centre[2];        // region centroid, observed coordinates
    double edgeLines[4][3];  // side i: a x + b y + c = 0, ideal coordinates, (a, b) unit
    double corners[4][2];    // corner i joins side i-1 and side i, ideal coordinates
    int32_t carriedOver;     // 0 when found in this frame; else the frames since, for a copy the history carried over
};

// A frame's markers.
struct MarkerList {
    MarkerRecord records[MARKER_LIST_CAPACITY];
    int32_t count;
};

}  // namespace zelk
