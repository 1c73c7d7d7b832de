#include "detect/pattern_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
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

// Every test starts with an empty library.
class Patterns : public ::testing::Test {
protected:
    int load(const std::string& path) { return loadPattern(library.get(), path.c_str()); }
    int freeSlot(int id) { return freePattern(library.get(), id); }
    std::string patternFile(const PatternPicture& picture) {
        const std::string path = scratchPath("pattern.patt");
        writePatternFile(path, picture);
        return path;
    }

public:
    struct Match {
        int result;
        int32_t id, direction;
        double confidence;
    };
    Match match(const PatternPicture& picture) { return match(imageOf(picture)); }
    Match match(const PatternImage& image) {
        Match m;
        m.result = matchPattern(library.get(), &image, &m.id, &m.direction, &m.confidence);
        return m;
    }
    std::unique_ptr<zelk::PatternLibrary> library = std::make_unique<zelk::PatternLibrary>();
};

TEST_F(Patterns, FillsTheFiftySlotsThenRefuses) {
    const std::string path = patternFile(makePatternPicture(0));
    for (int expected = 0; expected < PATTERN_SLOTS; expected++) EXPECT_EQ(load(path), expected);
    EXPECT_EQ(load(path), -1);
}

TEST_F(Patterns, ReusesTheLowestFreeSlotAndRefusesADoubleFree) {
    const std::string path = patternFile(makePatternPicture(0));
    for (int i = 0; i < 6; i++) load(path);
    EXPECT_EQ(freeSlot(3), 1);
    EXPECT_EQ(freeSlot(1), 1);
    EXPECT_EQ(load(path), 1);
    EXPECT_EQ(load(path), 3);
    EXPECT_EQ(load(path), 6);
    EXPECT_EQ(freeSlot(3), 1);
    EXPECT_EQ(freeSlot(3), -1);
}

class PatternIdOutOfRange : public Patterns, public ::testing::WithParamInterface<int> {};
TEST_P(PatternIdOutOfRange, IsRefused) {
    const std::string path = patternFile(makePatternPicture(0));
    for (int i = 0; i < PATTERN_SLOTS; i++) load(path);
    EXPECT_EQ(freeSlot(GetParam()), -1);
}
INSTANTIATE_TEST_SUITE_P(Ids, PatternIdOutOfRange, ::testing::Values(-1, 50, 51, INT_MIN, INT_MAX));

TEST_F(Patterns, MissingFileIsReportedByName) {
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(load("/nonexistent/zelk.patt"), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\"/nonexistent/zelk.patt\" not found!!\n");
}

// Files that must be refused with the read error, leaving the slot free.
struct BadFile {
    const char* name;
    std::string text;
};
class BadPatternFile : public Patterns, public ::testing::WithParamInterface<BadFile> {};
TEST_P(BadPatternFile, IsAReadErrorAndLeavesTheSlotFree) {
    const std::string good = patternFile(makePatternPicture(0));
    ASSERT_EQ(load(good), 0);
    const std::string bad = scratchPath("bad.patt");
    writeTextFile(bad, GetParam().text);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(load(bad), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Pattern Data read error!!\n");
    EXPECT_EQ(load(good), 1);
}

std::string numbers(int count, const std::string& value = "128") {
    std::string text;
    for (int i = 0; i < count; i++) text += value + (i % 16 == 15 ? "\n" : " ");
    return text;
}
INSTANTIATE_TEST_SUITE_P(Files, BadPatternFile,
                         ::testing::Values(BadFile{"Empty", ""}, BadFile{"OneShort", numbers(3071)},
                                           BadFile{"WordInTheLastBlock", numbers(3000) + "abc " + numbers(100)},
                                           BadFile{"NumberGluedToText", numbers(100) + "12abc " + numbers(3000)},
                                           BadFile{"LoneSign", numbers(10) + "- " + numbers(3100)},
                                           BadFile{"AboveInt32", numbers(5) + "2147483648 " + numbers(3100)},
                                           BadFile{"BelowInt32", numbers(5) + "-2147483649 " + numbers(3100)},
                                           BadFile{"FarAboveInt32",
                                                   numbers(2000) + "99999999999999999999999 " + numbers(1100)}),
                         [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

// Signs, leading zeros, any whitespace and text after the last number: each value reaches
// its template place (kept inverted and less the block mean, so differences show it).
TEST_F(Patterns, AcceptsSignsLeadingZerosAndTrailingText) {
    std::string text;
    const char* spaces[4] = {" ", "\t", "\r\n", "\v\f "};
    auto value = [](int n) { return (n * 37) % 601 - 300; };
    for (int n = 0; n < PATTERN_ORIENTATIONS * PATTERN_VALUES; n++)
        text += (value(n) < 0 ? "-00" : "+0") + std::to_string(std::abs(value(n))) + spaces[n % 4];
    const std::string path = scratchPath("odd.patt");
    writeTextFile(path, text + "trailing words");
    ASSERT_EQ(load(path), 0);
    for (int o = 0; o < PATTERN_ORIENTATIONS; o++)
        for (int plane = 0; plane < 3; plane++)
            for (int pixel = 0; pixel < 256; pixel++) {
                const int n = o * PATTERN_VALUES + plane * 256 + pixel;
                ASSERT_EQ(library->templates[0][o][pixel * 3 + plane] - library->templates[0][o][0],
                          value(o * PATTERN_VALUES) - value(n))
                    << n;
            }
}

TEST_F(Patterns, ExtremeInt32ValuesMatchWithoutOverflow) {
    // Alternating extremes give template values and squares far beyond 32 bits.
    std::string text;
    for (int i = 0; i < 3072; i++) text += (i % 3 ? "2147483647 " : "-2147483648 ");
    const std::string path = scratchPath("extreme.patt");
    writeTextFile(path, text);
    ASSERT_EQ(load(path), 0);
    const Match m = match(makePatternPicture(1));
    EXPECT_EQ(m.result, 0);
    EXPECT_LE(m.confidence, 1.0 + 1e-12);
    EXPECT_GE(m.confidence, 0.0);
}

class OrientationBlock : public Patterns, public ::testing::WithParamInterface<int> {};
TEST_P(OrientationBlock, MatchesWithItsDirectionAndFullConfidence) {
    ASSERT_EQ(load(patternFile(makePatternPicture(3))), 0);
    ASSERT_EQ(load(patternFile(makePatternPicture(4))), 1);
    const Match m = match(rotatePicture(makePatternPicture(3), GetParam()));
    EXPECT_EQ(m.result, 0);
    EXPECT_EQ(m.id, 0);
    EXPECT_EQ(m.direction, GetParam());
    EXPECT_NEAR(m.confidence, 1.0, 1e-12);
}
INSTANTIATE_TEST_SUITE_P(Blocks, OrientationBlock, ::testing::Values(0, 1, 2, 3));

TEST_F(Patterns, EqualCorrelationsKeepTheLowerSlot) {
    const PatternPicture target = makePatternPicture(2);
    const char* order[5] = {"other", "target", "other", "other", "target"};
    for (int slot = 0; slot < 5; slot++)
        ASSERT_EQ(load(patternFile(order[slot][0] == 't' ? target : makePatternPicture(5 + slot))), slot);
    const Match m = match(target);
    EXPECT_EQ(m.id, 1);
    EXPECT_EQ(m.direction, 0);
}

TEST_F(Patterns, ConstantPatternNeverWins) {
    PatternPicture grey;
    for (auto& row : grey.value)
        for (auto& pixel : row)
            for (auto& byte : pixel) byte = 77;
    ASSERT_EQ(load(patternFile(grey)), 0);
    const Match m = match(makePatternPicture(0));
    EXPECT_EQ(m.result, 0);
    EXPECT_EQ(m.id, -1);
    EXPECT_EQ(m.direction, -1);
    EXPECT_EQ(m.confidence, 0.0);
}

TEST_F(Patterns, NegativeCorrelationOrEmptyLibraryIsNoMatch) {
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
    ASSERT_EQ(load(patternFile(rings)), 0);
    m = match(negative);
    EXPECT_EQ(m.id, -1);
    EXPECT_EQ(m.direction, -1);
    EXPECT_EQ(m.confidence, 0.0);
}

TEST_F(Patterns, UniformInsideIsReportedAsSuch) {
    ASSERT_EQ(load(patternFile(makePatternPicture(0))), 0);
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

// The reference match, in doubles throughout, over blocks read from the file values
// (block, plane, row, column order) as the library reads them.
struct PlainBlock {
    double values[PATTERN_VALUES];
    double norm;
};

PlainBlock plainBlock(const int32_t* fileValues) {
    PlainBlock block;
    int64_t inverted[PATTERN_VALUES], sum = 0;
    for (int plane = 0; plane < 3; plane++)
        for (int pixel = 0; pixel < 256; pixel++) {
            inverted[pixel * 3 + plane] = 255 - int64_t(fileValues[plane * 256 + pixel]);
            sum += inverted[pixel * 3 + plane];
        }
    double squares = 0.0;
    for (int n = 0; n < PATTERN_VALUES; n++) {
        block.values[n] = double(inverted[n] - sum / PATTERN_VALUES);
        squares += block.values[n] * block.values[n];
    }
    block.norm = squares == 0.0 ? 0.0000001 : std::sqrt(squares);
    return block;
}

Patterns::Match plainMatch(const std::vector<PlainBlock>& blocks, const PatternImage& image) {
    double input[PATTERN_VALUES];
    int32_t sum = 0, squares = 0;
    for (int n = 0; n < PATTERN_VALUES; n++) sum += 255 - image.value[n];
    for (int n = 0; n < PATTERN_VALUES; n++) {
        const int32_t u = (255 - image.value[n]) - sum / PATTERN_VALUES;
        input[n] = u;
        squares += u * u;
    }
    const double inputNorm = std::sqrt(double(squares));
    if (inputNorm == 0.0) return {-1, 0, 0, -1.0};
    Patterns::Match m{0, -1, -1, 0.0};
    for (size_t b = 0; b < blocks.size(); b++) {
        double partial[4] = {0.0, 0.0, 0.0, 0.0};
        for (int n = 0; n < PATTERN_VALUES; n += 4)
            for (int k = 0; k < 4; k++) partial[k] += input[n + k] * blocks[b].values[n + k];
        const double r = ((partial[0] + partial[1]) + (partial[2] + partial[3])) / blocks[b].norm / inputNorm;
        if (r > m.confidence) {
            m.confidence = r;
            m.id = int32_t(b / 4);
            m.direction = int32_t(b % 4);
        }
    }
    return m;
}

// Pattern files of every kind, matched against random and patterned images: ordinary 0..255
// files, blocks whose values reach the 16-bit path's limit or just pass it, values that fit
// 16 bits but whose sums would overflow 32, int32 extremes, constant blocks, and slots that
// mix such blocks with ordinary ones. Every result must be the plain one, bit for bit.
TEST_F(Patterns, FastMatchEqualsThePlainDoubleMatch) {
    std::mt19937 rng(3);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Blocks whose inverted values are +-magnitude in a random sign pattern of their own, with
    // a zero sum, so that their template values are exactly those.
    std::vector<std::vector<int>> signs(3, std::vector<int>(PATTERN_VALUES));
    for (auto& pattern : signs)
        for (int n = 0; n < PATTERN_VALUES; n += 2) {
            pattern[n] = uniform(0, 1) ? 1 : -1;
            pattern[n + 1] = -pattern[n];
        }
    auto signedBlock = [&](int32_t* values, int magnitude, const std::vector<int>& pattern) {
        for (int n = 0; n < PATTERN_VALUES; n++) values[n] = 255 - pattern[n] * magnitude;
    };
    std::vector<PlainBlock> blocks;
    std::vector<int32_t> ordinary;  // an ordinary block of slot 0, in file order
    const int slots = 12;
    for (int slot = 0; slot < slots; slot++) {
        std::vector<int32_t> file(4 * PATTERN_VALUES);
        for (int o = 0; o < 4; o++) {
            int32_t* values = &file[o * PATTERN_VALUES];
            const int kind = (slot + o * (slot % 3)) % 8;
            if (kind == 0 || kind == 1) {
                for (int n = 0; n < PATTERN_VALUES; n++) values[n] = uniform(0, 255);
            } else if (kind == 2) {
                signedBlock(values, 8191, signs[0]);
            } else if (kind == 3) {
                signedBlock(values, 8192, signs[1]);
            } else if (kind == 4) {
                signedBlock(values, 32767, signs[2]);
            } else if (kind == 5) {
                for (int n = 0; n < PATTERN_VALUES; n++) values[n] = uniform(0, 3) ? INT32_MAX : INT32_MIN;
            } else if (kind == 6) {
                for (int n = 0; n < PATTERN_VALUES; n++) values[n] = 77;
            } else {
                for (int n = 0; n < PATTERN_VALUES; n++) values[n] = uniform(-9000, 9300);
            }
            blocks.push_back(plainBlock(values));
            if (ordinary.empty() && kind < 2) ordinary.assign(values, values + PATTERN_VALUES);
        }
        // The file holds the planes of a block one after another, as the values above are laid out.
        std::string text;
        for (int32_t value : file) text += std::to_string(value) + " ";
        const std::string path = scratchPath("mixed.patt");
        writeTextFile(path, text);
        ASSERT_EQ(load(path), slot);
    }
    for (int round = 0; round < 3000; round++) {
        PatternImage image;
        const int kind = round % 5;
        const std::vector<int>& pattern = signs[round % 3];
        for (int n = 0; n < PATTERN_VALUES; n++) {
            const int inFile = (n % 3) * 256 + n / 3;
            if (kind == 0)
                image.value[n] = uint8_t(uniform(0, 255));
            else if (kind == 1)
                image.value[n] = pattern[inFile] > 0 ? 0 : 255;  // a signed block's own picture
            else if (kind == 2)
                image.value[n] = pattern[inFile] > 0 ? 255 : 0;  // and its negative
            else if (kind == 3)
                image.value[n] = uint8_t(uniform(100, 103));
            else
                image.value[n] = uint8_t(ordinary[inFile] ^ uniform(0, 7));
        }
        if (round % 97 == 0) std::fill(std::begin(image.value), std::end(image.value), uint8_t(round % 256));
        const Match fast = match(image), plain = plainMatch(blocks, image);
        ASSERT_EQ(fast.result, plain.result) << round;
        ASSERT_EQ(fast.id, plain.id) << round;
        ASSERT_EQ(fast.direction, plain.direction) << round;
        ASSERT_EQ(fast.confidence, plain.confidence) << round;
    }
}

// --- unwarping ------------------------------------------------------------------

constexpr int FRAME_WIDTH = 256, FRAME_HEIGHT = 200;

class Unwarp : public Patterns {
protected:
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
    const FrameImage view = frame.image();
    ASSERT_EQ(extractPatternImage(&view, contourX, contourY, vertexIndex, &image), 0);
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
    const FrameImage view = frame.image();
    ASSERT_EQ(extractPatternImage(&view, contourX, contourY, vertexIndex, &image), 0);
    for (int r = 0; r < 16; r++) {
        EXPECT_EQ(image.value[(r * 16 + 13) * 3], 0);
        EXPECT_EQ(image.value[(r * 16 + 14) * 3], 127);
        EXPECT_EQ(image.value[(r * 16 + 15) * 3], 255);
    }
}

TEST_F(Unwarp, DegenerateCornersIdentifyAsNoMatch) {
    ASSERT_EQ(load(patternFile(makePatternPicture(0))), 0);
    const TestFrame frame = blankFrame(FRAME_WIDTH, FRAME_HEIGHT, kBlack);
    // The only projective map taking the square onto these points sends the plane origin
    // to infinity (x = 1100 Y / X - 1000, y = 11000 / X), so it has no form with h22 = 1.
    const int32_t xs[5] = {100, 0, 100, 210, 100}, ys[5] = {110, 100, 100, 110, 110};
    int32_t id = 7, direction = 7;
    double confidence = 7.0;
    const FrameImage view = frame.image();
    EXPECT_EQ(identifyCandidate(library.get(), &view, xs, ys, vertexIndex, &id, &direction, &confidence), 0);
    EXPECT_EQ(id, -1);
    EXPECT_EQ(direction, -1);
    EXPECT_EQ(confidence, 0.0);
}

// What the plain unwarp met, so that a comparison can tell which kinds of input it covered.
struct UnwarpCoverage {
    int perSampleCount[65] = {};  // pictures by their samples per side (both sides)
    int vanishing = 0, nanSamples = 0, hugeSamples = 0, outsideSamples = 0, edgeSamples = 0;
};

// The reference unwarp: every sample divided, (h00 X + h01 Y + h02) / d with the
// same sums, and kept when the quotient lies in (-1, size). The fast one must match it.
int plainSample(const TestFrame& frame, const double h[3][3], int nx, int ny, PatternImage* image,
                UnwarpCoverage* coverage) {
    int32_t sums[PATTERN_VALUES] = {};
    for (int j = 0; j < ny; j++)
        for (int i = 0; i < nx; i++) {
            const double X = 102.5 + 5.0 * (i + 0.5) / nx, Y = 102.5 + 5.0 * (j + 0.5) / ny;
            const double d = h[2][0] * X + h[2][1] * Y + h[2][2];
            if (d == 0.0) {
                coverage->vanishing++;
                return -1;
            }
            const double fx = (h[0][0] * X + h[0][1] * Y + h[0][2]) / d, fy = (h[1][0] * X + h[1][1] * Y + h[1][2]) / d;
            coverage->nanSamples += std::isnan(fx) || std::isnan(fy);
            coverage->hugeSamples += std::fabs(fx) >= 2147483648.0 || std::fabs(fy) >= 2147483648.0;
            coverage->edgeSamples += (fx > -1.0 && fx < 0.0) || (fy > -1.0 && fy < 0.0);
            if (!(fx > -1.0 && fx < frame.width && fy > -1.0 && fy < frame.height)) {
                coverage->outsideSamples++;
                continue;
            }
            const unsigned char* pixel = frame.data() + (size_t(int(fy)) * frame.width + int(fx)) * 4;
            for (int k = 0; k < 3; k++) sums[((j / (ny / 16)) * 16 + i / (nx / 16)) * 3 + k] += pixel[k];
        }
    coverage->perSampleCount[nx]++;
    coverage->perSampleCount[ny]++;
    for (int n = 0; n < PATTERN_VALUES; n++)
        image->value[n] = static_cast<unsigned char>(sums[n] / (nx / 16 * ny / 16));
    return 0;
}

int plainUnwarp(const TestFrame& frame, const int32_t* xs, const int32_t* ys, PatternImage* image,
                UnwarpCoverage* coverage) {
    static const double plane[4][2] = {{100.0, 100.0}, {110.0, 100.0}, {110.0, 110.0}, {100.0, 110.0}};
    double corner[4][2], h[3][3];
    for (int i = 0; i < 4; i++) {
        corner[i][0] = xs[i];
        corner[i][1] = ys[i];
    }
    if (computePerspective(plane, corner, h) < 0) return -1;
    auto count = [](double longerSquared) {
        int n = 16;
        while (n < 64 && n * n < std::floor(std::floor(longerSquared) / 4.0)) n *= 2;
        return n;
    };
    auto squared = [&](int a, int b) {
        return std::pow(corner[a][0] - corner[b][0], 2) + std::pow(corner[a][1] - corner[b][1], 2);
    };
    return plainSample(frame, h, count(std::fmax(squared(0, 1), squared(2, 3))),
                       count(std::fmax(squared(1, 2), squared(3, 0))), image, coverage);
}

// A frame of noise.
TestFrame noiseFrame(int width, int height) {
    TestFrame f = blankFrame(width, height);
    std::mt19937 rng(42);
    for (auto& byte : f.bytes) byte = uint8_t(rng());
    return f;
}

// Compares one unwarp with the plain one: the same result, the same image, or nothing written.
void expectSameUnwarp(int fastResult, const PatternImage& fast, int plainResult, const PatternImage& plain, int round) {
    ASSERT_EQ(fastResult, plainResult) << "round " << round;
    for (int n = 0; n < PATTERN_VALUES; n++)
        ASSERT_EQ(fast.value[n], fastResult < 0 ? 0xA5 : plain.value[n]) << "round " << round << " value " << n;
}

// Corners a million pixels apart send most samples far outside the frame: those are
// skipped, the few inside read as the plain unwarp reads them.
TEST_F(Unwarp, WildProjectionsAreSkippedSafely) {
    const int32_t xs[5] = {0, 1000000, 1000001, 1, 0}, ys[5] = {0, 1, 2, 1000000, 0};
    const TestFrame frame = noiseFrame(FRAME_WIDTH, FRAME_HEIGHT);
    PatternImage fast, plain;
    std::fill(std::begin(fast.value), std::end(fast.value), 0xA5);
    UnwarpCoverage coverage;
    const FrameImage view = frame.image();
    expectSameUnwarp(extractPatternImage(&view, xs, ys, vertexIndex, &fast), fast,
                     plainUnwarp(frame, xs, ys, &plain, &coverage), plain, 0);
    EXPECT_GT(coverage.outsideSamples, 0);
}

// Random quadrilaterals over a noise frame: squares and rectangles whose samples fall on
// whole pixel coordinates (sides of 256 and more put them there), small and large ones seen
// in perspective, partly or far outside the frame, degenerate ones, and corners at the ends
// of the int32 range whose transforms overflow to infinities and NaN.
class UnwarpFastPath : public ::testing::TestWithParam<std::pair<int, int>> {};
TEST_P(UnwarpFastPath, MatchesDividingEverySample) {
    const int width = GetParam().first, height = GetParam().second;
    const TestFrame frame = noiseFrame(width, height);
    std::mt19937 rng(7);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int32_t vertexIndex[5] = {0, 1, 2, 3, 4};
    UnwarpCoverage coverage;
    int compared = 0;
    const int rounds = 6000;
    for (int round = 0; round < rounds; round++) {
        int32_t xs[5], ys[5];
        const int kind = round % 8;
        if (kind < 2) {
            // Axis-aligned, or with each corner nudged by a pixel or two.
            const int w = 64 * uniform(1, 10), h = kind == 0 ? w : 64 * uniform(1, 10);
            const int x0 = uniform(-w / 2, width - w / 2), y0 = uniform(-h / 2, height - h / 2), jitter = kind;
            const int cx[4] = {x0, x0 + w, x0 + w, x0}, cy[4] = {y0, y0, y0 + h, y0 + h};
            for (int i = 0; i < 4; i++) {
                xs[i] = cx[i] + uniform(-jitter, jitter);
                ys[i] = cy[i] + uniform(-jitter, jitter);
            }
        } else if (kind < 4) {
            // A convex quadrilateral in perspective: corners on rays from a centre; the small
            // ones take 16 or 32 samples per side.
            const double cx = uniform(-100, width + 100), cy = uniform(-100, height + 100);
            const double radius = kind == 2 ? uniform(6, 50) : uniform(8, 500), turn = uniform(0, 628) / 100.0;
            for (int i = 0; i < 4; i++) {
                const double a = turn + i * 1.5707963 + uniform(-30, 30) / 100.0, r = radius * uniform(40, 160) / 100.0;
                xs[i] = int32_t(std::lround(cx + r * std::cos(a)));
                ys[i] = int32_t(std::lround(cy + r * std::sin(a)));
            }
        } else if (kind == 4) {
            for (int i = 0; i < 4; i++) {
                xs[i] = uniform(-2000, width + 2000);
                ys[i] = uniform(-2000, height + 2000);
            }
        } else if (kind == 5) {
            // Degenerate: repeated corners, three or four in a line, a point.
            const int x = uniform(0, width), y = uniform(0, height), dx = uniform(-40, 40), dy = uniform(-40, 40);
            const int shape = uniform(0, 2);
            for (int i = 0; i < 4; i++) {
                const int step = shape == 0 ? i : shape == 1 ? std::min(i, 2) : 0;
                xs[i] = x + step * dx + (i == 3 && shape == 1 ? uniform(-3, 3) : 0);
                ys[i] = y + step * dy;
            }
        } else if (kind == 6) {
            // Far outside, and large enough to project the inside across the frame.
            for (int i = 0; i < 4; i++) {
                xs[i] = uniform(-20000000, 20000000);
                ys[i] = uniform(-20000000, 20000000);
            }
        } else {
            // The ends of the int32 range, with a few ordinary corners among them.
            const int32_t extremes[6] = {INT32_MIN, INT32_MIN + 1, -1000000000, 1000000000, INT32_MAX - 1, INT32_MAX};
            for (int i = 0; i < 4; i++) {
                const bool ordinary = uniform(0, 3) == 0;
                xs[i] = ordinary ? uniform(0, width) : extremes[uniform(0, 5)];
                ys[i] = ordinary ? uniform(0, height) : extremes[uniform(0, 5)];
            }
        }
        xs[4] = xs[0];
        ys[4] = ys[0];
        PatternImage fast, plain;
        std::fill(std::begin(fast.value), std::end(fast.value), 0xA5);
        const FrameImage view = frame.image();
        const int fastResult = extractPatternImage(&view, xs, ys, vertexIndex, &fast);
        expectSameUnwarp(fastResult, fast, plainUnwarp(frame, xs, ys, &plain, &coverage), plain, round);
        compared += fastResult == 0;
    }
    EXPECT_GT(compared, rounds * 3 / 4);
    for (int samples : {16, 32, 64}) EXPECT_GT(coverage.perSampleCount[samples], 200) << samples;
    EXPECT_GT(coverage.hugeSamples, 0);
    EXPECT_GT(coverage.edgeSamples, 0);
    EXPECT_GT(coverage.outsideSamples, 0);
}
// An ordinary frame, and a tiny one that nearly every sample misses.
INSTANTIATE_TEST_SUITE_P(Frames, UnwarpFastPath, ::testing::Values(std::make_pair(600, 450), std::make_pair(7, 3)));

// Transforms no corners give: ordinary ones with entries replaced by zeros, signed zeros,
// subnormals, huge values, infinities and NaN, so that samples overflow, vanish or are NaN;
// and ones that put samples exactly on the frame's edges.
TEST_P(UnwarpFastPath, MatchesDividingEverySampleForAnyTransform) {
    const int width = GetParam().first, height = GetParam().second;
    const TestFrame frame = noiseFrame(width, height);
    std::mt19937 rng(11);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const double special[10] = {0.0, -0.0, 4.9e-324, -1e-310, 1e-300, 1e300, -1e300, inf, -inf, nan};
    const int counts[3] = {16, 32, 64};
    UnwarpCoverage coverage;
    const int rounds = 4000;
    for (int round = 0; round < rounds; round++) {
        // A map of the plane square [100, 110]^2 onto roughly the frame, in perspective.
        const double scale = width * uniform(0.02, 0.3), tilt = uniform(-0.003, 0.003);
        double h[3][3] = {{scale * uniform(0.5, 1.5), scale * uniform(-0.5, 0.5), uniform(-110, 10) * scale},
                          {scale * uniform(-0.5, 0.5), scale * uniform(0.5, 1.5), uniform(-110, 10) * scale},
                          {tilt, uniform(-0.003, 0.003), 1.0}};
        const int nx = counts[round % 3], ny = counts[(round / 3) % 3];
        if (round % 4 == 3) {
            // Axis-aligned, 128 pixels per plane unit: every sample lies on a whole pixel, and
            // one row and one column lie on the frame's edges or just inside them.
            auto sample = [](int index, int count) { return 128.0 * (102.5 + 5.0 * (index + 0.5) / count); };
            const double xTargets[4] = {-1.0, 0.0, width - 1.0, double(width)};
            const double yTargets[4] = {-1.0, 0.0, height - 1.0, double(height)};
            h[0][0] = h[1][1] = 128.0;
            h[0][1] = h[1][0] = h[2][0] = h[2][1] = 0.0;
            h[0][2] = xTargets[int(uniform(0, 4))] - sample(int(uniform(0, nx)), nx);
            h[1][2] = yTargets[int(uniform(0, 4))] - sample(int(uniform(0, ny)), ny);
        } else {
            const int replaced = round % 4 == 0 ? 0 : int(uniform(1, 4));
            for (int k = 0; k < replaced; k++) h[int(uniform(0, 3))][int(uniform(0, 3))] = special[int(uniform(0, 10))];
        }
        if (round % 50 == 1) h[2][0] = h[2][1] = h[2][2] = 0.0;  // every denominator 0
        PatternImage fast, plain;
        std::fill(std::begin(fast.value), std::end(fast.value), 0xA5);
        const FrameImage view = frame.image();
        const int fastResult = samplePatternImage(&view, h, nx, ny, &fast);
        expectSameUnwarp(fastResult, fast, plainSample(frame, h, nx, ny, &plain, &coverage), plain, round);
    }
    for (int samples : {16, 32, 64}) EXPECT_GT(coverage.perSampleCount[samples], 500) << samples;
    EXPECT_GT(coverage.vanishing, 40);
    EXPECT_GT(coverage.nanSamples, 1000);
    EXPECT_GT(coverage.hugeSamples, 1000);
    EXPECT_GT(coverage.edgeSamples, 100);
}

TEST_F(Unwarp, OnlySixteenThirtyTwoOrSixtyFourSamplesPerSide) {
    const double h[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
    const TestFrame frame = blankFrame(FRAME_WIDTH, FRAME_HEIGHT);
    PatternImage image;
    const FrameImage view = frame.image();
    for (int count : {0, 8, 15, 24, 128, -16}) {
        EXPECT_EQ(samplePatternImage(&view, h, count, 16, &image), -1) << count;
        EXPECT_EQ(samplePatternImage(&view, h, 16, count, &image), -1) << count;
    }
    EXPECT_EQ(samplePatternImage(&view, h, 32, 64, &image), 0);
}

TEST_F(Unwarp, IdentifiesADrawnMarkerFromEachStartingCorner) {
    const PatternPicture picture = makePatternPicture(6);
    ASSERT_EQ(load(patternFile(makePatternPicture(7))), 0);
    ASSERT_EQ(load(patternFile(picture)), 1);
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
        const FrameImage view = frame.image();
        identifyCandidate(library.get(), &view, xs, ys, vertexIndex, &id, &direction, &confidence);
        EXPECT_EQ(id, 1) << start;
        EXPECT_EQ(direction, start);
        EXPECT_GT(confidence, 0.95);
    }
}

}  // namespace
