// The pattern file, loaded into the library and matched against two fixed pictures, and
// read as the synthetic scene reads a marker's face; the same bytes read as a board file.
// The input is the file's content.
#include <cstdint>
#include <string>

#include "detect/pattern_library.h"
#include "fuzz/fuzz_support.h"
#include "pose/board_file.h"
#include "platform/videocapture/render/synthetic_scene.h"

using namespace zelk;

namespace {

// A dark quarter and a ramp over all values.
PatternImage quarter, ramp;

void makePictures() {
    for (int n = 0; n < PATTERN_VALUES; ++n) {
        const int pixel = n / 3, row = pixel / PATTERN_SIZE, column = pixel % PATTERN_SIZE;
        quarter.value[n] = row < 8 && column < 8 ? 0 : 255;
        ramp.value[n] = static_cast<unsigned char>(n % 256);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceStandardOutput();
    makePictures();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz::writeScratchFile("pattern.pat", data, size);
    PatternLibrary* library = &fuzz::fuzzDetector()->patterns;
    const int slot = loadPattern(library, path);
    if (slot >= 0) {
        int32_t id, direction;
        double confidence;
        matchPattern(library, &quarter, &id, &direction, &confidence);
        matchPattern(library, &ramp, &id, &direction, &confidence);
        freePattern(library, slot);
    }
    synth::MarkerFace face;
    std::string error;
    synth::loadPatternFace(path, &face, &error);
    BoardFile board;
    if (parseBoard(reinterpret_cast<const char*>(data), size, &board).status == BOARD_FILE_OK)
        for (const BoardMarker& marker : board.markers) {
            double corners[4][2];
            boardMarkerCorners(marker, corners);
        }
    return 0;
}
