#include "detect/detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/frames.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/test_detector.h"

using namespace zelk;

namespace {

// A marker of the given area centred at (x, y); its corners start at the top-left and are
// listed `shift` places later, as a marker seen turned by that many corners would be.
MarkerRecord marker(int id, int direction, double confidence, int area, double x, double y, int shift = 0) {
    MarkerRecord m = {};
    m.pixelArea = area;
    m.patternId = id;
    m.direction = direction;
    m.confidence = confidence;
    m.centre[0] = x;
    m.centre[1] = y;
    const double h = std::sqrt(area) / 2;
    const double square[4][2] = {{x - h, y - h}, {x + h, y - h}, {x + h, y + h}, {x - h, y + h}};
    for (int k = 0; k < 4; k++) {
        m.corners[(k + shift) % 4][0] = square[k][0];
        m.corners[(k + shift) % 4][1] = square[k][1];
    }
    return m;
}

class History : public ::testing::Test {
protected:
    // Runs the history on one frame's built markers; the result is in `list`.
    void frame(const std::vector<MarkerRecord>& built) {
        markers.count = static_cast<int32_t>(built.size());
        for (int32_t m = 0; m < markers.count; m++) markers.records[m] = built[m];
        applyMarkerHistory(&history, &markers);
    }
    MarkerHistory history{};
    MarkerList markers{};
    const MarkerRecord* list = markers.records;
    const int32_t& count = markers.count;
};

// ... marked with the frames since it was found.
TEST_F(History, VanishedMarkerIsReportedForTwoMoreFrames) {
    const MarkerRecord a = marker(4, 2, 0.8, 400, 100, 100);
    frame({a});
    ASSERT_EQ(count, 1);
    for (int later = 1; later <= 2; later++) {
        frame({});
        ASSERT_EQ(count, 1) << later;
        EXPECT_EQ(list[0].patternId, 4);
        EXPECT_EQ(list[0].direction, 2);
        EXPECT_EQ(list[0].confidence, 0.8);
        EXPECT_EQ(list[0].corners[2][1], a.corners[2][1]);
        EXPECT_EQ(list[0].carriedOver, later);
    }
    frame({});
    EXPECT_EQ(count, 0);
}

class Reappearing : public History, public ::testing::WithParamInterface<int> {};
TEST_P(Reappearing, KeepsItsIdentityOnlyWhileTheHistoryHoldsIt) {
    frame({marker(4, 2, 0.8, 400, 100, 100)});
    for (int i = 0; i < GetParam(); i++) frame({});
    frame({marker(-1, -1, 0.2, 400, 101, 99)});
    ASSERT_EQ(count, 1);
    const bool remembered = GetParam() < 3;
    EXPECT_EQ(list[0].patternId, remembered ? 4 : -1);
    EXPECT_EQ(list[0].confidence, remembered ? 0.8 : 0.2);
}
INSTANTIATE_TEST_SUITE_P(FramesAway, Reappearing, ::testing::Values(1, 2, 3));

// (past direction, corner shift): a known direction is turned with the corners; an unknown
// one (-1) stays unknown rather than becoming (3 - shift) mod 4.
class TurnedMatch : public History, public ::testing::WithParamInterface<std::tuple<int, int>> {};
TEST_P(TurnedMatch, WeakMatchTakesThePastIdentityWithARecomputedDirection) {
    const auto [past, shift] = GetParam();
    frame({marker(7, past, 0.9, 900, 200, 150)});
    frame({marker(2, 3, 0.3, 880, 203, 152, shift)});
    ASSERT_EQ(count, 1);
    EXPECT_EQ(list[0].patternId, 7);
    EXPECT_EQ(list[0].confidence, 0.9);
    EXPECT_EQ(list[0].direction, past < 0 ? -1 : (past - shift + 4) % 4);
}
INSTANTIATE_TEST_SUITE_P(Shifts, TurnedMatch,
                         ::testing::Combine(::testing::Values(1, -1), ::testing::Values(0, 1, 2, 3)));

TEST_F(History, EqualOrHigherConfidenceKeepsTheCurrentMatch) {
    frame({marker(7, 1, 0.6, 900, 200, 150)});
    frame({marker(2, 3, 0.6, 900, 200, 150)});
    EXPECT_EQ(list[0].patternId, 2);
    EXPECT_EQ(list[0].direction, 3);
    // The history now holds id 2 too, at the same place: id 7 is not appended.
    EXPECT_EQ(count, 1);
}

struct SameMarkerCase {
    const char* name;
    int pastArea;
    double dx, dy;  // centre offset; the current marker has area 100
    bool same;
};
class SameMarkerBoundary : public History, public ::testing::WithParamInterface<SameMarkerCase> {};
TEST_P(SameMarkerBoundary, DecidesCarryOverAndAppending) {
    const SameMarkerCase& p = GetParam();
    frame({marker(3, 0, 0.9, p.pastArea, 50, 50)});
    frame({marker(-1, -1, 0.1, 100, 50 + p.dx, 50 + p.dy)});
    EXPECT_EQ(list[0].patternId, p.same ? 3 : -1);
    EXPECT_EQ(count, p.same ? 1 : 2);  // a past marker nobody took over is appended
}
INSTANTIATE_TEST_SUITE_P(Cases, SameMarkerBoundary,
                         ::testing::Values(SameMarkerCase{"RatioExactlyLow", 70, 0, 0, true},
                                           SameMarkerCase{"RatioBelow", 69, 0, 0, false},
                                           SameMarkerCase{"RatioExactlyHigh", 143, 0, 0, true},
                                           SameMarkerCase{"RatioAbove", 144, 0, 0, false},
                                           SameMarkerCase{"DistanceExactlyHalfTheArea", 100, 5, 5, false},
                                           SameMarkerCase{"DistanceJustBelow", 100, 5, 4.99, true}),
                         [](const ::testing::TestParamInfo<SameMarkerCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(History, ConfidenceFloorIsInclusive) {
    frame({marker(1, 2, 0.5, 400, 50, 50), marker(2, 3, 0.4999, 400, 150, 50)});
    EXPECT_EQ(list[0].patternId, 1);
    EXPECT_EQ(list[1].patternId, -1);
    EXPECT_EQ(list[1].direction, 3);
    EXPECT_EQ(list[1].confidence, 0.4999);
}

TEST_F(History, LaterMarkerWithTheSameIdIsRemembered) {
    frame({marker(6, 0, 0.9, 400, 50, 50), marker(6, 1, 0.8, 400, 200, 200)});
    frame({});
    ASSERT_EQ(count, 1);
    EXPECT_EQ(list[0].centre[0], 200.0);
    EXPECT_EQ(list[0].direction, 1);
}

TEST_F(History, NeverWritesPastEitherCapacity) {
    // 20 markers, then 20 others elsewhere: the history fills up at 30 entries and the
    // list at 30 records; what does not fit is dropped.
    std::vector<MarkerRecord> first, second;
    for (int i = 0; i < 20; i++) {
        first.push_back(marker(i, 0, 0.9, 100, 20 + 30 * i, 20));
        second.push_back(marker(20 + i, 0, 0.9, 100, 20 + 30 * i, 300));
    }
    frame(first);
    frame(second);
    ASSERT_EQ(count, MARKER_LIST_CAPACITY);
    for (int i = 20; i < MARKER_LIST_CAPACITY; i++) EXPECT_EQ(list[i].patternId, i - 20);
    // The history kept ids 0..19 and 20..29; ids 30..39 did not fit.
    frame({});
    ASSERT_EQ(count, 30);
    for (int i = 0; i < 30; i++) EXPECT_EQ(list[i].patternId, i);
}

// --- the whole driver on drawn frames --------------------------------------------

class Detection : public ::testing::Test {
protected:
    void SetUp() override {
        for (int design = 0; design < 3; design++) {
            const std::string path = scratchPath("pattern.patt");
            writePatternFile(path, makePatternPicture(design));
            ASSERT_EQ(loadPattern(&detector->patterns, path.c_str()), design);
        }
    }
    int detect(int threshold = 100) {
        const FrameImage image = frame.image();
        return detectMarkers(detector.get(), &image, threshold);
    }
    const MarkerRecord* find(int id) const {
        for (int32_t m = 0; m < count; m++)
            if (list[m].patternId == id) return &list[m];
        return nullptr;
    }
    std::unique_ptr<Detector> detector = newDetector();
    TestFrame frame = blankFrame(640, 480);
    const MarkerRecord* list = detector->markers.records;
    const int32_t& count = detector->markers.count;
};

TEST_F(Detection, FindsEachDrawnMarkerAndWhereItsTopLeftCornerIs) {
    // Four markers, each turned a different number of quarter turns (plus a little more).
    const double size = 110;
    const double centres[4][2] = {{120, 120}, {420, 130}, {150, 350}, {450, 340}};
    std::vector<std::vector<Point2>> printed;
    for (int i = 0; i < 4; i++) {
        printed.push_back(squareCorners(centres[i][0], centres[i][1], size, 0.25 + i * M_PI / 2));
        drawMarker(frame, printed[i], makePatternPicture(i % 3));
    }
    ASSERT_EQ(detect(), 0);
    ASSERT_EQ(count, 4);
    for (int32_t m = 0; m < count; m++) {
        int i = 0;
        while (i < 4 && std::hypot(list[m].centre[0] - centres[i][0], list[m].centre[1] - centres[i][1]) > 5) i++;
        ASSERT_LT(i, 4);
        EXPECT_EQ(list[m].patternId, i % 3);
        EXPECT_GT(list[m].confidence, 0.9);
        // The pattern's corners, found through the direction, are the printed ones in order.
        for (int j = 0; j < 4; j++) {
            const double* corner = list[m].corners[(4 - list[m].direction + j) % 4];
            EXPECT_NEAR(corner[0], printed[i][j].x, 1.0) << i << " " << j;
            EXPECT_NEAR(corner[1], printed[i][j].y, 1.0) << i << " " << j;
        }
    }
}

// A marker that leaves is carried over by the history, unless the detector was reset.
TEST_F(Detection, ResetForgetsTheHistory) {
    for (const bool reset : {false, true}) {
        frame = blankFrame(640, 480);
        drawMarker(frame, squareCorners(320, 240, 120, 0.3), makePatternPicture(1));
        ASSERT_EQ(detect(), 0);
        ASSERT_NE(find(1), nullptr);
        if (reset) resetDetector(detector.get());
        EXPECT_EQ(count, reset ? 0 : 1);
        frame = blankFrame(640, 480);
        ASSERT_EQ(detect(), 0);
        EXPECT_EQ(count, reset ? 0 : 1) << reset;
        resetDetector(detector.get());
    }
}

TEST_F(Detection, EmptyFrameSucceedsWithNoMarkers) {
    EXPECT_EQ(detect(), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(Detection, LabellingFailureReportsZeroMarkers) {
    // A checkerboard of single dark pixels needs more raw labels than the table holds.
    for (int y = 1; y < 479; y += 2)
        for (int x = 1; x < 639; x += 2) frame.set(x, y, kBlack);
    detector->markers.count = 5;
    EXPECT_EQ(detect(), -1);
    EXPECT_EQ(count, 0);
}

}  // namespace
