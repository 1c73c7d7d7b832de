// Rescaling a camera record to the video size.
#pragma once
#include <cstdint>
#include "camera/camera_params.h"

namespace zelk {

// Writes source scaled by width / source.imageWidth into destination. Returns 0.
int scaleCameraParams(const CameraParams* source, int32_t width, int32_t height, CameraParams* destination);

}  // namespace zelk
