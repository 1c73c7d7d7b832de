// The synthetic scene as a recorded source.
#include "platform/videocapture/render/synthetic_scene.h"
#include "platform/videocapture/video_source.h"

namespace zelk::video {
namespace {

class SyntheticSource : public Source {
public:
    bool open(const synth::SceneDescription& description, std::string* error) {
        if (!sequence_.open(description, error)) return false;
        width = sequence_.width();
        height = sequence_.height();
        fps = description.fps;
        frames_ = description.frames;
        return true;
    }
    Read read(unsigned char* bgra) override {
        if (frames_ > 0 && frame_ >= frames_) return Read::END;
        sequence_.render(frame_++, delivered_++, bgra);
        return Read::FRAME;
    }
    Read skip() override {
        if (frames_ > 0 && frame_ >= frames_) return Read::END;
        ++frame_;
        return Read::FRAME;
    }
    bool rewind() override {
        frame_ = 0;
        return true;
    }

private:
    synth::SyntheticSequence sequence_;
    int frames_ = 0;
    int frame_ = 0;      // the next scene frame
    int delivered_ = 0;  // frames handed out so far, loops included
};

}  // namespace

std::unique_ptr<Source> makeSyntheticSource(const XmlElement& element, const std::string& base, std::string* error) {
    synth::SceneDescription description;
    if (!synth::readSceneElement(element, base, &description, error)) return nullptr;
    auto source = std::make_unique<SyntheticSource>();
    if (!source->open(description, error)) return nullptr;
    return source;
}

}  // namespace zelk::video
