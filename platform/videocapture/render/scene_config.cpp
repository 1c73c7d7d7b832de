// The video configuration file as the synthetic scene and the tools read it.
#include <cstring>

#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::synth {

bool loadVideoConfig(const char* configPath, video::XmlElement* root, std::string* base, std::string* error) {
    if (!configPath) {
        *error = "no configuration file";
        return false;
    }
    const std::string path = resolvePath("", configPath);
    std::string reason;
    if (!video::readXmlFile(path, root, &reason)) {
        *error = "cannot read the configuration \"" + path + "\": " + reason;
        return false;
    }
    if (root->name != "video") {
        *error = "\"" + path + "\" is not a <video> configuration";
        return false;
    }
    if (root->children.size() != 1) {
        *error = "\"" + path + "\" must hold exactly one source element";
        return false;
    }
    const std::size_t slash = path.find_last_of('/');
    *base = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
    return true;
}

bool readSceneElement(const video::XmlElement& element, const std::string& base, SceneDescription* description,
                      std::string* error) {
    description->baseDirectory = base;
    for (const video::XmlAttribute& a : element.attributes) {
        if (a.name == "loop" || a.name == "pace") continue;
        if (!setSceneAttribute(description, a.name.c_str(), a.value.c_str(), error)) return false;
    }
    for (const video::XmlElement& child : element.children) {
        if (child.name != "marker") {
            *error = "unknown element <" + child.name + "> in <synthetic>";
            return false;
        }
        description->markers.emplace_back();
        for (const video::XmlAttribute& a : child.attributes)
            if (!setMarkerAttribute(&description->markers.back(), a.name.c_str(), a.value.c_str(), error)) return false;
    }
    return true;
}

}  // namespace zelk::synth
