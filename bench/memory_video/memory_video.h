// The in-memory video library's own controls, beside the video operations it exports.
#pragma once
#include "platform/videocapture/videocapture.h"

// Serves the count frames (each width x height x 4 bytes, kept by the caller) in turn,
// starting over after the last, beginning with the first.
VIDEO_API void memoryVideoServe(const unsigned char* const* frames, int count, int width, int height);
// The next frame delivered is the first again.
VIDEO_API void memoryVideoRewind(void);
// How many frames videoGetImage has handed out since the library was loaded.
VIDEO_API long long memoryVideoDelivered(void);
