// The video configuration file: one source element inside <video>.
#include <cstring>

#include "platform/videocapture/render/synthetic_scene.h"
#include "platform/videocapture/video_source.h"

namespace zelk::video {

bool isPacingAttribute(const char* name) { return std::strcmp(name, "loop") == 0 || std::strcmp(name, "pace") == 0; }

bool unknownAttribute(const XmlElement& element, const char* name, std::string* error) {
    *error = std::string("unknown attribute \"") + name + "\" of <" + element.name + ">";
    return false;
}

// A true / false attribute, when it is there; false with a message for any other value.
bool readFlag(const XmlElement& element, const char* name, bool* flag, std::string* error) {
    const char* value = element.attribute(name);
    if (!value) return true;
    if (std::strcmp(value, "true") != 0 && std::strcmp(value, "false") != 0) {
        *error = std::string("attribute ") + name + ": expected true or false";
        return false;
    }
    *flag = std::strcmp(value, "true") == 0;
    return true;
}

std::unique_ptr<Source> openConfiguredSource(const char* configPath, std::string* error) {
    XmlElement root;
    std::string base;
    if (!synth::loadVideoConfig(configPath, &root, &base, error)) return nullptr;

    const XmlElement& element = root.children[0];
    const std::string& kind = element.name;
    std::unique_ptr<Source> source;
    if (kind == "synthetic")
        source = makeSyntheticSource(element, base, error);
    else if (kind == "images")
        source = makeImagesSource(element, base, error);
    else if (kind == "file")
        source = makeFileSource(element, base, error);
    else if (kind == "camera")
        source = makeCameraSource(element, base, error);
    else
        *error = "unknown source <" + kind + ">";
    if (!source) return nullptr;

    // Only <images> takes still (the others refuse it as unknown).
    if (!readFlag(element, "still", &source->still, error)) return nullptr;
    if (!source->live) {
        if (!readFlag(element, "loop", &source->loop, error)) return nullptr;
        if (const char* pace = element.attribute("pace")) {
            if (std::strcmp(pace, "realtime") != 0 && std::strcmp(pace, "none") != 0) {
                *error = std::string("attribute pace=\"") + pace + "\": expected realtime or none";
                return nullptr;
            }
            source->realtime = std::strcmp(pace, "realtime") == 0;
        }
    }
    return source;
}

}  // namespace zelk::video
