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

    if (!source->live) {
        if (const char* loop = element.attribute("loop")) {
            if (std::strcmp(loop, "true") != 0 && std::strcmp(loop, "false") != 0) {
                *error = "attribute loop: expected true or false";
                return nullptr;
            }
            source->loop = std::strcmp(loop, "true") == 0;
        }
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
