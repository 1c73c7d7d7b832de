// The video library's operations over the configured source.
//
// Recorded sources hand out the next frame on every videoGetImage, or with
// pace="realtime" the frame due at the source's frame rate (null until it is due,
// frames passed over when the caller is slow). A live camera hands out each new frame
// once. At the end of a recorded source videoGetImage returns null and videoAtEnd 1,
// unless the source loops. Frames are delivered only between videoCapStart and videoCapStop.
#include "platform/videocapture/videocapture.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/videocapture/video_source.h"

namespace zelk::video {
namespace {

std::unique_ptr<Source> source;
std::vector<unsigned char> frame;
bool capturing = false;
bool ended = false;
long long consumed = 0;  // frames read or passed over since capture started
std::chrono::steady_clock::time_point started;

// One step of the recorded source, starting over at its end when it loops.
Read advance(bool deliver) {
    Read result = deliver ? source->read(frame.data()) : source->skip();
    if (result == Read::END && source->loop && source->rewind())
        result = deliver ? source->read(frame.data()) : source->skip();
    if (result == Read::END) ended = true;
    if (result == Read::FRAME) ++consumed;
    return result;
}

}  // namespace
}  // namespace zelk::video

using namespace zelk::video;

int videoOpen(const char* config) {
    if (source) videoClose();
    std::string error;
    std::unique_ptr<Source> opened = openConfiguredSource(config, &error);
    if (!opened) {
        std::fprintf(stderr, "videocapture: %s\n", error.c_str());
        return -1;
    }
    source = std::move(opened);
    frame.assign(static_cast<std::size_t>(source->width) * source->height * 4, 0);
    capturing = ended = false;
    consumed = 0;
    return 0;
}

int videoInqSize(int* width, int* height) {
    if (!source || !width || !height) return -1;
    *width = source->width;
    *height = source->height;
    return 0;
}

int videoCapStart(void) {
    if (!source) return -1;
    if (!capturing) {
        if (!source->start()) return -1;
        capturing = true;
        consumed = 0;
        started = std::chrono::steady_clock::now();
    }
    return 0;
}

unsigned char* videoGetImage(void) {
    if (!source || !capturing || ended) return nullptr;
    if (source->live) {
        const Read result = source->read(frame.data());
        if (result == Read::END) ended = true;
        return result == Read::FRAME ? frame.data() : nullptr;
    }
    if (source->realtime) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        const long long due = static_cast<long long>(elapsed.count() * source->fps);
        if (due < consumed) return nullptr;
        while (consumed < due)
            if (advance(false) != Read::FRAME) return nullptr;
    }
    return advance(true) == Read::FRAME ? frame.data() : nullptr;
}

int videoCapNext(void) { return source ? 0 : -1; }

int videoCapStop(void) {
    if (!source) return -1;
    source->stop();
    capturing = false;
    return 0;
}

int videoClose(void) {
    if (!source) return -1;
    source->stop();
    source.reset();
    frame.clear();
    frame.shrink_to_fit();
    capturing = ended = false;
    return 0;
}

int videoAtEnd(void) { return source && ended ? 1 : 0; }

int videoStill(void) { return source && source->still ? 1 : 0; }
