// Rescales a camera record to the video size. One ratio, taken from the widths, scales
// both directions: calibrations and videos are expected to share the pixel aspect.
#include "camera/scaling.h"

namespace zelk {

int scaleCameraParams(const CameraParams* source, int32_t width, int32_t height, CameraParams* destination) {
    const double s = static_cast<double>(width) / static_cast<double>(source->imageWidth);
    destination->imageWidth = width;
    destination->imageHeight = height;
    for (int c = 0; c < 4; ++c) {
        destination->projection[0][c] = s * source->projection[0][c];
        destination->projection[1][c] = s * source->projection[1][c];
        destination->projection[2][c] = source->projection[2][c];
    }
    destination->distortion[0] = s * source->distortion[0];
    destination->distortion[1] = s * source->distortion[1];
    // The radial coefficient acts on squared pixel distances.
    destination->distortion[2] = source->distortion[2] / (s * s);
    destination->distortion[3] = source->distortion[3];
    return 0;
}

}  // namespace zelk
