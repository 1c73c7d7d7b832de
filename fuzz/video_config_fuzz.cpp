// The video configuration: the document is parsed by the library's XML reader and, when it
// describes a synthetic scene of at most 128 x 128 pixels, that scene is opened and two of
// its frames are rendered. Before opening, the scene's files are replaced by this target's
// own (every marker a scratch pattern file, the built-in camera, no truth file), so that no
// input reads or writes files of its choosing; other sources (files, cameras) are not
// opened. The input is the document's text.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/videocapture/render/synthetic_scene.h"
#include "platform/videocapture/video_source.h"
#include "platform/videocapture/xml_reader.h"

using namespace zelk;

namespace {

constexpr long long LARGEST_RENDERED = 128 * 128;
std::string patternPath;

// The frame side an attribute asks for, or the given default; -1 when it is not a side.
long long side(const video::XmlElement& element, const char* name, long long fallback) {
    const char* value = element.attribute(name);
    long long number = fallback;
    return !value || synth::parseInteger(value, 1, 8192, &number) ? number : -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceStandardOutput();
    std::string text;
    for (int block = 0; block < 4 * 3; ++block)
        for (int n = 0; n < 256; ++n) text += n % 16 < 8 && n < 128 ? "0 " : "255 ";
    patternPath = fuzz::writeScratchFile("pattern.pat", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    video::XmlElement root;
    std::string error;
    if (!video::parseXml(std::string(reinterpret_cast<const char*>(data), size), &root, &error)) return 0;
    if (root.name != "video" || root.children.size() != 1 || root.children[0].name != "synthetic") return 0;
    video::XmlElement& scene = root.children[0];
    const long long width = side(scene, "width", 640), height = side(scene, "height", 480);
    if (width < 0 || height < 0 || width * height > LARGEST_RENDERED) return 0;

    std::vector<video::XmlAttribute> kept;
    for (const video::XmlAttribute& a : scene.attributes)
        if (a.name != "camera" && a.name != "truth") kept.push_back(a);
    scene.attributes = kept;
    for (video::XmlElement& marker : scene.children)
        for (video::XmlAttribute& a : marker.attributes)
            if (a.name == "pattern" || a.name == "image") a = {"pattern", patternPath};

    std::unique_ptr<video::Source> source = video::makeSyntheticSource(scene, "/nonexistent", &error);
    if (!source) return 0;
    std::vector<unsigned char> frame(size_t(source->width) * source->height * 4);
    source->read(frame.data());
    for (int i = 0; i < 1000 && source->skip() == video::Read::FRAME; ++i) {}
    source->read(frame.data());
    return 0;
}
