// Helpers shared by the fuzz targets.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "camera/camera_params.h"
#include "detect/detector.h"

namespace zelk::fuzz {

// Reads fixed-size values from the front of a fuzz input; past its end every byte reads 0,
// so that every input, however short, is a complete case.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    void read(void* out, size_t count) {
        const size_t available = count < size_ ? count : size_;
        if (available) std::memcpy(out, data_, available);
        std::memset(static_cast<unsigned char*>(out) + available, 0, count - available);
        data_ += available;
        size_ -= available;
    }
    template <typename T>
    T take() {
        T value;
        read(&value, sizeof value);
        return value;
    }
    const uint8_t* rest() const { return data_; }
    size_t restSize() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

// Writes data to this process's scratch file (name distinguishes several per process) and
// returns the file's path: the loaders read files by name. Aborts when it cannot write.
const char* writeScratchFile(const char* name, const uint8_t* data, size_t size);
// Sends standard output to /dev/null: the loaders print, libFuzzer reports on standard error.
void silenceStandardOutput();

// The target's detector, made (zeroed) on first use and kept.
Detector* fuzzDetector();
// Detects the frame's markers with the detector, its history forgotten first so that an
// input's outcome does not depend on the ones before. Returns the marker count (0 when
// labelling fails); the markers are in detector->markers.
int32_t findMarkers(Detector* detector, const FrameImage* frame, int threshold);
// Answers the pose query for a marker as the export does, both ways round, and feeds the
// host's conversions and ang_rotate with the results.
void queryPose(const MarkerRecord* marker, const CameraParams* camera, const double centre[2], double width);

}  // namespace zelk::fuzz
