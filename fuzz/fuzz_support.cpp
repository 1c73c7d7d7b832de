#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "platform/host/host.h"
#include "plugin/marker_query.h"
#include "pose/pose_estimation.h"

namespace zelk::fuzz {

namespace {
std::map<std::string, std::string> scratchPaths;

void removeScratchFiles() {
    for (const auto& entry : scratchPaths) std::remove(entry.second.c_str());
}
}  // namespace

const char* writeScratchFile(const char* name, const uint8_t* data, size_t size) {
    auto found = scratchPaths.find(name);
    if (found == scratchPaths.end()) {
        if (scratchPaths.empty()) std::atexit(removeScratchFiles);
        const char* folder = std::getenv("TMPDIR");
        const std::string path =
            std::string(folder && *folder ? folder : "/tmp") + "/zelk-fuzz-" + std::to_string(getpid()) + "-" + name;
        found = scratchPaths.emplace(name, path).first;
    }
    std::FILE* file = std::fopen(found->second.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write the scratch file %s\n", found->second.c_str());
        std::abort();
    }
    return found->second.c_str();
}

void silenceStandardOutput() {
    if (!std::freopen("/dev/null", "w", stdout)) std::perror("/dev/null");
}

Detector* fuzzDetector() {
    static const auto detector = std::make_unique<Detector>();
    return detector.get();
}

int32_t findMarkers(Detector* detector, const FrameImage* frame, int threshold) {
    resetDetector(detector);
    return detectMarkers(detector, frame, threshold) < 0 ? 0 : detector->markers.count;
}

void queryPose(const MarkerRecord* marker, const CameraParams* camera, const double centre[2], double width) {
    double pose[3][4];
    if (estimateMarkerPose(marker, camera, centre, width, pose) < 0) return;
    HostVector position;
    HostAngle angles;
    poseToHostRecords(pose, &position, &angles);
    HostAngle turn = HOST_ANGLE_TURN;
    host::angRotate(&angles, &turn);
    if (invertPose(pose, pose) == 0) poseToHostRecords(pose, &position, &angles);
}

}  // namespace zelk::fuzz
