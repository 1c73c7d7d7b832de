// Scriptable stand-in for the video capture library (see fake_video.cpp).
#pragma once
#include <string>
#include <vector>

#include "platform/videocapture/videocapture.h"

struct FakeVideo {
    int openResult = 0;
    int inqSizeResult = 0;
    int width = 640;
    int height = 480;
    unsigned char* nextFrame = nullptr;
    int capNextResult = 0;
    int closeResult = 0;
    std::string openedConfig;
    std::vector<std::string> calls;
    void reset();
};

extern FakeVideo fakeVideo;
