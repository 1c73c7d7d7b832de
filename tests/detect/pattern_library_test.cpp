#include "detect/pattern_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_params.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

using namespace zelk;

namespace {

PatternImage imageOf(const PatternPicture& picture) {
    PatternImage image;
    for (int r = 0; r < 16; r++)
        for (int c = 0; c < 16; c++)
            for (int k = 0; k < 3; k++) image.value[(r * 16 + c) * 3 + k] = picture.value[r][c][k];
    return image;
}

// Every test starts and ends with an empty library.
class PatternLibrary : public ::testing::Test {
protected:
    void SetUp() override { freeAll(); }
    void TearDown() override { freeAll(); }
    static void freeAll() {
        for (int id = 0; id < PATTERN_SLOTS; id++) freePattern(id);
    }
    std::string patternFile(const PatternPicture& picture) {
        const std::string path = scratchPath("pattern.pat");
        writePatternFile(path, picture);
        return path;
    }
    struct Match {
        int result;
        int32_t id, direction;
        double confidence;
    };
    static Match match(const PatternPicture& picture) {
        const PatternImage image = imageOf(picture);
        Match m;
        m.result = matchPattern(&image, &m.id, &m.direction, &m.confidence);
        return m;
    }
};

TEST_F(PatternLibrary, FillsTheFiftySlotsThenRefuses) {
    const std::string path = patternFile(makePatternPicture(0));
    for (int expected = 0; expected < PATTERN_SLOTS; expected++) EXPECT_EQ(loadPattern(path.c_str()), expected);
    EXPECT_EQ(loadPattern(path.c_str()), -1);
}

TEST_F(PatternLibrary, ReusesTheLowestFreeSlotAndRefusesADoubleFree) {
    const std::string path = patternFile(makePatternPicture(0));
    for (int i = 0; i < 6; i++) loadPattern(path.c_str());
    EXPECT_EQ(freePattern(3), 1);
    EXPECT_EQ(freePattern(1), 1);
    EXPECT_EQ(loadPattern(path.c_str()), 1);
    EXPECT_EQ(loadPattern(path.c_str()), 3);
    EXPECT_EQ(loadPattern(path.c_str()), 6);
    EXPECT_EQ(freePattern(3), 1);
    EXPECT_EQ(freePattern(3), -1);
}

class PatternIdOutOfRange : public PatternLibrary, public ::testing::WithParamInterface<int> {};
TEST_P(PatternIdOutOfRange, IsRefused) {
    const std::string path = patternFile(makePatternPicture(0));
    for (int i = 0; i < PATTERN_SLOTS; i++) loadPattern(path.c_str());
    EXPECT_EQ(freePattern(GetParam()), -1);
}
INSTANTIATE_TEST_SUITE_P(Ids, PatternIdOutOfRange, ::testing::Values(-1, 50, 51, INT_MIN, INT_MAX));

TEST_F(PatternLibrary, MissingFileIsReportedByName) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(loadPattern("/nonexistent/zelk.pat"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\"/nonexistent/zelk.pat\" not found!!\n");
}

// Files that must be refused with the read error, leaving the slot free.
struct BadFile {
    const char* name;
    std::string text;
};
class BadPatternFile : public PatternLibrary, public ::testing::WithParamInterface<BadFile> {};
TEST_P(BadPatternFile, IsAReadErrorAndLeavesTheSlotFree) {
    const std::string good = patternFile(makePatternPicture(0));
    ASSERT_EQ(loadPattern(good.c_str()), 0);
    const std::string bad = scratchPath("bad.pat");
    writeTextFile(bad, GetParam().text);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(loadPattern(bad.c_str()), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Pattern Data read error!!\n");
    EXPECT_EQ(loadPattern(good.c_str()), 1);
}

std::string numbers(int count, const std::string& value = "128") {
    std::string text;
    for (int i = 0; i < count; i++) text += value + (i % 16 == 15 ? "\n" : " ");
    return text;
}
INSTANTIATE_TEST_SUITE_P(
    Files, BadPatternFile,
    ::testing::Values(BadFile{"Empty", ""}, BadFile{"OneShort", numbers(3071)},
                      BadFile{"WordInTheLastBlock", numbers(3000) + "abc " + numbers(100)},
                      BadFile{"NumberGluedToText", numbers(100) + "12abc " + numbers(3000)},
                      BadFile{"LoneSign", numbers(10) + "- " + numbers(3100)},
                      BadFile{"AboveInt32", numbers(5) + "2147483648 " + numbers(3100)},
                      BadFile{"BelowInt32", numbers(5) + "-2147483649 " + numbers(3100)},
                      BadFile{"FarAboveInt32", numbers(2000) + "99999999999999999999999 " + numbers(1100)}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST_F(PatternLibrary, AcceptsSignsLeadingZerosAndTrailingText) {
    const std::string path = scratchPath("odd.pat");
    writeTextFile(path, numbers(1000, "+0012") + numbers(2072, "\t-7\r") + "trailing words");
    EXPECT_EQ(loadPattern(path.c_str()), 0);
}

TEST_F(PatternLibrary, ExtremeInt32ValuesMatchWithoutOverflow) {
    // Alternating extremes give template values and squares far beyond 32 bits.
    std::string text;
    for (int i = 0; i < 3072; i++) text += (i % 3 ? "2147483647 " : "-2147483648 ");
    const std::string path = scratchPath("extreme.pat");
    writeTextFile(path, text);
    ASSERT_EQ(loadPattern(path.c_str()), 0);
    const Match m = match(makePatternPicture(1));
    EXPECT_EQ(m.result, 0);
    EXPECT_LE(m.confidence, 1.0 + 1e-12);
    EXPECT_GE(m.confidence, 0.0);
}

class OrientationBlock : public PatternLibrary, public ::testing::WithParamInterface<int> {};
TEST_P(OrientationBlock, MatchesWithItsDirectionAndFullConfidence) {
    ASSERT_EQ(loadPattern(patternFile(makePatternPicture(3)).c_str()), 0);
    ASSERT_EQ(loadPattern(patternFile(makePatternPicture(4)).c_str()), 1);
    const Match m = match(rotatePicture(makePatternPicture(3), GetParam()));
    EXPECT_EQ(m.result, 0);
    EXPECT_EQ(m.id, 0);
    EXPECT_EQ(m.direction, GetParam());
    EXPECT_NEAR(m.confidence, 1.0, 1e-12);
}
INSTANTIATE_TEST_SUITE_P(Blocks, OrientationBlock, ::testing::Values(0, 1, 2, 3));

TEST_F(PatternLibrary, EqualCorrelationsKeepTheLowerSlot) {
    const PatternPicture target = makePatternPicture(2);
    const char* order[5] = {"other", "target", "other", "other", "target"};
    for (int slot = 0; slot < 5; slot++)
        ASSERT_EQ(loadPattern(patternFile(order[slot][0] == 't' ? target : makePatternPicture(5 + slot)).c_str()), slot);
    const Match m = match(target);
    EXPECT_EQ(m.id, 1);
    EXPECT_EQ(m.direction, 0);
}

TEST_F(PatternLibrary, ConstantPatternNeverWins) {
    PatternPicture grey;
    for (auto& row : grey.value)
        for (auto& pixel : row)
            for (auto& byte : pixel) byte = 77;
    ASSERT_EQ(loadPattern(patternFile(grey).c_str()), 0);
    const Match m = match(makePatternPicture(0));
    EXPECT_EQ(m.result, 0);
    EXPECT_EQ(m.id, -1);
    EXPECT_EQ(m.direction, -1);
    EXPECT_EQ(m.confidence, 0.0);
}

TEST_F(PatternLibrary, NegativeCorrelationOrEmptyLibraryIsNoMatch) {
    const PatternPicture picture = makePatternPicture(0);
    Match m = match(picture);
    EXPECT_EQ(m.id, -1);
    EXPECT_EQ(m.confidence, 0.0);
    // A photographic negative correlates -1 with every block of a picture of square rings.
    PatternPicture rings, negative;
    for (int r = 0; r < 16; r++)
        for (int c = 0; c < 16; c++)
            for (int k = 0; k < 3; k++) {
                const int ring = std::max(std::abs(2 * r - 15), std::abs(2 * c - 15)) / 4;
                rings.value[r][c][k] = ring % 2 ? 250 : 10;
                negative.value[r][c][k] = 255 - rings.value[r][c][k];
            }
    ASSERT_EQ(loadPattern(patternFile(rings).c_str()), 0);
    m = match(negative);
    EXPECT_EQ(m.id, -1);
    EXPECT_EQ(m.direction, -1);
    EXPECT_EQ(m.confidence, 0.0);
}

TEST_F(PatternLibrary, UniformInsideIsReportedAsSuch) {
    ASSERT_EQ(loadPattern(patternFile(makePatternPicture(0)).c_str()), 0);
    PatternPicture white;
    for (auto& row : white.value)
        for (auto& pixel : row)
            for (auto& byte : pixel) byte = 255;
    const Match m = match(white);
    EXPECT_EQ(m.result, -1);
    EXPECT_EQ(m.id, 0);
    EXPECT_EQ(m.direction, 0);
    EXPECT_EQ(m.confidence, -1.0);
}

// --- unwarping ------------------------------------------------------------------

constexpr int FRAME_WIDTH = 256, FRAME_HEIGHT = 200;

class Unwarp : public PatternLibrary {
protected:
    void SetUp() override {
        PatternLibrary::SetUp();
        useFrameSize(blankFrame(FRAME_WIDTH, FRAME_HEIGHT));
    }
    // An axis-aligned candidate whose raw corners are (x0, y0) and (x0 + side, y0 + side).
    void square(int x0, int y0, int side) {
        const int xs[5] = {x0, x0 + side, x0 + side, x0, x0};
        const int ys[5] = {y0, y0, y0 + side, y0 + side, y0};
        for (int i = 0; i < 5; i++) {
            contourX[i] = xs[i];
            contourY[i] = ys[i];
        }
    }
    int32_t contourX[5], contourY[5];
    const int32_t vertexIndex[5] = {0, 1, 2, 3, 4};
};

// Byte 0 holds x, byte 1 holds y, byte 2 a constant: the unwarped bytes tell which pixels
// were sampled and how they were averaged.
TestFrame coordinateFrame() {
    TestFrame frame = blankFrame(FRAME_WIDTH, FRAME_HEIGHT);
    for (int y = 0; y < FRAME_HEIGHT; y++)
        for (int x = 0; x < FRAME_WIDTH; x++) frame.set(x, y, Bgra{uint8_t(x), uint8_t(y), 90, 255});
    return frame;
}

struct Sampling {
    int side, samplesPerPixel;
};
class UnwarpSampling : public Unwarp, public ::testing::WithParamInterface<Sampling> {};
TEST_P(UnwarpSampling, AveragesTheSamplesOfEachPatternPixel) {
    const int side = GetParam().side, s = GetParam().samplesPerPixel, x0 = 30, y0 = 20;
    square(x0, y0, side);
    const TestFrame frame = coordinateFrame();
    PatternImage image;
    ASSERT_EQ(extractPatternImage(frame.data(), contourX, contourY, vertexIndex, &image), 0);
    // Samples sit at the middle of s x s cells of the inside [side / 4, 3 side / 4].
    auto expected = [&](int origin, int index) {
        int sum = 0;
        for (int k = 0; k < s; k++)
            sum += static_cast<int>(origin + side / 4.0 + side / 2.0 * ((index * s + k) + 0.5) / (16 * s));
        return sum / s;  // each of the s values is repeated s times along the other axis
    };
    for (int r = 0; r < 16; r++)
        for (int c = 0; c < 16; c++) {
            const unsigned char* p = &image.value[(r * 16 + c) * 3];
            ASSERT_EQ(p[0], expected(x0, c)) << r << "," << c;
            ASSERT_EQ(p[1], expected(y0, r)) << r << "," << c;
            ASSERT_EQ(p[2], 90);
        }
}
INSTANTIATE_TEST_SUITE_P(Sides, UnwarpSampling,
                         ::testing::Values(Sampling{30, 1}, Sampling{40, 2}, Sampling{64, 2}, Sampling{80, 4},
                                           Sampling{160, 4}));

TEST_F(Unwarp, SamplesOutsideTheFrameDarkenButStillCount) {
    // Side 40 at x0 = -29: sample columns 28 and 29 fall at x = -1.19 (outside) and -0.56
    // (truncated to column 0, inside); all of 30 and 31 are inside.
    square(-29, 20, 40);
    const TestFrame frame = blankFrame(FRAME_WIDTH, FRAME_HEIGHT, kWhite);
    PatternImage image;
    ASSERT_EQ(extractPatternImage(frame.data(), contourX, contourY, vertexIndex, &image), 0);
    for (int r = 0; r < 16; r++) {
        EXPECT_EQ(image.value[(r * 16 + 13) * 3], 0);
        EXPECT_EQ(image.value[(r * 16 + 14) * 3], 127);
        EXPECT_EQ(image.value[(r * 16 + 15) * 3], 255);
    }
}

TEST_F(Unwarp, DegenerateCornersIdentifyAsNoMatch) {
    ASSERT_EQ(loadPattern(patternFile(makePatternPicture(0)).c_str()), 0);
    const TestFrame frame = blankFrame(FRAME_WIDTH, FRAME_HEIGHT, kBlack);
    // The only projective map taking the square onto these points sends the plane origin
    // to infinity (x = 1100 Y / X - 1000, y = 11000 / X), so it has no form with h22 = 1.
    const int32_t xs[5] = {100, 0, 100, 210, 100}, ys[5] = {110, 100, 100, 110, 110};
    int32_t id = 7, direction = 7;
    double confidence = 7.0;
    EXPECT_EQ(identifyCandidate(frame.data(), xs, ys, vertexIndex, &id, &direction, &confidence), 0);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(direction, -1);
    EXPECT_EQ(confidence, 0.0);
}

TEST_F(Unwarp, WildProjectionsAreSkippedSafely) {
    // A nearly flat quadrilateral projects samples to huge coordinates.
    const int32_t xs[5] = {0, 1000000, 1000001, 1, 0}, ys[5] = {0, 1, 2, 1000000, 0};
    const TestFrame frame = blankFrame(FRAME_WIDTH, FRAME_HEIGHT, Bgra{200, 200, 200, 255});
    PatternImage image;
    const int result = extractPatternImage(frame.data(), xs, ys, vertexIndex, &image);
    EXPECT_TRUE(result == 0 || result == -1);
}

TEST_F(Unwarp, IdentifiesADrawnMarkerFromEachStartingCorner) {
    const PatternPicture picture = makePatternPicture(6);
    ASSERT_EQ(loadPattern(patternFile(makePatternPicture(7)).c_str()), 0);
    ASSERT_EQ(loadPattern(patternFile(picture).c_str()), 1);
    TestFrame frame = blankFrame(FRAME_WIDTH, FRAME_HEIGHT);
    drawMarker(frame, {{40, 30}, {168, 30}, {168, 158}, {40, 158}}, picture);
    // The outline pixels of the border: the edge itself is drawn only on the left and top.
    const int32_t cornerX[4] = {40, 167, 167, 40}, cornerY[4] = {30, 30, 157, 157};
    for (int start = 0; start < 4; start++) {
        int32_t xs[5], ys[5];
        for (int i = 0; i < 5; i++) {
            xs[i] = cornerX[(start + i) % 4];
            ys[i] = cornerY[(start + i) % 4];
        }
        int32_t id, direction;
        double confidence;
        identifyCandidate(frame.data(), xs, ys, vertexIndex, &id, &direction, &confidence);
        EXPECT_EQ(id, 1) << start;
        EXPECT_EQ(direction, start);
        EXPECT_GT(confidence, 0.95);
    }
}

}  // namespace
