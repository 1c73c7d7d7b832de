// The extension exports: the marker list, marker poses, the last query's pose and the
// camera, read after a frame with one identified and one unidentified marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include "camera/camera_params.h"
#include "detect/pattern_library.h"
#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "plugin/marker_query.h"
#include "pose/pose_estimation.h"
#include "tests/plugin/host_record_buffer.h"
#include "tests/support/camera_file.h"
#include "tests/support/fake_video.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/pose_fixtures.h"

namespace {

zelk::Detector* pluginDetector() { return &zelk::pluginState()->detector; }

class ExtensionExports : public testing::Test {
protected:
    void SetUp() override {
        fakeVideo.reset();
        for (int id = 0; id < zelk::PATTERN_SLOTS; id++) zelk::freePattern(&pluginDetector()->patterns, id);
        const std::string camera = scratchPath("camera.dat"), pattern = scratchPath("pattern.patt");
        writeBytes(camera, cameraFileBytes({pinholeCamera()}));
        writePatternFile(pattern, makePatternPicture(0));
        ASSERT_EQ(zelk::loadPattern(&pluginDetector()->patterns, pattern.c_str()), 0);
        TestHostString video("video.xml"), cameraName(camera.c_str());
        testing::internal::CaptureStdout();
        const int started = Zelk_Init(video.get(), cameraName.get());
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(started, 0);

        frame = blankFrame(640, 480);
        drawMarker(frame, squareCorners(200, 240, 120, 0.3), makePatternPicture(0));
        drawMarkerBorder(frame, 470, 240, 100, -0.2);  // a plain square: found, not identified
        fakeVideo.nextFrame = frame.data();
        ASSERT_EQ(Zelk_Update(100), 0);
        list = pluginDetector()->markers.records;
        count = pluginDetector()->markers.count;
        ASSERT_EQ(count, 2);
        identified = list[0].patternId == 0 ? 0 : 1;
        ASSERT_EQ(list[identified].patternId, 0);
        ASSERT_EQ(list[1 - identified].patternId, -1);
    }
    void TearDown() override {
        Zelk_setPrecise(0);
        Zelk_setSmoothing(0);
        Zelk_setMarkerWidth(0, 80 * 1024);  // the slot is freed below without the export that resets it
        Zelk_Quit();
        for (int id = 0; id < zelk::PATTERN_SLOTS; id++) zelk::freePattern(&pluginDetector()->patterns, id);
        fakeVideo.reset();
    }
    // The pose the query computes for the list entry.
    void expectedPose(int index, double pose[3][4], double* fitError) {
        const double centre[2] = {0, 0};
        *fitError = zelk::estimateMarkerPose(&list[index], &pluginDetector()->camera, centre, zelk::MARKER_WIDTH, pose);
        ASSERT_GE(*fitError, 0.0);
    }

    TestFrame frame;
    const zelk::MarkerRecord* list = nullptr;
    int32_t count = 0;
    int identified = 0;
};

TEST_F(ExtensionExports, MarkerInfoIsTheListEntryInOrder) {
    EXPECT_EQ(Zelk_getMarkerCount(), count);
    for (int32_t i = 0; i < count; i++) {
        ZelkMarkerInfo info;
        ASSERT_EQ(Zelk_getMarkerInfo(i, &info), 0);
        EXPECT_EQ(info.patternId, list[i].patternId);
        EXPECT_EQ(info.direction, list[i].direction);
        EXPECT_EQ(info.area, list[i].pixelArea);
        EXPECT_EQ(info.confidence, list[i].confidence);
        EXPECT_EQ(std::memcmp(info.centre, list[i].centre, sizeof info.centre), 0);
        EXPECT_EQ(std::memcmp(info.corners, list[i].corners, sizeof info.corners), 0);
    }
}

TEST_F(ExtensionExports, MarkerPoseIsTheQuerysPoseAndNeedsAnIdentifiedMarker) {
    double expected[3][4], expectedError, matrix[12], fitError = -5;
    expectedPose(identified, expected, &expectedError);
    ASSERT_EQ(Zelk_getMarkerPose(identified, matrix, &fitError), 0);
    EXPECT_EQ(std::memcmp(matrix, expected, sizeof matrix), 0);
    EXPECT_EQ(fitError, expectedError);
    EXPECT_EQ(Zelk_getMarkerPose(1 - identified, matrix, &fitError), -2);
}

// The last query's pose is the one behind the written values: inverted when asked, gone
// after a query that found nothing.
TEST_F(ExtensionExports, LastPoseFollowsEveryQuery) {
    double pose[3][4], fitError, matrix[12], lastError;
    expectedPose(identified, pose, &fitError);
    HostVector position;
    ASSERT_EQ(Zelk_getMarker(0, &position, nullptr, 0), 0);
    ASSERT_EQ(Zelk_getLastPose(matrix, &lastError), 0);
    EXPECT_EQ(std::memcmp(matrix, pose, sizeof matrix), 0);
    EXPECT_EQ(lastError, fitError);

    ASSERT_EQ(Zelk_getMarker(0, &position, nullptr, 1), 0);
    ASSERT_EQ(zelk::invertPose(pose, pose), 0);
    ASSERT_EQ(Zelk_getLastPose(matrix, &lastError), 0);
    EXPECT_EQ(std::memcmp(matrix, pose, sizeof matrix), 0);
    EXPECT_EQ(position.x, static_cast<HostFixed>(pose[2][3] * 1024));

    EXPECT_EQ(Zelk_getMarker(7, &position, nullptr, 0), -1024);
    EXPECT_EQ(Zelk_getLastPose(matrix, &lastError), -2);
}

// A marker whose direction the history could not keep has no "up": no pose either way.
TEST_F(ExtensionExports, UnknownDirectionHasNoPose) {
    pluginDetector()->markers.records[identified].direction = -1;
    HostVector position{7, 7, 7};
    double matrix[12], fitError;
    EXPECT_EQ(Zelk_getMarker(0, &position, nullptr, 0), -1024);
    EXPECT_EQ(position.x, 7);
    EXPECT_EQ(Zelk_getLastPose(matrix, &fitError), -2);
    EXPECT_EQ(Zelk_getMarkerPose(identified, matrix, &fitError), -2);
}

TEST_F(ExtensionExports, CameraIsTheScaledCurrentCamera) {
    double projection[12], distortion[4];
    ASSERT_EQ(Zelk_getCamera(projection, distortion), 0);
    const zelk::CameraParams* camera = &pluginDetector()->camera;
    EXPECT_EQ(std::memcmp(projection, camera->projection, sizeof projection), 0);
    EXPECT_EQ(std::memcmp(distortion, camera->distortion, sizeof distortion), 0);
}

// Hostile arguments: a clear code and nothing written.
class ExtensionIndex : public ExtensionExports, public testing::WithParamInterface<int32_t> {};

TEST_P(ExtensionIndex, OutsideTheListIsRefused) {
    ZelkMarkerInfo info;
    std::memset(&info, 0x5a, sizeof info);
    const ZelkMarkerInfo untouched = info;
    double matrix[12] = {7}, fitError = 7;
    EXPECT_EQ(Zelk_getMarkerInfo(GetParam(), &info), -2);
    EXPECT_EQ(std::memcmp(&info, &untouched, sizeof info), 0);
    EXPECT_EQ(Zelk_getMarkerPose(GetParam(), matrix, &fitError), -2);
    EXPECT_EQ(matrix[0], 7);
    EXPECT_EQ(fitError, 7);
    int32_t frames = 7;
    EXPECT_EQ(Zelk_getMarkerCarriedOver(GetParam(), &frames), -2);
    EXPECT_EQ(frames, 7);
}

INSTANTIATE_TEST_SUITE_P(Indices, ExtensionIndex, testing::Values(-1, 2, 30, INT32_MAX, INT32_MIN));

// Precise mode refines the corners from the next frame on and gives the least-squares pose,
// also with smoothing on (a still marker stays where it is); the reprojection error is the
// root of the fit error. Neither switch changes the list.
TEST_F(ExtensionExports, PreciseModeGivesTheLeastSquaresPoseOfRefinedCorners) {
    const zelk::MarkerRecord coarse = list[identified];
    EXPECT_EQ(Zelk_setPrecise(1), 0);
    EXPECT_EQ(Zelk_setSmoothing(1), 0);
    for (int frame = 0; frame < 3; frame++) {
        ASSERT_EQ(Zelk_Update(100), 0);
        ASSERT_EQ(pluginDetector()->markers.count, 2);
        const zelk::MarkerRecord& refined = pluginDetector()->markers.records[identified];
        EXPECT_EQ(refined.patternId, 0);
        EXPECT_NE(std::memcmp(refined.corners, coarse.corners, sizeof coarse.corners), 0);
        double expected[3][4], matrix[12], fitError, pixels;
        const double centre[2] = {0, 0};
        const double error = zelk::estimatePrecisePose(&refined, &pluginDetector()->camera, centre, zelk::MARKER_WIDTH,
                                                       nullptr, expected);
        ASSERT_GE(error, 0);
        ASSERT_EQ(Zelk_getMarker(0, nullptr, nullptr, 0), 0);
        ASSERT_EQ(Zelk_getLastPose(matrix, &fitError), 0);
        EXPECT_EQ(fitError, error);
        for (int k = 0; k < 12; k++) EXPECT_NEAR(matrix[k], (&expected[0][0])[k], 1e-9) << frame;
        ASSERT_EQ(Zelk_getReprojectionError(&pixels), 0);
        EXPECT_EQ(pixels, std::sqrt(fitError));
    }
    EXPECT_EQ(Zelk_getReprojectionError(nullptr), -1);
    EXPECT_EQ(Zelk_getMarker(7, nullptr, nullptr, 0), -1024);
    double pixels = -5;
    EXPECT_EQ(Zelk_getReprojectionError(&pixels), -2);
    EXPECT_EQ(pixels, -5);
}

TEST_F(ExtensionExports, NullPointersAreRefused) {
    ZelkMarkerInfo info;
    double matrix[12], value;
    EXPECT_EQ(Zelk_getMarkerInfo(0, nullptr), -1);
    EXPECT_EQ(Zelk_getMarkerCarriedOver(0, nullptr), -1);
    EXPECT_EQ(Zelk_getMarkerPose(identified, nullptr, &value), -1);
    EXPECT_EQ(Zelk_getMarkerPose(identified, matrix, nullptr), -1);
    ASSERT_EQ(Zelk_getMarker(0, nullptr, nullptr, 0), 0);
    EXPECT_EQ(Zelk_getLastPose(nullptr, &value), -1);
    EXPECT_EQ(Zelk_getLastPose(matrix, nullptr), -1);
    EXPECT_EQ(Zelk_getCamera(nullptr, matrix), -1);
    EXPECT_EQ(Zelk_getCamera(matrix, nullptr), -1);
    EXPECT_EQ(Zelk_getMarkerInfo(0, &info), 0);  // the list is still there
}

// The identified marker, gone from the frames after, is carried over for two frames and
// marked so; an unidentified one is not. Forgetting the history ends that at once.
TEST_F(ExtensionExports, CarriedOverMarkersAreMarkedUntilTheHistoryIsForgotten) {
    int32_t frames = -1;
    for (int32_t i = 0; i < count; i++) {
        ASSERT_EQ(Zelk_getMarkerCarriedOver(i, &frames), 0);
        EXPECT_EQ(frames, 0) << "found in this frame";
    }
    TestFrame empty = blankFrame(640, 480);
    fakeVideo.nextFrame = empty.data();
    for (int later = 1; later <= 2; later++) {
        ASSERT_EQ(Zelk_Update(100), 0);
        ASSERT_EQ(Zelk_getMarkerCount(), 1);
        ZelkMarkerInfo info;
        ASSERT_EQ(Zelk_getMarkerInfo(0, &info), 0);
        EXPECT_EQ(info.patternId, 0);
        ASSERT_EQ(Zelk_getMarkerCarriedOver(0, &frames), 0);
        EXPECT_EQ(frames, later);
    }
    fakeVideo.nextFrame = frame.data();
    ASSERT_EQ(Zelk_Update(100), 0);
    EXPECT_EQ(Zelk_resetHistory(), 0);
    fakeVideo.nextFrame = empty.data();
    ASSERT_EQ(Zelk_Update(100), 0);
    EXPECT_EQ(Zelk_getMarkerCount(), 0);
}

// Frames without markers empty the list once the carried-over markers have aged out; the
// identified marker is carried over for a count of frames, and its pattern reported found
// in the first frame, lost in the update that drops it, and neither in between.
TEST_F(ExtensionExports, AnEmptyFrameEmptiesTheListAfterTheCarryOver) {
    EXPECT_EQ(Zelk_getMarkerEvent(0), 1);
    const auto carriedOver = [](int32_t index) {
        int32_t frames = -1;
        return Zelk_getMarkerCarriedOver(index, &frames) == 0 ? frames : -2;
    };
    EXPECT_EQ(carriedOver(identified), 0);
    TestFrame empty = blankFrame(640, 480);
    fakeVideo.nextFrame = empty.data();
    std::vector<int32_t> events, carried;
    for (int i = 0; i < 5; i++) {  // past the history's carry-over
        ASSERT_EQ(Zelk_Update(100), 0);
        events.push_back(Zelk_getMarkerEvent(0));
        carried.push_back(Zelk_getMarkerCount() == 1 ? carriedOver(0) : -1);
    }
    EXPECT_EQ(events, (std::vector<int32_t>{0, 0, 2, 0, 0}));
    EXPECT_EQ(carried, (std::vector<int32_t>{1, 2, -1, -1, -1}));
    EXPECT_EQ(Zelk_getMarkerCount(), 0);
    ZelkMarkerInfo info;
    EXPECT_EQ(Zelk_getMarkerInfo(0, &info), -2);
    EXPECT_EQ(carriedOver(0), -2);
}

// A pattern's width scales its poses and nothing else; it is refused for what is not a
// registered pattern or not a positive width.
TEST_F(ExtensionExports, MarkerWidthScalesThePosesOfItsPattern) {
    double pose[3][4], fitError, matrix[12], width40[12], error40;
    expectedPose(identified, pose, &fitError);
    EXPECT_EQ(Zelk_setMarkerWidth(0, 40 * 1024), 0);
    ASSERT_EQ(Zelk_getMarkerPose(identified, width40, &error40), 0);
    HostVector position;
    ASSERT_EQ(Zelk_getMarker(0, &position, nullptr, 0), 0);
    ASSERT_EQ(Zelk_getLastPose(matrix, &error40), 0);
    for (int r = 0; r < 3; r++) {
        EXPECT_NEAR(width40[4 * r + 3], pose[r][3] / 2, 1e-9 * std::abs(pose[r][3]));
        EXPECT_NEAR(width40[4 * r], pose[r][0], 1e-9);
    }
    EXPECT_EQ(std::memcmp(matrix, width40, sizeof matrix), 0);
    EXPECT_EQ(position.x, static_cast<HostFixed>(width40[11] * 1024));
    for (const auto& [id, width] :
         std::vector<std::pair<int32_t, HostFixed>>{{1, 1024}, {-1, 1024}, {50, 1024}, {INT32_MIN, 1024}})
        EXPECT_EQ(Zelk_setMarkerWidth(id, width), -2) << id;
    EXPECT_EQ(Zelk_setMarkerWidth(0, 0), -3);
    EXPECT_EQ(Zelk_setMarkerWidth(0, INT32_MIN), -3);
}

// Copies of a pattern in order of confidence: every copy once, the surest first, ties in
// list order, and copy 0 is what Zelk_getMarker gives; over lists with repeated confidences.
class MarkerCopies : public testing::TestWithParam<int> {};

TEST_P(MarkerCopies, ComeEachOnceSurestFirst) {
    std::srand(GetParam());
    std::vector<zelk::MarkerRecord> list(1 + std::rand() % zelk::MARKER_LIST_CAPACITY);
    for (auto& record : list) {
        record = zelk::MarkerRecord{};
        record.patternId = std::rand() % 3 - 1;
        record.confidence = (std::rand() % 4) / 4.0;
    }
    const int32_t count = static_cast<int32_t>(list.size());
    for (int32_t id = -1; id < 2; id++) {
        std::vector<const zelk::MarkerRecord*> copies;
        for (int32_t copy = 0;; copy++) {
            const zelk::MarkerRecord* record = zelk::selectCopy(list.data(), count, id, copy);
            if (!record) break;
            ASSERT_EQ(record->patternId, id);
            if (!copies.empty()) {
                EXPECT_LE(record->confidence, copies.back()->confidence);
                if (record->confidence == copies.back()->confidence) {
                    EXPECT_GT(record, copies.back());
                }
            }
            copies.push_back(record);
        }
        const auto expected =
            id < 0 ? 0 : std::count_if(list.begin(), list.end(), [&](const auto& r) { return r.patternId == id; });
        EXPECT_EQ(static_cast<long>(copies.size()), expected);
        EXPECT_EQ(zelk::selectMarker(list.data(), count, id), copies.empty() ? nullptr : copies[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(Lists, MarkerCopies, testing::Range(0, 40));

TEST_F(ExtensionExports, CopyZeroIsTheMarkerQuery) {
    EXPECT_EQ(Zelk_getMarkerCopyCount(0), 1);
    EXPECT_EQ(Zelk_getMarkerCopyCount(-1), 0);
    HostVector first, copy;
    HostAngle firstAngles, copyAngles;
    ASSERT_EQ(Zelk_getMarker(0, &first, &firstAngles, 1), 0);
    ASSERT_EQ(Zelk_getMarkerCopy(0, 0, &copy, &copyAngles, 1), 0);
    EXPECT_EQ(std::memcmp(&first, &copy, sizeof copy), 0);
    EXPECT_EQ(std::memcmp(&firstAngles, &copyAngles, sizeof copy), 0);
    for (const int32_t other : {1, -1, INT32_MAX}) EXPECT_EQ(Zelk_getMarkerCopy(0, other, &copy, nullptr, 0), -1024);
    double matrix[12], fitError;
    EXPECT_EQ(Zelk_getLastPose(matrix, &fitError), -2);
}

TEST_F(ExtensionExports, FieldOfViewIsTheCamerasAcrossWidthAndHeight) {
    HostFixed horizontal = 0, vertical = 0;
    ASSERT_EQ(Zelk_getFieldOfView(&horizontal, &vertical), 0);
    const zelk::CameraParams& camera = pluginDetector()->camera;
    EXPECT_NEAR(horizontal / 1024.0, 2 * std::atan(320.0 / camera.projection[0][0]) * 180 / 3.141592653589793,
                1.0 / 1024);
    EXPECT_NEAR(vertical / 1024.0, 2 * std::atan(240.0 / camera.projection[1][1]) * 180 / 3.141592653589793,
                1.0 / 1024);
    EXPECT_EQ(Zelk_getFieldOfView(nullptr, &vertical), -1);
    EXPECT_EQ(Zelk_getFieldOfView(&horizontal, nullptr), -1);
}

// The capture state follows what each call did: a frame, none, a failed detection, the close.
TEST_F(ExtensionExports, CaptureStateSaysWhatTheLastUpdateDid) {
    EXPECT_EQ(Zelk_getCaptureState(), 1);
    fakeVideo.nextFrame = nullptr;
    ASSERT_EQ(Zelk_Update(100), 0);
    EXPECT_EQ(Zelk_getCaptureState(), 2);
    for (int y = 1; y < 479; y += 2)  // more isolated dots than labels: detection fails
        for (int x = 1; x < 639; x += 2) frame.set(x, y, kBlack);
    fakeVideo.nextFrame = frame.data();
    ASSERT_EQ(Zelk_Update(100), 0);
    EXPECT_EQ(Zelk_getCaptureState(), 3);
    EXPECT_EQ(Zelk_getMarkerEvent(0), 2);
    ASSERT_EQ(Zelk_Update(100), 0);
    EXPECT_EQ(Zelk_getCaptureState(), 3);
    Zelk_Quit();
    EXPECT_EQ(Zelk_getCaptureState(), 0);
}

}  // namespace
