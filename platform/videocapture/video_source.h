// The frame sources behind the video library, and the configuration that picks one.
#pragma once
#include <memory>
#include <string>

#include "platform/videocapture/xml_reader.h"

namespace zelk::video {

enum class Read { FRAME, NOT_READY, END };

class Source {
public:
    virtual ~Source() = default;
    // Begins and ends delivery (a camera starts and stops grabbing). False when it cannot start.
    virtual bool start() { return true; }
    virtual void stop() {}
    // The next frame into bgra (width x height x 4, byte 3 = 255).
    virtual Read read(unsigned char* bgra) = 0;
    // Passes over the next frame of a recorded source.
    virtual Read skip() = 0;
    // Goes back to the first frame of a recorded source. False when it cannot.
    virtual bool rewind() = 0;

    int width = 0, height = 0;
    double fps = 30;
    bool live = false;      // frames arrive by themselves; otherwise one per call
    bool loop = false;      // a recorded source starts over at its end
    bool realtime = false;  // a recorded source is paced at fps
    bool still = false;     // its frames are pictures of their own, such as a folder of photos
};

// Opens the source described by the configuration file; null with a message on failure.
std::unique_ptr<Source> openConfiguredSource(const char* configPath, std::string* error);

// The sources, each from its element; base is the configuration file's folder.
std::unique_ptr<Source> makeSyntheticSource(const XmlElement& element, const std::string& base, std::string* error);
std::unique_ptr<Source> makeImagesSource(const XmlElement& element, const std::string& base, std::string* error);
std::unique_ptr<Source> makeFileSource(const XmlElement& element, const std::string& base, std::string* error);
std::unique_ptr<Source> makeCameraSource(const XmlElement& element, const std::string& base, std::string* error);

// True for the attributes that the configuration reads for every recorded source.
bool isPacingAttribute(const char* name);
// An unknown attribute of an element, as a message. Returns false.
bool unknownAttribute(const XmlElement& element, const char* name, std::string* error);

}  // namespace zelk::video
