// Frames built to push detection to its capacities: more raw labels than the table holds,
// an outline longer than a candidate holds, more squares than the lists hold, regions
// against the border, nested squares and the largest frames. Each has one documented
// outcome, and nothing is read or written outside its buffers on the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "detect/detector.h"
#include "tests/support/frames.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/test_detector.h"

using namespace zelk;

namespace {

constexpr int DESIGNS = 40;

struct Drawn {
    double x, y;
    int id;  // -1: any identity
};

struct Scene {
    TestFrame frame;
    std::vector<Drawn> markers;
};

void addMarker(Scene& scene, double x, double y, double size, int id, double angle = 0.1) {
    drawMarker(scene.frame, squareCorners(x, y, size, angle), makePatternPicture(id));
    scene.markers.push_back({x, y, id});
}

// Dark where x + y is even: diagonal neighbours join every dark pixel into one region
// that reaches the border.
Scene checkerboard() {
    Scene s{blankFrame(640, 480), {}};
    for (int y = 0; y < 480; y++)
        for (int x = y % 2; x < 640; x += 2) s.frame.set(x, y, kBlack);
    return s;
}

// Isolated dots on every other row and column: 239 x 319 raw labels, more than the table holds.
Scene dotLattice() {
    Scene s{blankFrame(640, 480), {}};
    for (int y = 1; y < 479; y += 2)
        for (int x = 1; x < 639; x += 2) s.frame.set(x, y, kBlack);
    return s;
}

// A square spiral of 2-pixel lines 2 pixels apart, 200 wide: about 20,000 pixels and an
// outline of about 20,000 points. Beside it, a marker that must still be found.
Scene spiral() {
    Scene s{blankFrame(640, 480), {}};
    int x = 20, y = 20, length = 200;
    const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
    for (int leg = 0; length > 4; leg++) {
        const int nx = x + dx[leg % 4] * length, ny = y + dy[leg % 4] * length;
        fillRect(s.frame, std::min(x, nx), std::min(y, ny), std::max(x, nx) + 1, std::max(y, ny) + 1, kBlack);
        x = nx;
        y = ny;
        if (leg >= 2 && leg % 2 == 0) length -= 4;
    }
    addMarker(s, 450, 240, 150, 0);
    return s;
}

// Forty markers in eight columns and five rows.
Scene fortyMarkers() {
    Scene s{blankFrame(960, 600), {}};
    for (int i = 0; i < DESIGNS; i++) addMarker(s, 60 + 120 * (i % 8), 60 + 120 * (i / 8), 90, i);
    return s;
}

Scene allDark() { return Scene{blankFrame(640, 480, kBlack), {}}; }
// Small enough that the one region has a candidate's area.
Scene allDarkSmall() { return Scene{blankFrame(100, 100, kBlack), {}}; }

// Markers cut by each side and each corner of the frame, and one inside.
Scene markersOnEveryBorder() {
    Scene s{blankFrame(640, 480), {}};
    for (const double x : {0.0, 320.0, 640.0}) {
        for (const double y : {0.0, 240.0, 480.0}) {
            if (x == 320 && y == 240)
                addMarker(s, x, y, 120, 1);
            else
                drawMarker(s.frame, squareCorners(x, y, 120, 0.1), makePatternPicture(2));
        }
    }
    return s;
}

// Ten dark square rings, 5 pixels wide and 5 apart, around one centre: every ring is a
// candidate, and only the outermost (the largest) is kept.
Scene nestedRings() {
    Scene s{blankFrame(640, 480), {}};
    for (int k = 0; k < 10; k++) {
        const int half = 100 - 10 * k;
        fillRect(s.frame, 320 - half, 240 - half, 319 + half, 239 + half, kBlack);
        fillRect(s.frame, 325 - half, 245 - half, 314 + half, 234 + half, kWhite);
    }
    s.markers.push_back({319.5, 239.5, -1});
    return s;
}

// Frames of the largest size, 1,048,576 pixels, with a marker at their far end.
Scene largestSquare() {
    Scene s{blankFrame(1024, 1024), {}};
    addMarker(s, 960, 960, 100, 3);
    return s;
}
Scene largestWide() {
    Scene s{blankFrame(16384, 64), {}};
    addMarker(s, 16340, 32, 48, 4);
    return s;
}
Scene largestTall() {
    Scene s{blankFrame(64, 16384), {}};
    addMarker(s, 32, 16340, 48, 5);
    return s;
}

struct Adversarial {
    const char* name;
    Scene (*build)();
    int result;           // of detectMarkers
    int markers;          // in the marker list
    const char* printed;  // by the outline tracer
};
void PrintTo(const Adversarial& c, std::ostream* out) { *out << c.name; }

class AdversarialDetection : public testing::Test {
protected:
    static void SetUpTestSuite() {
        detector = newDetector().release();
        const std::string path = scratchPath("design.patt");
        for (int i = 0; i < DESIGNS; i++) {
            writePatternFile(path, makePatternPicture(i));
            ASSERT_EQ(loadPattern(&detector->patterns, path.c_str()), i);
        }
    }
    static void TearDownTestSuite() { delete detector; }
    void SetUp() override { resetDetector(detector); }
    int detect(TestFrame& frame, std::string* printed) {
        testing::internal::CaptureStdout();
        const FrameImage image = frame.image();
        const int result = detectMarkers(detector, &image, 100);
        *printed = testing::internal::GetCapturedStdout();
        return result;
    }
    // Every reported marker lies at a drawn one and carries its pattern.
    void expectDrawn(const std::vector<Drawn>& drawn) {
        const MarkerRecord* list = detector->markers.records;
        for (int32_t m = 0; m < detector->markers.count; m++) {
            const Drawn* match = nullptr;
            for (const Drawn& d : drawn)
                if (std::hypot(list[m].centre[0] - d.x, list[m].centre[1] - d.y) < 3) match = &d;
            ASSERT_NE(match, nullptr) << "marker " << m << " at " << list[m].centre[0] << ", " << list[m].centre[1];
            if (match->id >= 0) {
                EXPECT_EQ(list[m].patternId, match->id) << "marker " << m;
            }
        }
    }
    static Detector* detector;
};
Detector* AdversarialDetection::detector;

class AdversarialFrame : public AdversarialDetection, public testing::WithParamInterface<Adversarial> {};

TEST_P(AdversarialFrame, HasItsDocumentedOutcome) {
    const Adversarial c = GetParam();
    Scene scene = c.build();
    std::string printed;
    EXPECT_EQ(detect(scene.frame, &printed), c.result);
    EXPECT_EQ(detector->markers.count, c.markers);
    EXPECT_EQ(printed, c.printed);
    if (c.result == 0) {
        expectDrawn(scene.markers);
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, AdversarialFrame,
                         testing::Values(Adversarial{"OnePixelCheckerboard", checkerboard, 0, 0, ""},
                                         Adversarial{"RawLabelOverflow", dotLattice, -1, 0, ""},
                                         Adversarial{"SpiralOutlineOverCapacity", spiral, 0, 1, "??? 3\n"},
                                         Adversarial{"FortyMarkers", fortyMarkers, 0, MARKER_LIST_CAPACITY, ""},
                                         Adversarial{"AllDark", allDark, 0, 0, ""},
                                         Adversarial{"AllDarkCandidateSized", allDarkSmall, 0, 0, ""},
                                         Adversarial{"MarkersOnEveryBorder", markersOnEveryBorder, 0, 1, ""},
                                         Adversarial{"TenNestedRings", nestedRings, 0, 1, ""},
                                         Adversarial{"Largest1024x1024", largestSquare, 0, 1, ""},
                                         Adversarial{"Largest16384x64", largestWide, 0, 1, ""},
                                         Adversarial{"Largest64x16384", largestTall, 0, 1, ""}),
                         [](const testing::TestParamInfo<Adversarial>& info) { return info.param.name; });

// Frames with nothing to find: one level (black, grey, white) or noise only.
TestFrame featureless(int kind) {
    TestFrame f = blankFrame(640, 480, kind == 0 ? kBlack : kind == 1 ? Bgra{128, 128, 128, 255} : kWhite);
    std::mt19937 rng(static_cast<unsigned>(kind));
    if (kind == 3)  // every byte at random
        for (auto& byte : f.bytes) byte = uint8_t(rng());
    if (kind == 4)  // grey levels at random
        for (int y = 0; y < f.height; y++)
            for (int x = 0; x < f.width; x++) {
                const uint8_t level = uint8_t(rng());
                f.set(x, y, Bgra{level, level, level, 255});
            }
    return f;
}

class FeaturelessFrame : public AdversarialDetection, public testing::WithParamInterface<int> {};

// In every mode (fixed or automatic threshold, ordinary or precise), frame after frame.
TEST_P(FeaturelessFrame, HasNoMarkerInAnyMode) {
    const TestFrame frame = featureless(GetParam());
    const FrameImage image = frame.image();
    for (const bool automatic : {false, true})
        for (const bool precise : {false, true}) {
            resetDetector(detector);
            detector->settings.autoThreshold = automatic;
            detector->poseSettings.precise = precise;
            for (int n = 0; n < 2; n++) {
                testing::internal::CaptureStdout();
                EXPECT_EQ(detectMarkers(detector, &image, 100), 0);
                testing::internal::GetCapturedStdout();
                EXPECT_EQ(detector->markers.count, 0) << "automatic " << automatic << ", precise " << precise;
            }
        }
    detector->settings.autoThreshold = false;
    detector->poseSettings.precise = false;
}
INSTANTIATE_TEST_SUITE_P(Frames, FeaturelessFrame, testing::Range(0, 5));

// With more markers than the lists hold, frame after frame, the history stays within its
// capacity too: markers that left are not carried over into a full list.
TEST_F(AdversarialDetection, MoreMarkersThanTheListsHoldFrameAfterFrame) {
    Scene scene = fortyMarkers();
    std::string printed;
    ASSERT_EQ(detect(scene.frame, &printed), 0);
    fillRect(scene.frame, 0, 0, 959, 119, kWhite);  // the first row leaves
    const std::vector<Drawn> remaining(scene.markers.begin() + 8, scene.markers.end());
    for (int frame = 0; frame < 3; frame++) {
        const FrameImage image = scene.frame.image();
        ASSERT_EQ(detectMarkers(detector, &image, 100), 0);
        EXPECT_EQ(detector->markers.count, MARKER_LIST_CAPACITY);
        expectDrawn(remaining);
    }
}

}  // namespace
