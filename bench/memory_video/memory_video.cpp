// A stand-in video library for timing the plug-in: it hands out frames that the
// benchmark rendered beforehand, in turn, straight from the benchmark's buffers, so that
// neither rendering nor decoding nor a copy is timed. Built as libvideocapture.so in a
// folder of its own; loaded before the plug-in, it is the library the plug-in binds to.
#include "bench/memory_video/memory_video.h"

#include <cstddef>

namespace {

const unsigned char* const* frames;
int frameCount, frameWidth, frameHeight, next;
bool open, capturing;
long long delivered;

}  // namespace

void memoryVideoServe(const unsigned char* const* list, int count, int width, int height) {
    frames = list;
    frameCount = count;
    frameWidth = width;
    frameHeight = height;
    next = 0;
}

void memoryVideoRewind(void) { next = 0; }

long long memoryVideoDelivered(void) { return delivered; }

int videoOpen(const char*) {
    if (!frames || frameCount < 1) return -1;
    open = true;
    capturing = false;
    next = 0;
    return 0;
}

int videoInqSize(int* width, int* height) {
    if (!open || !width || !height) return -1;
    *width = frameWidth;
    *height = frameHeight;
    return 0;
}

int videoCapStart(void) {
    if (!open) return -1;
    capturing = true;
    return 0;
}

unsigned char* videoGetImage(void) {
    if (!open || !capturing) return nullptr;
    ++delivered;
    // The plug-in only reads frames; the interface just does not say so.
    return const_cast<unsigned char*>(frames[next]);
}

int videoCapNext(void) {
    if (!open) return -1;
    next = (next + 1) % frameCount;
    return 0;
}

int videoCapStop(void) {
    if (!open) return -1;
    capturing = false;
    return 0;
}

int videoClose(void) {
    if (!open) return -1;
    open = capturing = false;
    return 0;
}

int videoAtEnd(void) { return 0; }
