// Detection (labelling with the fixed or the automatic threshold, candidate extraction, the
// marker list, identification, the history) on an arbitrary frame, then the pose query for
// every marker found. The input is a header followed by a tile of pixels:
//   uint16 width code, uint16 height code   a side of 1 + code % 128 pixels, or with the
//                                           code's top bit set 1 + code % 1024; the height
//                                           is then cut so that the frame fits the
//                                           labelling capacity
//   int32 threshold, int32 largest area, int32 smallest area   (any values)
//   uint8 tile width, uint8 tile height     0: the frame's own
//   uint8 flags                             bit 0: BGRA tile (else grey), bit 1: lens distortion,
//                                           bit 2: the automatic threshold
//   tile pixels, row by row (missing bytes read as 0)
// The tile is stretched over the frame (nearest pixel), so that short inputs make large
// frames of blocky shapes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

using namespace zelk;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceStandardOutput();
    // One pattern in the library, so that identification correlates: a dark quarter.
    std::string text;
    for (int block = 0; block < 4 * 3; ++block)
        for (int row = 0; row < 16; ++row)
            for (int column = 0; column < 16; ++column) text += row < 8 && column < 8 ? "0 " : "255 ";
    loadPattern(&fuzz::fuzzDetector()->patterns,
                fuzz::writeScratchFile("pattern.pat", reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return 0;
}

namespace {
// Small frames are fast: half the codes ask for one.
int32_t side(uint16_t code) { return 1 + code % (code & 0x8000 ? 1024 : 128); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<unsigned char> frame(size_t(LABEL_IMAGE_CAPACITY) * 4);
    fuzz::FuzzInput input(data, size);
    const int32_t width = side(input.take<uint16_t>());
    const int32_t height = std::min<int32_t>(side(input.take<uint16_t>()), LABEL_IMAGE_CAPACITY / width);
    const int32_t threshold = input.take<int32_t>();
    const int32_t largestArea = input.take<int32_t>();
    const int32_t smallestArea = input.take<int32_t>();
    const uint8_t tileWidthCode = input.take<uint8_t>(), tileHeightCode = input.take<uint8_t>();
    const uint8_t flags = input.take<uint8_t>();
    const int32_t tileWidth = tileWidthCode ? tileWidthCode : width;
    const int32_t tileHeight = tileHeightCode ? tileHeightCode : height;
    const int bytesPerPixel = flags & 1 ? 4 : 1;

    std::vector<unsigned char> tile(size_t(tileWidth) * tileHeight * bytesPerPixel);
    input.read(tile.data(), tile.size());
    for (int32_t y = 0; y < height; ++y) {
        const unsigned char* tileRow = &tile[size_t(int64_t(y) * tileHeight / height) * tileWidth * bytesPerPixel];
        for (int32_t x = 0; x < width; ++x) {
            const unsigned char* texel = tileRow + int64_t(x) * tileWidth / width * bytesPerPixel;
            unsigned char* pixel = &frame[(size_t(y) * width + x) * 4];
            for (int k = 0; k < 4; ++k) pixel[k] = texel[bytesPerPixel == 4 ? k : 0];
        }
    }

    Detector* detector = fuzz::fuzzDetector();
    detector->camera = pinholeCamera(width, height, width);
    if (flags & 2) detector->camera.distortion[2] = 50.0;
    detector->settings.candidateLimits.largestArea = largestArea;
    detector->settings.candidateLimits.smallestArea = smallestArea;
    detector->settings.autoThreshold = (flags & 4) != 0;
    const FrameImage image = {frame.data(), width, height, 4 * width};
    const int32_t count = fuzz::findMarkers(detector, &image, threshold);
    const double centre[2] = {0.0, 0.0};
    for (int32_t i = 0; i < count; ++i) fuzz::queryPose(&detector->markers.records[i], &detector->camera, centre, 80.0);
    return 0;
}
