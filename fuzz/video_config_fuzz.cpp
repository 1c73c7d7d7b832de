// The video configuration: the document is parsed and described, opening nothing. A
// described synthetic scene of at most 128 x 128 pixels is then opened and two of its
// frames rendered, with its files replaced by this target's own (every marker a scratch
// pattern file, the built-in camera, no truth file), so that no input reads or writes
// files of its choosing. The input is the document's text.
#include <tinyxml2.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/videocapture/video_source.h"

using namespace zelk;

namespace {

constexpr long long LARGEST_RENDERED = 128 * 128;
std::string patternPath;

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
    tinyxml2::XMLDocument document;
    if (document.Parse(reinterpret_cast<const char*>(data), size) != tinyxml2::XML_SUCCESS) return 0;
    video::SourceDescription description;
    std::string error;
    if (!video::describeSource(document, "/nonexistent/configuration.xml", &description, &error)) return 0;
    if (description.kind != "synthetic") return 0;

    synth::SceneSpec& scene = description.scene;
    const long long width = scene.width ? scene.width : 640, height = scene.height ? scene.height : 480;
    if (width * height > LARGEST_RENDERED) return 0;
    scene.camera.clear();
    scene.truth.clear();
    for (synth::SceneSpec::Marker& marker : scene.markers) {
        marker.name = patternPath;
        marker.image = false;
    }
    std::unique_ptr<video::Source> source = video::openDescribedSource(description, &error);
    if (!source) return 0;
    std::vector<unsigned char> frame(size_t(source->width) * source->height * 4);
    source->read(frame.data());
    for (int i = 0; i < 1000 && source->skip() == video::Read::FRAME; ++i) {
    }
    source->read(frame.data());
    return 0;
}
