#include "tests/support/marker_patterns.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>

namespace {

// Blue, green, red.
const unsigned char PALETTE[6][3] = {{255, 255, 255}, {0, 0, 0},     {40, 40, 200},
                                     {200, 60, 40},   {60, 180, 60}, {40, 200, 230}};

PatternPicture blockyPicture(uint32_t seed) {
    PatternPicture picture;
    uint32_t state = seed * 2654435761u + 12345u;
    for (int cellRow = 0; cellRow < 4; cellRow++) {
        for (int cellColumn = 0; cellColumn < 4; cellColumn++) {
            state = state * 1664525u + 1013904223u;
            const unsigned char* colour = PALETTE[(state >> 16) % 6];
            for (int r = 0; r < 4; r++)
                for (int c = 0; c < 4; c++)
                    for (int k = 0; k < 3; k++) picture.value[cellRow * 4 + r][cellColumn * 4 + c][k] = colour[k];
        }
    }
    return picture;
}

double maxCorrelationOverTurns(const PatternPicture& a, const PatternPicture& b, int firstTurn) {
    double worst = -1.0;
    for (int turn = firstTurn; turn < 4; turn++) worst = std::max(worst, pictureCorrelation(a, rotatePicture(b, turn)));
    return worst;
}

}  // namespace

PatternPicture rotatePicture(const PatternPicture& picture, int quarterTurns) {
    PatternPicture turned = picture;
    for (int t = 0; t < ((quarterTurns % 4) + 4) % 4; t++) {
        const PatternPicture source = turned;
        for (int r = 0; r < 16; r++)
            for (int c = 0; c < 16; c++)
                for (int k = 0; k < 3; k++) turned.value[r][c][k] = source.value[c][15 - r][k];
    }
    return turned;
}

double pictureCorrelation(const PatternPicture& a, const PatternPicture& b) {
    const unsigned char* pa = &a.value[0][0][0];
    const unsigned char* pb = &b.value[0][0][0];
    double meanA = 0.0, meanB = 0.0;
    for (int n = 0; n < 768; n++) {
        meanA += pa[n];
        meanB += pb[n];
    }
    meanA /= 768.0;
    meanB /= 768.0;
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (int n = 0; n < 768; n++) {
        ab += (pa[n] - meanA) * (pb[n] - meanB);
        aa += (pa[n] - meanA) * (pa[n] - meanA);
        bb += (pb[n] - meanB) * (pb[n] - meanB);
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

PatternPicture makePatternPicture(int index) {
    // Each design must stay well apart from its own turns and from every earlier design.
    // Design k is searched from seed 1000 k on, so it is the same whatever designs the
    // tests asked for before (their order differs between platforms).
    static std::vector<PatternPicture> designs;
    while (static_cast<int>(designs.size()) <= index) {
        for (uint32_t seed = static_cast<uint32_t>(designs.size()) * 1000u;; seed++) {
            const PatternPicture candidate = blockyPicture(seed);
            bool distinct = maxCorrelationOverTurns(candidate, candidate, 1) < 0.15;
            for (const PatternPicture& earlier : designs)
                distinct = distinct && maxCorrelationOverTurns(candidate, earlier, 0) < 0.35;
            if (distinct) {
                designs.push_back(candidate);
                break;
            }
        }
    }
    return designs[index];
}

void writePatternFile(const std::string& path, const PatternPicture& picture) {
    std::ofstream out(path);
    for (int o = 0; o < 4; o++) {
        const PatternPicture block = rotatePicture(picture, o);
        for (int k = 0; k < 3; k++) {
            for (int r = 0; r < 16; r++) {
                for (int c = 0; c < 16; c++) out << ' ' << static_cast<int>(block.value[r][c][k]);
                out << '\n';
            }
        }
        out << '\n';
    }
}

void writeTextFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

void drawMarker(TestFrame& frame, const std::vector<Point2>& corners, const PatternPicture& picture) {
    // Unit square (u, v) -> image, as a projective map [a b c; d e f; g h 1].
    const double x0 = corners[0].x, y0 = corners[0].y, x1 = corners[1].x, y1 = corners[1].y;
    const double x2 = corners[2].x, y2 = corners[2].y, x3 = corners[3].x, y3 = corners[3].y;
    const double dx1 = x1 - x2, dx2 = x3 - x2, dx3 = x0 - x1 + x2 - x3;
    const double dy1 = y1 - y2, dy2 = y3 - y2, dy3 = y0 - y1 + y2 - y3;
    const double den = dx1 * dy2 - dx2 * dy1;
    const double g = (dx3 * dy2 - dx2 * dy3) / den, h = (dx1 * dy3 - dx3 * dy1) / den;
    const double m[3][3] = {
        {x1 - x0 + g * x1, x3 - x0 + h * x3, x0}, {y1 - y0 + g * y1, y3 - y0 + h * y3, y0}, {g, h, 1.0}};
    // Its inverse through the adjugate (the scale does not matter).
    const double inv[3][3] = {{m[1][1] * m[2][2] - m[1][2] * m[2][1], m[0][2] * m[2][1] - m[0][1] * m[2][2],
                               m[0][1] * m[1][2] - m[0][2] * m[1][1]},
                              {m[1][2] * m[2][0] - m[1][0] * m[2][2], m[0][0] * m[2][2] - m[0][2] * m[2][0],
                               m[0][2] * m[1][0] - m[0][0] * m[1][2]},
                              {m[1][0] * m[2][1] - m[1][1] * m[2][0], m[0][1] * m[2][0] - m[0][0] * m[2][1],
                               m[0][0] * m[1][1] - m[0][1] * m[1][0]}};
    const double xs[4] = {x0, x1, x2, x3}, ys[4] = {y0, y1, y2, y3};
    const int left = std::max(0, static_cast<int>(std::floor(*std::min_element(xs, xs + 4))));
    const int right = std::min(frame.width - 1, static_cast<int>(std::ceil(*std::max_element(xs, xs + 4))));
    const int top = std::max(0, static_cast<int>(std::floor(*std::min_element(ys, ys + 4))));
    const int bottom = std::min(frame.height - 1, static_cast<int>(std::ceil(*std::max_element(ys, ys + 4))));
    for (int y = top; y <= bottom; y++) {
        for (int x = left; x <= right; x++) {
            const double px = x, py = y;
            const double w = inv[2][0] * px + inv[2][1] * py + inv[2][2];
            const double u = (inv[0][0] * px + inv[0][1] * py + inv[0][2]) / w;
            const double v = (inv[1][0] * px + inv[1][1] * py + inv[1][2]) / w;
            if (!(u >= 0.0 && u < 1.0 && v >= 0.0 && v < 1.0)) continue;
            uint8_t* pixel = frame.pixel(x, y);
            const bool inside = u >= 0.25 && u < 0.75 && v >= 0.25 && v < 0.75;
            for (int k = 0; k < 3; k++)
                pixel[k] =
                    inside ? picture.value[static_cast<int>((v - 0.25) * 32)][static_cast<int>((u - 0.25) * 32)][k] : 0;
        }
    }
}
