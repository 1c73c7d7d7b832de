// Small markers among look-alikes, drawn four times finer and averaged down as a camera sees
// them, in dim uneven light: with the automatic threshold the markers are identified and
// no look-alike is, and with the fixed threshold no look-alike is either.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
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

constexpr int FINE = 4;  // drawing pixels per frame pixel
constexpr int DESIGNS = 4;

struct Placed {
    double x, y, side;
    int design;  // -1 for a look-alike
};

// A square with a black border a quarter wide and random blocks inside: what a marker of
// another system, or a printed pattern, looks like.
PatternPicture lookAlike(std::mt19937& rng) {
    PatternPicture p;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) {
            const unsigned char v = (rng() >> ((r / 4) * 4 + c / 4)) & 1 ? 20 : 235;
            for (int k = 0; k < 3; ++k) p.value[r][c][k] = v;
        }
    return p;
}

// A 320 x 240 frame of grey paper lit from one side, with markers and look-alikes 12 to 40
// pixels wide in a grid, turned at random.
TestFrame scene(unsigned seed, std::vector<Placed>* placed) {
    std::mt19937 rng(seed);
    TestFrame fine = blankFrame(320 * FINE, 240 * FINE);
    for (int x = 0; x < fine.width; ++x) {
        const uint8_t level = uint8_t(90 + 110 * x / fine.width);
        fillRect(fine, x, 0, x, fine.height - 1,
                 Bgra{uint8_t(level * 0.8), level, uint8_t(std::min(255, level + 20)), 0});
    }
    int k = 0;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 6; ++column, ++k) {
            const double side = 12 + (k * 7 + seed) % 29, angle = std::uniform_real_distribution<double>(0, 6.3)(rng);
            const double x = 30 + column * 52, y = 32 + row * 58;
            const int design = k % 3 == 2 ? -1 : int(rng() % DESIGNS);
            std::vector<Point2> corners;
            for (const Point2& p : squareCorners(x * FINE, y * FINE, side * FINE, angle)) corners.push_back(p);
            drawMarker(fine, corners, design < 0 ? lookAlike(rng) : makePatternPicture(design));
            placed->push_back({x, y, side, design});
        }
    TestFrame frame = blankFrame(320, 240);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            double sum[3] = {0, 0, 0};
            for (int j = 0; j < FINE; ++j)
                for (int i = 0; i < FINE; ++i)
                    for (int c = 0; c < 3; ++c) sum[c] += fine.pixel(x * FINE + i, y * FINE + j)[c];
            uint8_t v[3];
            for (int c = 0; c < 3; ++c) v[c] = uint8_t(std::clamp(sum[c] / (FINE * FINE) + noise(rng), 0.0, 255.0));
            frame.set(x, y, Bgra{v[0], v[1], v[2], 0});
        }
    return frame;
}

class SmallMarkers : public ::testing::TestWithParam<unsigned> {};

TEST_P(SmallMarkers, AreIdentifiedAndLookAlikesAreNot) {
    std::vector<Placed> placed;
    const TestFrame frame = scene(GetParam(), &placed);
    const FrameImage image = frame.image();
    for (const bool automatic : {false, true}) {
        SCOPED_TRACE(automatic ? "automatic threshold" : "threshold 100");
        auto detector = newDetector();
        detector->camera = undistortedCamera(frame.width, frame.height);
        detector->settings.autoThreshold = automatic;
        for (int design = 0; design < DESIGNS; ++design) {
            const std::string path = scratchPath("small_" + std::to_string(design) + ".patt");
            writePatternFile(path, makePatternPicture(design));
            ASSERT_EQ(loadPattern(&detector->patterns, path.c_str()), design);
        }
        ASSERT_EQ(detectMarkers(detector.get(), &image, 100), 0);
        std::vector<bool> found(placed.size(), false);
        for (int32_t m = 0; m < detector->markers.count; ++m) {
            const MarkerRecord& r = detector->markers.records[m];
            if (r.patternId < 0) continue;
            size_t nearest = 0;
            for (size_t p = 1; p < placed.size(); ++p)
                if (std::hypot(r.centre[0] - placed[p].x, r.centre[1] - placed[p].y) <
                    std::hypot(r.centre[0] - placed[nearest].x, r.centre[1] - placed[nearest].y))
                    nearest = p;
            const Placed& p = placed[nearest];
            ASSERT_LT(std::hypot(r.centre[0] - p.x, r.centre[1] - p.y), p.side / 4) << "a report on bare paper";
            ASSERT_EQ(r.patternId, p.design) << "at (" << p.x << ", " << p.y << "), " << p.side << " px";
            found[nearest] = true;
        }
        if (!automatic) continue;
        for (size_t p = 0; p < placed.size(); ++p) {
            if (placed[p].design < 0 || placed[p].side < 14) continue;
            EXPECT_TRUE(found[p]) << "marker at (" << placed[p].x << ", " << placed[p].y << "), " << placed[p].side
                                  << " px";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, SmallMarkers, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u));

// A large, clear marker whose picture is design 0 mixed with an unregistered design so far
// that it correlates with design 0 only this much: the fixed mode keeps its floor of 0.5,
// the automatic mode its own of 0.6.
struct UnsureCase {
    double correlation;
    bool fixedIdentifies, automaticIdentifies;
};
class UnsureMarker : public ::testing::TestWithParam<UnsureCase> {};

TEST_P(UnsureMarker, IsIdentifiedAboveTheModesFloor) {
    const PatternPicture own = makePatternPicture(0), other = makePatternPicture(3);
    auto mixed = [&](double t) {
        PatternPicture p;
        for (int i = 0; i < 16 * 16 * 3; ++i)
            (&p.value[0][0][0])[i] =
                static_cast<unsigned char>((1 - t) * (&own.value[0][0][0])[i] + t * (&other.value[0][0][0])[i] + 0.5);
        return p;
    };
    double low = 0.0, high = 1.0;  // the mix whose correlation is the case's, by bisection
    for (int step = 0; step < 30; ++step)
        (pictureCorrelation(mixed((low + high) / 2), own) > GetParam().correlation ? low : high) = (low + high) / 2;
    TestFrame frame = blankFrame(320, 240);
    drawMarker(frame, {{100, 60}, {220, 60}, {220, 180}, {100, 180}}, mixed(low));
    const FrameImage image = frame.image();
    for (const bool automatic : {false, true}) {
        auto detector = newDetector();
        detector->camera = undistortedCamera(frame.width, frame.height);
        detector->settings.autoThreshold = automatic;
        const std::string path = scratchPath("unsure.patt");
        writePatternFile(path, own);
        ASSERT_EQ(loadPattern(&detector->patterns, path.c_str()), 0);
        ASSERT_EQ(detectMarkers(detector.get(), &image, 100), 0);
        ASSERT_EQ(detector->markers.count, 1);
        EXPECT_EQ(detector->markers.records[0].patternId == 0,
                  automatic ? GetParam().automaticIdentifies : GetParam().fixedIdentifies)
            << (automatic ? "automatic" : "fixed") << ", confidence " << detector->markers.records[0].confidence;
    }
}

INSTANTIATE_TEST_SUITE_P(Correlations, UnsureMarker,
                         ::testing::Values(UnsureCase{0.45, false, false}, UnsureCase{0.55, true, false},
                                           UnsureCase{0.65, true, true}));

}  // namespace
