// Pose estimation and the pose query's conversions on arbitrary marker records: every
// double is taken bit for bit from the input, so NaN, infinities, huge and tiny values all
// occur. The input, packed without padding (missing bytes read as 0):
//   int32 pixel area, pattern id, direction; double confidence, centre[2], edge lines[12],
//   corners[8]                                   the marker record
//   double model centre[2], width                the model square
//   uint8 camera                                 odd: the 16 doubles that follow are the
//                                                camera's projection and distortion factors;
//                                                even: a plain 640 x 480 camera
// The conversions also run on the record's twelve edge-line numbers read as a pose. Precise
// mode runs too: the sub-pixel edges on a small frame of the input's leftover bytes, then the
// least-squares pose with that pose as the previous one, then smoothing.
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "platform/host/host.h"
#include "plugin/host_records.h"
#include "plugin/marker_query.h"
#include "detect/subpixel_edges.h"
#include "pose/pose_estimation.h"
#include "pose/pose_smoothing.h"
#include "pose/refinement.h"

using namespace zelk;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceStandardOutput();
    return 0;
}

namespace {
void precisePath(MarkerRecord marker, const double centre[2], double width, const CameraParams& camera,
                 fuzz::FuzzInput& input) {
    static unsigned char pixels[48][64][4];
    input.read(pixels, sizeof pixels);
    const FrameImage frame{&pixels[0][0][0], 64, 48, 64 * 4};
    refineEdgeLines(&frame, camera.distortion, marker.edgeLines, marker.corners);
    double previous[3][4], pose[3][4];
    std::memcpy(previous, marker.edgeLines, sizeof previous);
    if (estimatePrecisePose(&marker, &camera, centre, width, previous, pose) < 0) return;
    PoseFilter filter;
    const SmoothingSettings settings;
    smoothPose(&filter, settings, width, previous);
    smoothPose(&filter, settings, width, pose);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput input(data, size);
    MarkerRecord marker;
    marker.pixelArea = input.take<int32_t>();
    marker.patternId = input.take<int32_t>();
    marker.direction = input.take<int32_t>();
    marker.confidence = input.take<double>();
    input.read(marker.centre, sizeof marker.centre);
    input.read(marker.edgeLines, sizeof marker.edgeLines);
    input.read(marker.corners, sizeof marker.corners);
    double centre[2];
    input.read(centre, sizeof centre);
    const double width = input.take<double>();
    CameraParams camera = pinholeCamera(640, 480, 640);
    if (input.take<uint8_t>() & 1) {
        input.read(camera.projection, sizeof camera.projection);
        input.read(camera.distortion, sizeof camera.distortion);
    }
    fuzz::queryPose(&marker, &camera, centre, width);
    precisePath(marker, centre, width, camera, input);

    double pose[3][4], inverse[3][4], q[4], p[3];
    static_assert(sizeof pose == sizeof marker.edgeLines, "twelve numbers");
    std::memcpy(pose, marker.edgeLines, sizeof pose);
    HostVector position;
    HostAngle angles;
    poseToHostRecords(pose, &position, &angles);
    poseToQuaternion(pose, q, p);
    if (invertPose(pose, inverse) == 0) poseToHostRecords(inverse, &position, &angles);
    double rotation[3][3], a, b, c;
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k) rotation[r][k] = pose[r][k];
    matrixToAngles(rotation, &a, &b, &c);
    anglesToMatrix(a, b, c, rotation);
    for (double value : {a, b, c, marker.confidence, centre[0], width}) hostFixedFromDouble(value);
    hostFixedFromInt(marker.pixelArea);
    HostAngle turn = {marker.pixelArea, marker.patternId, marker.direction};
    host::angRotate(&angles, &turn);
    return 0;
}
