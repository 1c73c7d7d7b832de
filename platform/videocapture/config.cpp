// The video configuration file: one source element inside <video>.
#include <cstring>

#include <tinyxml2.h>

#include "platform/videocapture/render/synthetic_scene.h"
#include "platform/videocapture/video_source.h"

namespace zelk::video {

bool isPacingAttribute(const char* name) { return std::strcmp(name, "loop") == 0 || std::strcmp(name, "pace") == 0; }

bool unknownAttribute(const tinyxml2::XMLElement& element, const char* name, std::string* error) {
    *error = std::string("unknown attribute \"") + name + "\" of <" + element.Name() + ">";
    return false;
}

std::unique_ptr<Source> openConfiguredSource(const char* configPath, std::string* error) {
    if (!configPath) {
        *error = "no configuration file";
        return nullptr;
    }
    const std::string path = synth::resolvePath("", configPath);
    tinyxml2::XMLDocument document;
    if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        *error = "cannot read the configuration \"" + path + "\": " + document.ErrorStr();
        return nullptr;
    }
    const tinyxml2::XMLElement* root = document.RootElement();
    if (!root || std::strcmp(root->Name(), "video") != 0) {
        *error = "\"" + path + "\" is not a <video> configuration";
        return nullptr;
    }
    const tinyxml2::XMLElement* element = root->FirstChildElement();
    if (!element || element->NextSiblingElement()) {
        *error = "\"" + path + "\" must hold exactly one source element";
        return nullptr;
    }
    const std::size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);

    const std::string kind = element->Name();
    std::unique_ptr<Source> source;
    if (kind == "synthetic")
        source = makeSyntheticSource(*element, base, error);
    else if (kind == "images")
        source = makeImagesSource(*element, base, error);
    else if (kind == "file")
        source = makeFileSource(*element, base, error);
    else if (kind == "camera")
        source = makeCameraSource(*element, base, error);
    else
        *error = "unknown source <" + kind + ">";
    if (!source) return nullptr;

    if (!source->live) {
        if (element->QueryBoolAttribute("loop", &source->loop) == tinyxml2::XML_WRONG_ATTRIBUTE_TYPE) {
            *error = "attribute loop: expected true or false";
            return nullptr;
        }
        if (const char* pace = element->Attribute("pace")) {
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
