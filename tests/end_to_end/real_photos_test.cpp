// Real photographs of printed AprilTag 36h11 markers, a few of them kept in the repository
// (tests/data/real-photos, with their licence), through the video library and the plug-in
// with the tags' patterns: no wrong id, no wrong top-left corner, no report where the
// reference has no marker, and at least as many markers identified as when this was written.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "plugin/exports.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/real_photos.h"

namespace {

namespace fs = std::filesystem;

struct PhotoSet {
    const char* name;    // below tests/data/real-photos
    const char* camera;  // in the set's folder
    int threshold;
    bool automatic;  // the automatic threshold instead
    int identified;  // at least
};

// The identified markers of the plug-in's last frame, top-left corner first, where the
// picture shows them (the reference's corners are observed, the markers' ideal).
std::vector<PhotoMarker> reportedMarkers(const std::vector<int>& tagOfSlot) {
    double projection[12], distortion[4];
    EXPECT_EQ(Zelk_getCamera(projection, distortion), 0);
    std::vector<PhotoMarker> reported;
    for (int32_t i = 0; i < Zelk_getMarkerCount(); ++i) {
        ZelkMarkerInfo info;
        if (Zelk_getMarkerInfo(i, &info) != 0 || info.patternId < 0) continue;
        reported.push_back(photoMarker(tagOfSlot[info.patternId], info.direction, info.corners, distortion));
    }
    return reported;
}

class RealPhotos : public ::testing::TestWithParam<PhotoSet> {};

TEST_P(RealPhotos, IdentifyOnlyTheTagsThereWithTheirTopLeftCorner) {
#ifndef ZELK_WITH_OPENCV
    GTEST_SKIP() << "the video library reads pictures through OpenCV, which this build lacks";
#endif
    const std::string set = sourcePath("tests/data/real-photos/") + GetParam().name;
    A6_DLLAPI(zelk::host::interfaceRecord());
    ASSERT_EQ(Zelk_setAutoThreshold(GetParam().automatic), 0);
    for (int id = 0; id < 50; id++) Zelk_freeMarker(id);
    std::vector<int> tagOfSlot;  // the patterns are named after their tag's id
    for (const auto& file : fs::directory_iterator(sourcePath("tests/data/real-photos/patterns/tag36h11"))) {
        const std::string path = file.path().string();
        HostString name = zelk::host::makeString(path.c_str());
        ASSERT_EQ(Zelk_registerMarker(&name), static_cast<int>(tagOfSlot.size()));
        tagOfSlot.push_back(std::stoi(file.path().stem().string()));
    }
    // The set's photos in name order, each a picture of its own.
    const std::string config = scratchPath("photos.xml");
    writeTextFile(config, "<video><images path=\"" + set + "/photos\"/></video>\n");
    HostString video = zelk::host::makeString(config.c_str());
    const std::string camera = set + "/" + GetParam().camera;
    HostString cameraFile = zelk::host::makeString(camera.c_str());
    ::testing::internal::CaptureStdout();
    const int32_t started = Zelk_Init(&video, &cameraFile);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(started, 0);
    PhotoScore score;
    for (const ReferencePhoto& photo : readReference(set + "/reference.json")) {
        Zelk_resetHistory();
        Zelk_Update(GetParam().threshold);
        const PhotoScore one = scorePhoto(photo, reportedMarkers(tagOfSlot));
        EXPECT_EQ(one.wrongId, 0) << photo.file;
        EXPECT_EQ(one.wrongDirection, 0) << photo.file;
        EXPECT_EQ(one.unmatched, 0) << photo.file;
        score += one;
    }
    Zelk_Quit();
    std::printf("%s: %d of %d reference markers identified\n", GetParam().name, score.identified, score.reference);
    EXPECT_GE(score.identified, GetParam().identified) << "of " << score.reference;
    Zelk_setAutoThreshold(0);
}

INSTANTIATE_TEST_SUITE_P(Sets, RealPhotos,
                         ::testing::Values(PhotoSet{"mapping", "camera_816x612.dat", 100, false, 7},
                                           PhotoSet{"clipboard", "camera_320x240.dat", 100, false, 10},
                                           PhotoSet{"mapping", "camera_816x612.dat", 0, true, 8},
                                           PhotoSet{"clipboard", "camera_320x240.dat", 0, true, 13}),
                         [](const auto& info) {
                             return std::string(info.param.name) + (info.param.automatic ? "Auto" : "");
                         });

}  // namespace
