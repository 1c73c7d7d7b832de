// A scriptable video library for the frame-pump tests: it records every call and
// answers with the results the test sets up.
#include "tests/support/fake_video.h"

#include <string>

FakeVideo fakeVideo;

void FakeVideo::reset() { *this = FakeVideo(); }

int videoOpen(const char* config) {
    fakeVideo.calls.push_back("videoOpen");
    fakeVideo.openedConfig = config ? config : "(null)";
    return fakeVideo.openResult;
}
int videoInqSize(int* width, int* height) {
    fakeVideo.calls.push_back("videoInqSize");
    if (fakeVideo.inqSizeResult >= 0) {
        *width = fakeVideo.width;
        *height = fakeVideo.height;
    }
    return fakeVideo.inqSizeResult;
}
int videoCapStart(void) {
    fakeVideo.calls.push_back("videoCapStart");
    return 0;
}
unsigned char* videoGetImage(void) {
    fakeVideo.calls.push_back("videoGetImage");
    return fakeVideo.nextFrame;
}
int videoCapNext(void) {
    fakeVideo.calls.push_back("videoCapNext");
    return fakeVideo.capNextResult;
}
int videoCapStop(void) {
    fakeVideo.calls.push_back("videoCapStop");
    return 0;
}
int videoClose(void) {
    fakeVideo.calls.push_back("videoClose");
    return fakeVideo.closeResult;
}
int videoAtEnd(void) { return 0; }
